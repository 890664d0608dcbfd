// The block decoder: the bit stream back to dequantised coefficients, through
// the code lookup tables.
#include "entropy/block_decoder.h"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "coefficients.h"
#include "entropy/huffman.h"
#include "entropy/kernels.h"
#include "entropy/symbols.h"
#include "kernel_table.h"
#include "streams.h"

// The decoding loops must be inlined whole into each entry (see DecodeRaw).
#if defined(__GNUC__)
#define PLIX_ALWAYS_INLINE [[gnu::always_inline]]
#define PLIX_ALWAYS_INLINE_LAMBDA __attribute__((always_inline))
#define PLIX_NOINLINE [[gnu::noinline]]
#else
#define PLIX_NOINLINE
#define PLIX_ALWAYS_INLINE_LAMBDA
#define PLIX_ALWAYS_INLINE
#endif

#if (defined(__x86_64__) || defined(_M_X64)) && defined(__GNUC__)
#define PLIX_BMI2_DECODER 1
#else
#define PLIX_BMI2_DECODER 0
#endif

namespace plix {

namespace {

PLIX_ALWAYS_INLINE inline int32_t Dequantise(uint32_t v, int32_t q) {
    const int32_t product = static_cast<int32_t>(v * static_cast<uint32_t>(q));
    return std::clamp(product, -256, 255);
}

}  // namespace

namespace {

// The reader's bit buffer held in registers for the length of one block.
class BitSource {
public:
    // Takes the reader's state; the decoder refills before each block.
    explicit BitSource(StreamReader &r) : r_(r), c_(r.TakeBits()) {}
    void Finish() { r_.PutBits(c_); }

