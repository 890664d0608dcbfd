// What the transforms and the entropy coder exchange: the zigzag order, and
// blocks prepared for the coder with each coefficient's category and value
// bits, which both sides compute alike.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>

namespace plix {

// Natural index (row * 8 + col) of each zigzag position 0..63.
inline constexpr uint8_t ZigzagOrder[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

// Where a prepared block (below) keeps each coefficient: natural order;
// zigzag order, the order of coding; or transposed, entry col * 8 + row,
// which spares a vector transform its last transposition.
enum class PreparedOrder { kNatural, kZigzag, kTransposed };

// Transposed index of each zigzag position.
struct ZigzagTransposedTable {
    uint8_t at[64];
};

constexpr ZigzagTransposedTable BuildZigzagTransposed() {
    ZigzagTransposedTable t{};
    for (int i = 0; i < 64; ++i)
        t.at[i] = static_cast<uint8_t>(ZigzagOrder[i] % 8 * 8 + ZigzagOrder[i] / 8);
    return t;
}

inline constexpr ZigzagTransposedTable ZigzagTransposed = BuildZigzagTransposed();

// Index in a prepared block of order o of zigzag position i.
constexpr unsigned PreparedIndex(PreparedOrder o, unsigned i) {
    return o == PreparedOrder::kZigzag       ? i
           : o == PreparedOrder::kTransposed ? ZigzagTransposed.at[i]
                                             : ZigzagOrder[i];
}

// Entries of a dequantisation table in zigzag order as the block decoder takes
// it: the 64 positions, then zeros for positions past the block.
inline constexpr int kZigzagQuantEntries = 144;

// Category and value bits of a coefficient. In an unnamed namespace, like
// the other helpers of the kernels: each file gets a copy built for its own
// instruction set.
namespace {

// All ones for a negative v, else 0. Signs of coefficients are random, so
// everything below is computed without branches.
constexpr uint32_t SignMask(int32_t v) {
    return static_cast<uint32_t>(v >> 31);
}

constexpr uint32_t Magnitude(int32_t v) {
    return (static_cast<uint32_t>(v) ^ SignMask(v)) - SignMask(v);
}

// v itself when v >= 0, else v - 1; the caller keeps the low bits it needs.
constexpr uint32_t ValueBits(int32_t v) {
    return static_cast<uint32_t>(v) + SignMask(v);
}

// Category and value bits of v from -511 to 511, at index v + 511:
// category | value bits << 16. Index 1023 stands for every other v and
// carries kOutOfRange.
constexpr uint32_t kOutOfRange = 0x100;

struct ValueTable {
    uint32_t entries[1024];
};

constexpr ValueTable BuildValueTable() {
    ValueTable t{};
    for (int32_t v = -511; v <= 511; ++v) {
        const uint32_t n = static_cast<uint32_t>(std::bit_width(Magnitude(v)));
        t.entries[v + 511] = n | (ValueBits(v) & ((1u << n) - 1)) << 16;
    }
    t.entries[1023] = kOutOfRange;
    return t;
}

constexpr ValueTable kValueTable = BuildValueTable();

inline uint32_t ValueEntry(int32_t v) {
    return kValueTable.entries[std::min(static_cast<uint32_t>(v) + 511u, 1023u)];
}

}  // namespace

// A quantised block made ready for the fast coder by a forward kernel: each
// coefficient's category and value bits, so that coding only looks codes up.
// The entries are in the order the kernel level says (Dsp::preparedOrder):
// natural, zigzag (the order of coding, which spares the coder a lookup per
// symbol) or transposed. Entries 0 describe the DC coefficient itself, which the
// coder does not use (it codes the difference to the predictor from dc).
struct PreparedBlock {
    alignas(32) uint16_t bits[64];  // the low size bits of v, or of v - 1 when v < 0
    alignas(32) uint8_t size[64];   // the category of v: significant bits of |v|
    uint64_t nonZero;               // bit i: the coefficient at zigzag position i is not 0
    int32_t dc;
};

// The plain form of the preparation (coefficients.cpp). False, with out
// unusable, when an entry 1..63 lies outside -511..511.
bool PrepareBlock(const int32_t block[64], PreparedBlock &out);

}  // namespace plix
