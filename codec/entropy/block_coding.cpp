#include "entropy/block_coding.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "entropy/huffman.h"
#include "streams.h"

namespace plix {

const uint8_t ZigzagOrder[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

namespace {

constexpr int kEndOfBlock = 0x00;
constexpr int kZeroRun16 = 0x10;

uint32_t Magnitude(int32_t v) {
    return v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
}

// v itself when v >= 0, else v - 1; the caller keeps the low bits it needs.
uint32_t ValueBits(int32_t v) {
    return static_cast<uint32_t>(v) - (v < 0 ? 1u : 0u);
}

// n bits u read back as a value of category n (1..31), modulo 2^32.
uint32_t Extend(uint32_t u, int n) {
    uint32_t negative = ((u >> (n - 1)) & 1u) - 1u;  // all ones when the top bit is 0
    return u + (negative & ((~0u << n) + 1u));
}

int32_t Dequantise(uint32_t v, int32_t q) {
    int32_t product = static_cast<int32_t>(v * static_cast<uint32_t>(q));
    return std::clamp(product, -256, 255);
}

// Rare forms: categories without a joint code-and-value write.
void WriteSymbolAndValue(StreamWriter &w, int symbol, int cls, bool ac, int32_t v, int n) {
    WriteSymbol(w, symbol & 0xFF, cls, ac);
    WriteValueBits(w, v, n);
}

} // namespace

int MagnitudeCategory(int32_t v) { return std::bit_width(Magnitude(v)); }

void WriteValueBits(StreamWriter &w, int32_t v, int n) {
    if (n <= 0) return;
    w.WriteBits(ValueBits(v), n > 32 ? 32 : n);
}

void EncodeBlockSymbols(StreamWriter &w, const int32_t *__restrict block, int cls,
                        int32_t &predictor) {
    cls &= 1;
    const uint16_t *dcCodes = kHuffmanTables.codeTable + cls * 512;
    const uint16_t *acCodes = dcCodes + 256;

    const int32_t diff = static_cast<int32_t>(static_cast<uint32_t>(block[0]) - static_cast<uint32_t>(predictor));
    predictor = block[0];
    int n = MagnitudeCategory(diff);
    if (n <= 9) {
        // Code and value bits in one write: at most 8 + 9 bits.
        const uint32_t entry = dcCodes[n];
        const int length = static_cast<int>(entry & 15);
        const uint32_t code = entry >> (16 - length);
        w.WriteBits((code << n) | (ValueBits(diff) & ((1u << n) - 1)), length + n);
    } else {
        WriteSymbolAndValue(w, n, cls, false, diff, n);
    }

    // Zigzag positions of the non-zero AC coefficients, bit i for position i.
    uint64_t nonZero = 0;
    for (int i = 1; i < 64; ++i) nonZero |= static_cast<uint64_t>(block[ZigzagOrder[i]] != 0) << i;

    int last = 0;
    while (nonZero != 0) {
        const int pos = std::countr_zero(nonZero);
        nonZero &= nonZero - 1;
        int run = pos - last - 1;
        last = pos;
        if (run >= 16) {
            const uint32_t zrl = acCodes[kZeroRun16];
            const int zrlLength = static_cast<int>(zrl & 15);
            do {
                w.WriteBits(zrl >> (16 - zrlLength), zrlLength);
                run -= 16;
            } while (run >= 16);
        }
        const int32_t v = block[ZigzagOrder[pos]];
        n = MagnitudeCategory(v);
        if (n <= 9) {
            // At most 12 + 9 bits.
            const uint32_t entry = acCodes[run * 16 + n];
            const int length = static_cast<int>(entry & 15);
            const uint32_t code = entry >> (16 - length);
            w.WriteBits((code << n) | (ValueBits(v) & ((1u << n) - 1)), length + n);
        } else {
            WriteSymbolAndValue(w, run * 16 + n, cls, true, v, n);
        }
    }
    // Trailing zeros, however many, are one end-of-block symbol.
    if (last < 63) {
        const uint32_t eob = acCodes[kEndOfBlock];
        const int eobLength = static_cast<int>(eob & 15);
        w.WriteBits(eob >> (16 - eobLength), eobLength);
    }
}

void DecodeBlock(StreamReader &r, int32_t *__restrict block, const int32_t *__restrict q, int cls,
                 int32_t &predictor) {
    cls &= 1;
    // Positions without a coefficient stay 0, which dequantises to 0.
    std::memset(block, 0, 64 * sizeof(int32_t));

    // DC: at most 9 code bits and 31 value bits, within one refill.
    r.Refill();
    const uint32_t dcEntry = kHuffmanTables.dcLookup[cls][r.Peek(kDcLookupBits)];
    r.Skip(static_cast<int>(dcEntry >> 8));
    const int s = static_cast<int>(dcEntry & 0xFF);
    uint32_t diff = 0;
    if (s != 0) {
        diff = Extend(r.Peek(s), s);
        r.Skip(s);
    }
    const uint32_t dc = static_cast<uint32_t>(predictor) + diff;
    predictor = static_cast<int32_t>(dc);
    block[0] = Dequantise(dc, q[0]);

    // AC: each symbol with its value takes at most 12 + 9 bits.
    const uint32_t *acLookup = kHuffmanTables.acLookup[cls];
    int p = 1;
    while (p < 64) {
        if (r.BitCount() < kMaxCodeLength + 9) r.Refill();
        const uint32_t e = acLookup[r.Peek(kMaxCodeLength)];
        p += static_cast<int>((e >> 13) & 63);
        if (p > 63) {
            // A run past the last position ends the block; its value bits
            // are not read.
            r.Skip(static_cast<int>((e >> 5) & 15));
            break;
        }
        r.Skip(static_cast<int>(e & 31));
        uint32_t v = static_cast<uint32_t>(static_cast<int32_t>(e) >> 22);
        const int extra = static_cast<int>((e >> 9) & 15);
        if (extra != 0) {
            v = Extend(r.Peek(extra), extra);
            r.Skip(extra);
        }
        const int z = ZigzagOrder[p];
        block[z] = Dequantise(v, q[z]);
        ++p;
    }
}

void DecodeBlockReference(StreamReader &r, int32_t block[64], const int32_t q[64], int cls,
                          int32_t &predictor) {
    cls &= 1;
    const int s = DecodeSymbol(r, cls, false);
    const int32_t diff = r.ReadSigned(s);
    predictor = static_cast<int32_t>(static_cast<uint32_t>(predictor) + static_cast<uint32_t>(diff));
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

} // namespace plix