    // At least 57 bits buffered afterwards. The reader's own refill may hand
    // over a full 64 bits, and a whole-word shift by 64 is undefined: nothing
    // to add then.
    void Refill() {
        if (c_.count > 56) return;
        if (c_.Roomy()) {
            c_.Load();
        } else {
            // Near the end of a chunk or of the data: the reader's own path,
            // which also supplies the filler past the end.
            r_.PutBits(c_);
            r_.Refill();
            c_ = r_.TakeBits();
        }
    }
    // Refill for a source with at least 8 bytes left in its chunk.
    void RefillRoomy() {
        if (c_.count > 56) return;
        c_.Load();
    }
    // The same without the test, for at most 63 bits buffered: from 57 on,
    // the word ORed in brings only bits the buffer already holds.
    void RefillRoomyBelow64() { c_.Load(); }
    // Bytes left in the current chunk.
    ptrdiff_t Room() const { return c_.end - c_.cur; }
    const uint8_t *Cur() const { return c_.cur; }
    // Top n bits, n from 1 to 32.
    uint32_t Peek(int n) const { return static_cast<uint32_t>(c_.bits >> (64 - n)); }
    // The n bits (0 to 32, 0 giving 0) after the first skip bits.
    uint32_t PeekOrZeroAfter(int skip, int n) const {
        return static_cast<uint32_t>(((c_.bits << skip) >> 1) >> (63 - n));
    }
    void Skip(int n) {
        c_.bits <<= n;
        c_.count -= n;
    }
    // The buffered bits and their count, to go back to them while no refill
    // came between.
    uint64_t Bits() const { return c_.bits; }
    int Count() const { return c_.count; }
    void Restore(uint64_t bits, int count) {
        c_.bits = bits;
        c_.count = count;
    }

private:
    StreamReader &r_;
    StreamReader::BitCursor c_;
};

// Sixteen plain stores: written as a loop, the compiler turns this into a
// string instruction whose start-up costs more than the stores.
template <size_t... I>
PLIX_ALWAYS_INLINE inline void ClearBlock(int32_t *block, std::index_sequence<I...>) {
    ((block[4 * I] = block[4 * I + 1] = block[4 * I + 2] = block[4 * I + 3] = 0), ...);
}

// The product of a value and a table entry, modulo 2^32, left for the
// inverse kernel to limit.
int32_t Product(uint32_t v, int32_t q) {
    return static_cast<int32_t>(v * static_cast<uint32_t>(q));
}

// Stores value v of position pos (in natural order when zigzagQ is not set).
template <bool zigzagQ, bool raw>
PLIX_ALWAYS_INLINE inline void Put(int32_t *__restrict block, const int32_t *__restrict q,
                                   size_t pos, uint32_t v) {
    const int32_t m = zigzagQ ? q[pos] : q[kHuffmanTables.positionSlots[pos]];
    block[kHuffmanTables.positionSlots[pos]] = raw ? Product(v, m) : Dequantise(v, m);
}

struct BitState {
    uint64_t bits;
    int count;
};

// The block's end inside a table entry in a way the entry does not tell (a
// run past the end, a full block before its second symbol, a value that did
// not fit): from the entry's start at position p, one symbol at a time. What
// the entry covers is buffered (at most 20 bits). Out of line, so that the
// decoding loop keeps its state in registers.
template <bool zigzagQ, bool raw>
PLIX_NOINLINE BitState FinishSlowly(BitState in, unsigned p, int cls, int32_t *__restrict block,
                                    const int32_t *__restrict q) {
    const uint16_t *codes = kHuffmanTables.lookup[HuffmanArray(cls, true)];
    const auto take = [&](int n) {
        in.bits <<= n;
        in.count -= n;
    };
    for (;;) {
        const uint16_t c = codes[in.bits >> (64 - kMaxCodeLength)];
        take(c >> 8);
        const int symbol = c & 0xFF;
        if (symbol == kEndOfBlock) return in;
        p += symbol == kZeroRun16 ? 15 : static_cast<unsigned>(symbol >> 4);
        if (p > 63) return in;  // its value bits are not read
        const int size = symbol == kZeroRun16 ? 0 : symbol & 15;
        Put<zigzagQ, raw>(block, q, p,
                          ExtendOrZero(static_cast<uint32_t>((in.bits >> 1) >> (63 - size)), size));
        take(size);
        if (++p > 63) return in;
    }
}

// One block, the source held by the caller. q is in zigzag order with
// kZigzagQuantEntries entries when zigzagQ is set (which spares the loop a
// load that waits for the position), else in natural order. Raw: entries
// 1..63 are left unlimited (Product), and when the first AC symbol ends the
// block, entries 1..63 are left as they were and the result is true.
// Otherwise the result is false.
// Roomy: the chunk holds at least kBlockBytes more than the block takes, so
// the refills need not look for its end.
// Refills, then takes the DC: at most 9 code bits and 31 value bits, within
// one refill, taken in one shift. Returns the new predictor.
template <bool roomy, bool below64 = false>
PLIX_ALWAYS_INLINE inline uint32_t RefillAndTakeDc(BitSource &in, int cls, int32_t &predictor) {
    if (roomy && below64)
        in.RefillRoomyBelow64();
    else if (roomy)
        in.RefillRoomy();
    else
        in.Refill();
    const uint32_t dcEntry = kHuffmanTables.dcLookup[cls][in.Peek(kDcLookupBits)];
    const int codeLength = static_cast<int>(dcEntry >> 8);
    // Without a branch on the category, which is close to random.
    const int s = static_cast<int>(dcEntry & 0xFF);
    const uint32_t diff = ExtendOrZero(in.PeekOrZeroAfter(codeLength, s), s);
    in.Skip(codeLength + s);
    const uint32_t dc = static_cast<uint32_t>(predictor) + diff;
    predictor = static_cast<int32_t>(dc);
    return dc;
}

template <bool zigzagQ, bool raw = false, bool roomy = false, bool below64 = false>
PLIX_ALWAYS_INLINE inline bool DecodeFrom(BitSource &in, int32_t *__restrict block,
                                          const int32_t *__restrict q, int cls,
                                          int32_t &predictor) {
    cls &= 1;
    const uint32_t dc = RefillAndTakeDc<roomy, below64>(in, cls, predictor);
    const int32_t dcOut = Dequantise(dc, q[0]);
    const uint32_t *table = kHuffmanTables.acPairs[cls];
    if (raw) {
        // At least 17 bits are left after the DC. A block without AC
        // coefficients, common at low qualities, is not cleared.
        const uint32_t e = table[in.Peek(kMaxCodeLength)];
        if ((e >> kAcRunShift) == kAcLoneEnd) {
            in.Skip(static_cast<int>(e & kAcSkipMask));
            block[0] = dcOut;
            return true;
        }
    }
    // Positions without a coefficient stay 0, which dequantises to 0.
    ClearBlock(block, std::make_index_sequence<16>());

    const auto put = [&](size_t pos, uint32_t v)
                         PLIX_ALWAYS_INLINE_LAMBDA { Put<zigzagQ, raw>(block, q, pos, v); };

    // AC: one entry takes at most 12 bits, or 20 with a value that did not
    // fit, which refills first; so one refill serves four entries.
    size_t p = 1;
    // One entry; false when the block is complete.
    const auto step = [&]() PLIX_ALWAYS_INLINE_LAMBDA {
        const uint64_t startBits = in.Bits();
        const int startCount = in.Count();
        const uint32_t e = table[in.Peek(kMaxCodeLength)];
        in.Skip(static_cast<int>(e & kAcSkipMask));
        const size_t run = (e >> kAcRunShift) & 15;
        const size_t start = p;
        const size_t first = p + run;
        p += (e >> kAcAdvanceShift) & 127;
        // The second value sits just before the new position. For a lone
        // symbol both are the same, and the first value is the one that stays.
        put(p - 1, static_cast<uint32_t>(static_cast<int32_t>(e << 7) >> kAcFirstShift));
        put(first, static_cast<uint32_t>(static_cast<int32_t>(e) >> kAcFirstShift));
        if (p >= 64) {
            // Told: a lone end of block; a value and the end of block with
            // room for the end; a value that fills the block, alone or second.
            const bool endsBlock = p - start - run > kAcEndAdvance;
            const bool told = (e >> kAcRunShift) == kAcLoneEnd ||
                              ((e & kAcSlow) == 0 && (endsBlock ? first < 63 : p == 64));
            if (!told) {
                const BitState end = FinishSlowly<zigzagQ, raw>(
                    {startBits, startCount}, static_cast<unsigned>(start), cls, block, q);
                in.Restore(end.bits, end.count);
            }
            return false;
        }
        if (e & kAcSlow) {
            if (roomy)
                in.RefillRoomyBelow64();
            else
                in.Refill();
            const int size = static_cast<int>((e >> kAcSecondShift) & 15);
            put(first, Extend(in.Peek(size), size));
            in.Skip(size);
        }
        return true;
    };
    // Every entry takes at least one bit, so from here on at most 63 are
    // buffered.
    do {
        if (roomy)
            in.RefillRoomyBelow64();
        else
            in.Refill();
    } while (step() && step() && step() && step());
    block[0] = dcOut;
    return false;
}

// Most bytes one block can take: a DC of 9 + 31 bits and 63 AC symbols of
// 12 + 15 bits, and the 8 bytes of a load.
constexpr ptrdiff_t kBlockBytes = (40 + 63 * 27 + 7) / 8 + 8;

}  // namespace

void DecodeBlock(StreamReader &r, int32_t *__restrict block, const int32_t *__restrict q, int cls,
                 int32_t &predictor) {
    BitSource in(r);
    DecodeFrom<false>(in, block, q, cls, predictor);
    in.Finish();
}

void ZigzagQuant(const int32_t natural[64], int32_t zigzag[kZigzagQuantEntries]) {
    for (int i = 0; i < 64; ++i) zigzag[i] = natural[ZigzagOrder[i]];
    for (int i = 64; i < kZigzagQuantEntries; ++i) zigzag[i] = 0;
}

void DecodePositions(StreamReader &r, int32_t (*__restrict blocks)[64], int positions,
                     const int32_t *__restrict luma, const int32_t *__restrict chroma,
                     int32_t predictors[3]) {
    // The bit buffer stays in registers from the first block to the last.
    BitSource in(r);
    for (int i = 0; i < positions; ++i) {
        DecodeFrom<true>(in, blocks[3 * i], luma, 0, predictors[0]);
        DecodeFrom<true>(in, blocks[3 * i + 1], chroma, 1, predictors[1]);
        DecodeFrom<true>(in, blocks[3 * i + 2], chroma, 1, predictors[2]);
    }
    in.Finish();
}

namespace {

// below64: fewer than 64 bits buffered at the start (as after any entry), so
// that no block's first refill needs a test, which is as good as random.
template <bool roomy, bool below64>
PLIX_ALWAYS_INLINE inline uint32_t DecodeRawFrom(BitSource &in, int32_t (*__restrict blocks)[64],
                                                 int positions, const int32_t *__restrict luma,
                                                 const int32_t *__restrict chroma,
                                                 int32_t predictors[3]) {
    uint32_t dcOnly = 0;
    for (int i = 0; i < positions; ++i) {
        dcOnly |= static_cast<uint32_t>(DecodeFrom<true, true, roomy, below64>(
                      in, blocks[3 * i], luma, 0, predictors[0]))
                  << (3 * i);
        dcOnly |= static_cast<uint32_t>(DecodeFrom<true, true, roomy, below64>(
                      in, blocks[3 * i + 1], chroma, 1, predictors[1]))
                  << (3 * i + 1);
        dcOnly |= static_cast<uint32_t>(DecodeFrom<true, true, roomy, below64>(
                      in, blocks[3 * i + 2], chroma, 1, predictors[2]))
                  << (3 * i + 2);
    }
    return dcOnly;
}

// The body of DecodePositionsRaw, one copy for each instruction set (so
// nothing in it may be left to an outlined call).
PLIX_ALWAYS_INLINE
inline uint32_t DecodeRaw(StreamReader &r, int32_t (*__restrict blocks)[64], int positions,
                          const int32_t *__restrict luma, const int32_t *__restrict chroma,
                          int32_t predictors[3]) {
    BitSource in(r);
    // Away from the end of the chunk, which is nearly always, the refills
    // need no test for it.
    const uint32_t dcOnly =
        in.Room() < kBlockBytes * 3 * positions
            ? DecodeRawFrom<false, false>(in, blocks, positions, luma, chroma, predictors)
        : in.Count() < 64
            ? DecodeRawFrom<true, true>(in, blocks, positions, luma, chroma, predictors)
            : DecodeRawFrom<true, false>(in, blocks, positions, luma, chroma, predictors);
    in.Finish();
    return dcOnly;
}

using KeepFn = size_t (*)(const int32_t (*)[64], uint32_t, uint64_t *, int16_t *);

// The loop of KeepPositions, one copy for each instruction set, as DecodeRaw.
PLIX_ALWAYS_INLINE
inline size_t KeepLoop(StreamReader &r, int32_t predictors[3], uint64_t base, uint64_t stop,
                       PositionNote *out, KeptPosition *kept, size_t cap, int16_t *values,
                       size_t &used, size_t room, const int32_t *__restrict luma,
                       const int32_t *__restrict chroma, KeepFn keep) {
    alignas(64) int32_t blocks[3][64];
    int32_t p[3] = {predictors[0], predictors[1], predictors[2]};
    size_t n = 0;
    size_t u = used;
    const auto one = [&](uint64_t at, uint32_t dcOnly) PLIX_ALWAYS_INLINE_LAMBDA {
        kept[n].first = u;
        u += keep(blocks, dcOnly, kept[n].masks, values + u);
        out[n++] = PositionNote{at, {p[0], p[1], p[2]}};
    };
    while (n < cap && u + kPositionKeptValues <= room) {
        // Away from the chunk's end, the bits taken follow from the cursor.
        {
            const uint64_t taken = base + r.BitsTaken();
            BitSource in(r);
            const uint8_t *cur0 = in.Cur();
            const int count0 = in.Count();
            while (n < cap && u + kPositionKeptValues <= room && in.Room() >= 3 * kBlockBytes) {
                const uint64_t at = taken + static_cast<uint64_t>(in.Cur() - cur0) * 8 +
                                    static_cast<uint64_t>(count0) - static_cast<uint64_t>(in.Count());
                if (at >= stop) break;
                const uint32_t dcOnly =
                    in.Count() < 64 ? DecodeRawFrom<true, true>(in, blocks, 1, luma, chroma, p)
                                    : DecodeRawFrom<true, false>(in, blocks, 1, luma, chroma, p);
                one(at, dcOnly);
            }
            in.Finish();
        }
        if (n >= cap || u + kPositionKeptValues > room) break;
        const uint64_t at = base + r.BitsTaken();
        if (at >= stop) break;
        BitSource in(r);
        if (in.Room() >= 3 * kBlockBytes) continue;
        const uint32_t dcOnly = DecodeRawFrom<false, false>(in, blocks, 1, luma, chroma, p);
        in.Finish();
        one(at, dcOnly);
    }
    for (int c = 0; c < 3; ++c) predictors[c] = p[c];
    used = u;
    return n;
}

#if PLIX_BMI2_DECODER
// Shifts by a register amount without the flags dependence of the plain
// ones: the bit buffer's shift is on the path from one symbol to the next.
__attribute__((target("bmi2"))) uint32_t DecodeRawBmi2(
    StreamReader &r, int32_t (*__restrict blocks)[64], int positions,
    const int32_t *__restrict luma, const int32_t *__restrict chroma, int32_t predictors[3]) {
    return DecodeRaw(r, blocks, positions, luma, chroma, predictors);
}

__attribute__((target("bmi2"))) size_t KeepPositionsBmi2(
    StreamReader &r, int32_t predictors[3], uint64_t base, uint64_t stop, PositionNote *out,
    KeptPosition *kept, size_t cap, int16_t *values, size_t &used, size_t room,
    const int32_t *luma, const int32_t *chroma, KeepFn keep) {
    return KeepLoop(r, predictors, base, stop, out, kept, cap, values, used, room, luma, chroma,
                    keep);
}
#endif

}  // namespace

size_t KeepPositions(StreamReader &r, int32_t predictors[3], uint64_t base, uint64_t stop,
                     PositionNote *out, KeptPosition *kept, size_t cap, int16_t *values,
                     size_t &used, size_t room, const int32_t *luma, const int32_t *chroma,
                     KeepFn keep) {
    return KeepLoop(r, predictors, base, stop, out, kept, cap, values, used, room, luma, chroma,
                    keep);
}

uint32_t DecodePositionsRaw(StreamReader &r, int32_t (*__restrict blocks)[64], int positions,
                            const int32_t *__restrict luma, const int32_t *__restrict chroma,
                            int32_t predictors[3]) {
    return DecodeRaw(r, blocks, positions, luma, chroma, predictors);
}

size_t KeepPosition(const int32_t (*blocks)[64], uint32_t dcOnly, uint64_t masks[3],
                    int16_t *values) {
    size_t n = 0;
    for (int c = 0; c < 3; ++c) {
        uint64_t mask = 0;
        if (!(dcOnly >> c & 1))
            for (int i = 1; i < 64; ++i)
                if (blocks[c][i] != 0) {
                    mask |= uint64_t{1} << i;
                    values[n++] = static_cast<int16_t>(std::clamp(blocks[c][i], -32768, 32767));
                }
        masks[c] = mask;
    }
    return n;
}

size_t RestoreBlock(uint64_t mask, const int16_t *values, int32_t block[64]) {
    size_t n = 0;
    for (int i = 0; i < 64; ++i) block[i] = mask >> i & 1 ? values[n++] : 0;
    return n;
}

void InstallBmi2Kernels(Dsp &dsp) {
#if PLIX_BMI2_DECODER
    dsp.decodePositionsRaw = DecodeRawBmi2;
    dsp.keepPositions = KeepPositionsBmi2;
#else
    (void)dsp;
#endif
}

}  // namespace plix

