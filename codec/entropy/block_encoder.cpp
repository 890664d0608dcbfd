// The block encoder: quantised coefficients to DC difference and AC run/size
// symbols, through the fixed code tables into the bit writer.
#include "entropy/block_encoder.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>

#include "coefficients.h"
#include "entropy/huffman.h"
#include "entropy/kernels.h"
#include "entropy/prepared_coder.h"
#include "entropy/symbols.h"
#include "platform/byte_order.h"
#include "streams.h"

namespace plix {

int MagnitudeCategory(int32_t v) {
    return std::bit_width(Magnitude(v));
}

void WriteValueBits(StreamWriter &w, int32_t v, int n) {
    if (n <= 0) return;
    w.WriteBits(ValueBits(v), n > 32 ? 32 : n);
}

namespace {

// Codes one block into a packer: straight into the writer's buffer while it
// has room for a whole block, else into a local buffer that is handed over
// afterwards. code(BitPacker &) returns false to leave the writer as it was.
template <class Code>
bool CodeBlock(StreamWriter &w, Code code) {
    const StreamWriter::ByteCursor start = w.TakeBytes();
    const bool direct = start.limit - start.out >= kBlockRoom;
    uint8_t local[kBlockRoom];
    if (!direct) w.PutBytes(start);
    BitPacker out(direct ? start.out : local, direct ? start.bits : 0, direct ? start.count : 0);
    const bool done = code(out);
    if (direct) {
        w.PutBytes(done ? out.Cursor(start.limit) : start);
    } else if (done) {
        for (const uint8_t *p = local; p < out.out(); ++p) w.WriteBits(*p, 8);
        if (out.count() > 0)
            w.WriteBits(static_cast<uint32_t>(out.bits() >> (64 - out.count())), out.count());
    }
    return done;
}

// Bit i of the result for each natural position i whose entry is not 0. The
// compares go to bytes, which the compiler does as vector compares and packs;
// a multiply then gathers a row's eight bytes (0 or 1) into eight bits.
uint64_t NonZeroNatural(const int32_t *block) {
    uint8_t nonZero[64];
    for (int i = 0; i < 64; ++i) nonZero[i] = block[i] != 0;
    uint64_t mask = 0;
    for (int r = 0; r < 8; ++r) {
        uint64_t row = 0;
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(&row, nonZero + 8 * r, 8);
        } else {
            for (int c = 0; c < 8; ++c) row |= uint64_t{nonZero[8 * r + c]} << (8 * c);
        }
        mask |= ((row * 0x0102040810204080ull) >> 56) << (8 * r);
    }
    return mask;
}

// For each row and each pattern of non-zero entries in it, the zigzag
// positions of those entries as bits.
struct ZigzagBits {
    uint64_t rows[8][256];
};

constexpr ZigzagBits BuildZigzagBits() {
    ZigzagBits t{};
    int position[64] = {};
    for (int i = 0; i < 64; ++i) position[ZigzagOrder[i]] = i;
    for (int r = 0; r < 8; ++r)
        for (int pattern = 0; pattern < 256; ++pattern)
            for (int c = 0; c < 8; ++c)
                if (pattern & (1 << c)) t.rows[r][pattern] |= uint64_t{1} << position[r * 8 + c];
    return t;
}

constexpr ZigzagBits kZigzagBits = BuildZigzagBits();

// Bit i set for each non-zero zigzag position i, from the natural-order bits.
uint64_t ToZigzag(uint64_t natural) {
    uint64_t bits = 0;
    for (int r = 0; r < 8; ++r) bits |= kZigzagBits.rows[r][(natural >> (8 * r)) & 0xFF];
    return bits;
}

// A prepared block back as coefficients (exact for sizes up to 9).
void Unprepare(const PreparedBlock &b, PreparedOrder order, int32_t block[64]) {
    for (unsigned i = 0; i < 64; ++i) {
        const unsigned at = PreparedIndex(order, i);
        const int n = b.size[at];
        block[ZigzagOrder[i]] = static_cast<int32_t>(ExtendOrZero(b.bits[at], n > 31 ? 31 : n));
    }
    block[0] = b.dc;
}

}  // namespace

