// The block decoder: the bit stream back to dequantised coefficients, through
// the code lookup tables.
#include "entropy/block_decoder.h"

#include <algorithm>
#include <cstddef>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "coefficients.h"
#include "entropy/huffman.h"
#include "entropy/symbols.h"
#include "streams.h"
#include "transform/dsp.h"

// The decoding loops must be inlined whole into each entry (see DecodeRaw).
#if defined(__GNUC__)
#define PLIX_ALWAYS_INLINE [[gnu::always_inline]]
#else
#define PLIX_ALWAYS_INLINE
#endif

#if (defined(__x86_64__) || defined(_M_X64)) && defined(__GNUC__)
#define PLIX_BMI2_DECODER 1
#else
#define PLIX_BMI2_DECODER 0
#endif

namespace plix {

namespace {

int32_t Dequantise(uint32_t v, int32_t q) {
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
    // Top n bits, n from 1 to 32.
    uint32_t Peek(int n) const { return static_cast<uint32_t>(c_.bits >> (64 - n)); }
    // The same for n from 0 to 32, 0 giving 0.
    uint32_t PeekOrZero(int n) const { return static_cast<uint32_t>((c_.bits >> 1) >> (63 - n)); }
    void Skip(int n) {
        c_.bits <<= n;
        c_.count -= n;
    }

private:
    StreamReader &r_;
    StreamReader::BitCursor c_;
};

// Sixteen plain stores: written as a loop, the compiler turns this into a
// string instruction whose start-up costs more than the stores.
template <size_t... I>
void ClearBlock(int32_t *block, std::index_sequence<I...>) {
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    (_mm_storeu_si128(reinterpret_cast<__m128i *>(block) + I, zero), ...);
#else
    ((block[4 * I] = block[4 * I + 1] = block[4 * I + 2] = block[4 * I + 3] = 0), ...);
#endif
}

// The product of a value and a table entry, modulo 2^32, left for the
// inverse kernel to limit.
int32_t Product(uint32_t v, int32_t q) {
    return static_cast<int32_t>(v * static_cast<uint32_t>(q));
}

// One block, the source held by the caller. q is in zigzag order when
// zigzagQ is set (which spares the loop a load that waits for the position),
// else in natural order. Raw: entries 1..63 are left unlimited (Product), and
// when the first AC symbol ends the block, entries 1..63 are left as they
// were and the result is true. Otherwise the result is false.
// Roomy: the chunk holds at least kBlockBytes more than the block takes, so
// the refills need not look for its end.
template <bool zigzagQ, bool raw = false, bool roomy = false>
PLIX_ALWAYS_INLINE inline bool DecodeFrom(BitSource &in, int32_t *__restrict block,
                                          const int32_t *__restrict q, int cls,
                                          int32_t &predictor) {
    cls &= 1;
    if (roomy)
        in.RefillRoomy();
    else
        in.Refill();
    // Positions without a coefficient stay 0, which dequantises to 0.
    if (!raw) ClearBlock(block, std::make_index_sequence<16>());

    // DC: at most 9 code bits and 31 value bits, within one refill.
    const uint32_t dcEntry = kHuffmanTables.dcLookup[cls][in.Peek(kDcLookupBits)];
    in.Skip(static_cast<int>(dcEntry >> 8));
    // Without a branch on the category, which is close to random.
    const int s = static_cast<int>(dcEntry & 0xFF);
    const uint32_t diff = ExtendOrZero(in.PeekOrZero(s), s);
    in.Skip(s);
    const uint32_t dc = static_cast<uint32_t>(predictor) + diff;
    predictor = static_cast<int32_t>(dc);
    const uint32_t *acLookup = kHuffmanTables.acLookup[cls];
    if (raw) {
        // At least 17 bits are left after the DC. A block without AC
        // coefficients, common at low qualities, is not cleared.
        const uint32_t e = acLookup[in.Peek(kMaxCodeLength)];
        if (1 + ((e >> 13) & 63) > 63) {
            in.Skip(static_cast<int>((e >> 5) & 15));
            block[0] = Dequantise(dc, q[0]);
            return true;
        }
        ClearBlock(block, std::make_index_sequence<16>());
    }
    block[0] = Dequantise(dc, q[0]);

    // AC: each symbol with its value takes at most 12 + 9 bits, so one
    // refill serves two symbols.
    unsigned p = 1;
    // One symbol; false when the block is complete.
    auto step = [&]() {
        const uint32_t e = acLookup[in.Peek(kMaxCodeLength)];
        p += (e >> 13) & 63;
        if (p > 63) {
            // A run past the last position ends the block; its value bits
            // are not read.
            in.Skip(static_cast<int>((e >> 5) & 15));
            return false;
        }
        in.Skip(static_cast<int>(e & 31));
        uint32_t v = static_cast<uint32_t>(static_cast<int32_t>(e) >> 22);
        const int extra = static_cast<int>((e >> 9) & 15);
        if (extra != 0) {
            v = Extend(in.Peek(extra), extra);
            in.Skip(extra);
        }
        const unsigned z = ZigzagOrder[p];
        const int32_t m = zigzagQ ? q[p] : q[z];
        block[z] = raw ? Product(v, m) : Dequantise(v, m);
        return ++p <= 63;
    };
    // Every code takes at least one bit, so from here on at most 63 are
    // buffered.
    do {
        if (roomy)
            in.RefillRoomyBelow64();
        else
            in.Refill();
    } while (step() && step());
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

void ZigzagQuant(const int32_t natural[64], int32_t zigzag[64]) {
    for (int i = 0; i < 64; ++i) zigzag[i] = natural[ZigzagOrder[i]];
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

template <bool roomy>
PLIX_ALWAYS_INLINE inline uint32_t DecodeRawFrom(BitSource &in, int32_t (*__restrict blocks)[64],
                                                 int positions, const int32_t *__restrict luma,
                                                 const int32_t *__restrict chroma,
                                                 int32_t predictors[3]) {
    uint32_t dcOnly = 0;
    for (int i = 0; i < positions; ++i) {
        dcOnly |= static_cast<uint32_t>(
                      DecodeFrom<true, true, roomy>(in, blocks[3 * i], luma, 0, predictors[0]))
                  << (3 * i);
        dcOnly |= static_cast<uint32_t>(DecodeFrom<true, true, roomy>(in, blocks[3 * i + 1], chroma,
                                                                      1, predictors[1]))
                  << (3 * i + 1);
        dcOnly |= static_cast<uint32_t>(DecodeFrom<true, true, roomy>(in, blocks[3 * i + 2], chroma,
                                                                      1, predictors[2]))
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
        in.Room() >= kBlockBytes * 3 * positions
            ? DecodeRawFrom<true>(in, blocks, positions, luma, chroma, predictors)
            : DecodeRawFrom<false>(in, blocks, positions, luma, chroma, predictors);
    in.Finish();
    return dcOnly;
}

#if PLIX_BMI2_DECODER
// Shifts by a register amount without the flags dependence of the plain
// ones: the bit buffer's shift is on the path from one symbol to the next.
__attribute__((target("bmi2"))) uint32_t DecodeRawBmi2(
    StreamReader &r, int32_t (*__restrict blocks)[64], int positions,
    const int32_t *__restrict luma, const int32_t *__restrict chroma, int32_t predictors[3]) {
    return DecodeRaw(r, blocks, positions, luma, chroma, predictors);
}
#endif

}  // namespace

uint32_t DecodePositionsRaw(StreamReader &r, int32_t (*__restrict blocks)[64], int positions,
                            const int32_t *__restrict luma, const int32_t *__restrict chroma,
                            int32_t predictors[3]) {
    return DecodeRaw(r, blocks, positions, luma, chroma, predictors);
}

void InstallBmi2Kernels(Dsp &dsp) {
#if PLIX_BMI2_DECODER
    dsp.decodePositionsRaw = DecodeRawBmi2;
#else
    (void)dsp;
#endif
}

void DecodeBlockReference(StreamReader &r, int32_t block[64], const int32_t q[64], int cls,
                          int32_t &predictor) {
    cls &= 1;
    const int s = DecodeSymbol(r, cls, false);
    const int32_t diff = r.ReadSigned(s);
    predictor =
        static_cast<int32_t>(static_cast<uint32_t>(predictor) + static_cast<uint32_t>(diff));
    block[0] = predictor;

    int p = 1;
    while (p <= 63) {
        const int symbol = DecodeSymbol(r, cls, true);
        if (symbol == kEndOfBlock) {
            for (; p <= 63; ++p) block[ZigzagOrder[p]] = 0;
        } else if (symbol == kZeroRun16) {
            for (int k = 0; k < 16 && p <= 63; ++k, ++p) block[ZigzagOrder[p]] = 0;
        } else {
            const int run = symbol >> 4;
            const int size = symbol & 15;
            for (int k = 0; k < run && p <= 63; ++k, ++p) block[ZigzagOrder[p]] = 0;
            if (p > 63) break;
            block[ZigzagOrder[p]] = r.ReadSigned(size);
            ++p;
        }
    }

    for (int i = 0; i < 64; ++i) block[i] = Dequantise(static_cast<uint32_t>(block[i]), q[i]);
}

}  // namespace plix