namespace plix {

namespace {

// For reading codes alone, AC arrays by class indexed by the next 12 bits:
// every whole symbol whose code lies within them (to an end of block), with
// its value bits. Entry: bits 0..5 the bits all take (at most 11 + 1 + 15),
// bits 8..15 the positions they advance by plus 64 for an end of block,
// bits 16..23 the same without the 64.
struct SkipTables {
    uint32_t ac[2][1 << kMaxCodeLength];
};

// The advance and value bits of AC symbol s (not an end of block), as
// FinishSlowly reads it.
constexpr unsigned SymbolRun(int s) { return s == kZeroRun16 ? 15u : static_cast<unsigned>(s >> 4); }
constexpr int SymbolSize(int s) { return s == kZeroRun16 ? 0 : s & 15; }

const SkipTables &GetSkipTables() {
    static const SkipTables tables = [] {
        SkipTables t{};
        for (int cls = 0; cls < 2; ++cls) {
            const uint16_t *codes = kHuffmanTables.lookup[HuffmanArray(cls, true)];
            for (uint32_t w = 0; w < (1u << kMaxCodeLength); ++w) {
                int at = 0;
                unsigned advance = 0;
                bool end = false;
                while (at < kMaxCodeLength && advance < 64) {
                    const uint16_t c = codes[(w << at) & ((1u << kMaxCodeLength) - 1)];
                    const int length = c >> 8;
                    if (at + length > kMaxCodeLength) break;  // bits past the window
                    const int symbol = c & 0xFF;
                    at += length;
                    if (symbol == kEndOfBlock) {
                        end = true;
                        break;
                    }
                    at += SymbolSize(symbol);
                    advance += SymbolRun(symbol) + 1;
                }
                t.ac[cls][w] = static_cast<uint32_t>(at) | ((advance + (end ? 64u : 0u)) << 8) |
                               (advance << 16);
            }
        }
        return t;
    }();
    return tables;
}

// The end of a block within entry e from position p: symbol by symbol, as
// FinishSlowly. Whatever it reads lies within the entry's bits, which are
// buffered.
PLIX_NOINLINE BitState SkipSlowly(BitState in, unsigned p, int cls) {
    const uint16_t *codes = kHuffmanTables.lookup[HuffmanArray(cls, true)];
    for (;;) {
        const uint16_t c = codes[in.bits >> (64 - kMaxCodeLength)];
        in.bits <<= c >> 8;
        in.count -= c >> 8;
        const int symbol = c & 0xFF;
        if (symbol == kEndOfBlock) return in;
        p += SymbolRun(symbol);
        if (p > 63) return in;
        in.bits <<= SymbolSize(symbol);
        in.count -= SymbolSize(symbol);
        if (++p > 63) return in;
    }
}

template <bool roomy, bool below64>
PLIX_ALWAYS_INLINE inline void SkipBlock(BitSource &in, const uint32_t *__restrict table, int cls,
                                         int32_t &predictor) {
    RefillAndTakeDc<roomy, below64>(in, cls, predictor);
    // An entry takes at most 27 bits: two a refill.
    unsigned p = 1;
    uint32_t e;
    for (;;) {
        if (roomy)
            in.RefillRoomyBelow64();
        else
            in.Refill();
        e = table[in.Peek(kMaxCodeLength)];
        if (p + ((e >> 8) & 255) >= 64) break;
        in.Skip(static_cast<int>(e & 63));
        p += (e >> 8) & 255;
        e = table[in.Peek(kMaxCodeLength)];
        if (p + ((e >> 8) & 255) >= 64) break;
        in.Skip(static_cast<int>(e & 63));
        p += (e >> 8) & 255;
    }
    const unsigned before = e >> 16;
    if (((e >> 8) & 255) != before && p + before <= 63) {
        in.Skip(static_cast<int>(e & 63));  // ends with its end of block
        return;
    }
    const BitState end = SkipSlowly({in.Bits(), in.Count()}, p, cls);
    in.Restore(end.bits, end.count);
}

// below64: fewer than 64 bits buffered (as after any entry), so that the
// first refill needs no test, which is as good as random.
template <bool roomy, bool below64>
PLIX_ALWAYS_INLINE inline void SkipPosition(BitSource &in, const SkipTables &t,
                                            int32_t predictors[3]) {
    SkipBlock<roomy, below64>(in, t.ac[0], 0, predictors[0]);
    SkipBlock<roomy, roomy>(in, t.ac[1], 1, predictors[1]);
    SkipBlock<roomy, roomy>(in, t.ac[1], 1, predictors[2]);
}

}  // namespace

size_t ScanPositions(StreamReader &r, int32_t predictors[3], uint64_t base, uint64_t stop,
                     PositionNote *out, size_t cap) {
    const SkipTables &t = GetSkipTables();
    int32_t p[3] = {predictors[0], predictors[1], predictors[2]};
    size_t n = 0;
    while (n < cap) {
        // Away from the chunk's end, the bits taken follow from the cursor.
        {
            const uint64_t taken = base + r.BitsTaken();
            BitSource in(r);
            const uint8_t *cur0 = in.Cur();
            const int count0 = in.Count();
            for (; n < cap && in.Room() >= 3 * kBlockBytes; ++n) {
                const uint64_t at = taken + static_cast<uint64_t>(in.Cur() - cur0) * 8 + static_cast<uint64_t>(count0) -
                                    static_cast<uint64_t>(in.Count());
                if (at >= stop) break;
                if (in.Count() < 64)
                    SkipPosition<true, true>(in, t, p);
                else
                    SkipPosition<true, false>(in, t, p);
                out[n] = PositionNote{at, {p[0], p[1], p[2]}};
            }
            in.Finish();
        }
        if (n >= cap) break;
        const uint64_t at = base + r.BitsTaken();
        if (at >= stop) break;
        BitSource in(r);
        if (in.Room() >= 3 * kBlockBytes) continue;
        SkipPosition<false, false>(in, t, p);
        in.Finish();
        out[n++] = PositionNote{at, {p[0], p[1], p[2]}};
    }
    for (int c = 0; c < 3; ++c) predictors[c] = p[c];
    return n;
}

}  // namespace plix