void EncodeBlockSymbolsReference(StreamWriter &w, const int32_t block[64], int cls,
                                 int32_t &predictor) {
    cls &= 1;
    const int32_t diff =
        static_cast<int32_t>(static_cast<uint32_t>(block[0]) - static_cast<uint32_t>(predictor));
    predictor = block[0];
    int n = MagnitudeCategory(diff);
    WriteSymbol(w, n, cls, false);
    WriteValueBits(w, diff, n);

    int run = 0;
    for (int i = 1; i < 64; ++i) {
        const int32_t v = block[ZigzagOrder[i]];
        if (v == 0) {
            ++run;
            continue;
        }
        for (; run >= 16; run -= 16) WriteSymbol(w, kZeroRun16, cls, true);
        n = MagnitudeCategory(v);
        // A symbol is a byte; categories above 9 do not occur in valid input.
        WriteSymbol(w, (run * 16 + n) & 0xFF, cls, true);
        WriteValueBits(w, v, n);
        run = 0;
    }
    if (run > 0) WriteSymbol(w, kEndOfBlock, cls, true);
}

void EncodeBlockSymbols(StreamWriter &w, const int32_t *__restrict block, int cls,
                        int32_t &predictor) {
    cls &= 1;
    const uint32_t *dcCodes = kHuffmanTables.packedCodes + cls * 512;

    // A value outside -511..511 sends the block to the plain coder instead;
    // what was stored so far is left behind unused.
    const bool coded = CodeBlock(w, [&](BitPacker &out) {
        const int32_t diff = static_cast<int32_t>(static_cast<uint32_t>(block[0]) -
                                                  static_cast<uint32_t>(predictor));
        uint32_t marks = ValueEntry(diff);
        out.AddCoded(dcCodes[marks & 15], marks >> 16);
        CodeAc(out, GetCodeParts(), ToZigzag(NonZeroNatural(block)) & ~uint64_t{1}, cls,
               [&](unsigned i) {
                   const uint32_t t = ValueEntry(block[ZigzagOrder[i]]);
                   marks |= t;
                   return SizeBits{t & 15, t >> 16};
               });
        return (marks & kOutOfRange) == 0;
    });
    if (!coded) {
        EncodeBlockSymbolsReference(w, block, cls, predictor);
        return;
    }
    predictor = block[0];
}

void EncodePreparedBlock(StreamWriter &w, const PreparedBlock &b, int cls, int32_t &predictor,
                         PreparedOrder order) {
    cls &= 1;
    const int32_t diff =
        static_cast<int32_t>(static_cast<uint32_t>(b.dc) - static_cast<uint32_t>(predictor));
    const uint32_t t = ValueEntry(diff);
    if (t & kOutOfRange) {
        // A difference no DC symbol codes: the plain coder writes what it can.
        int32_t block[64];
        Unprepare(b, order, block);
        EncodeBlockSymbolsReference(w, block, cls, predictor);
        return;
    }
    CodeBlock(w, [&](BitPacker &out) {
        switch (order) {
            case PreparedOrder::kZigzag:
                CodePrepared<PreparedOrder::kZigzag>(out, GetCodeParts(), b, cls, t);
                break;
            case PreparedOrder::kTransposed:
                CodePrepared<PreparedOrder::kTransposed>(out, GetCodeParts(), b, cls, t);
                break;
            case PreparedOrder::kNatural:
                CodePrepared<PreparedOrder::kNatural>(out, GetCodeParts(), b, cls, t);
                break;
        }
        return true;
    });
    predictor = b.dc;
}

void EncodePreparedPositions(StreamWriter &w, const PreparedBlock *blocks, int positions,
                             int32_t predictors[3]) {
    CodePreparedPositions<PreparedOrder::kNatural>(w, blocks, positions, predictors);
}

}  // namespace plix
