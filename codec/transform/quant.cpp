#include "transform/quant.h"

namespace plix {

// Set 0 "Plix original", set 1 "JPEG standard", set 2 "CG,Animation". The
// class 0 table of set 2 is all zeros on purpose: it clamps to divisor 1.
// clang-format off
const uint8_t QuantBaseTables[3][128] = {
    {
        // class 0
          4,   3,   4,   5,   6,   6,   7,   7,
          3,   3,   4,   5,   6,   7,   7,  35,
          4,   4,   5,   5,   6,   7,  11,  59,
          4,   4,   5,   6,   7,  11,  23, 254,
          5,   5,   6,   7,  11,  35,  67, 254,
          5,   5,   6,   7,  27,  55, 254, 254,
          6,   6,   7,  11,  59,  75, 254, 254,
          7,   7,  11,  63, 119, 254, 254, 254,
        // class 1
         12,   4,   5,   7,  19, 131, 254, 254,
          4,   4,   5,   7,  27, 254, 254, 254,
          4,   5,   7,  11,  99, 254, 254, 254,
          5,   6,   7,  19, 131, 254, 254, 254,
          7,   7,  11,  99, 254, 254, 254, 254,
          7,  11,  67, 254, 254, 254, 254, 254,
         11,  99, 254, 254, 254, 254, 254, 254,
        254, 254, 254, 254, 254, 254, 254, 254,
    },
    {
        // class 0
          2,   4,   4,   5,   6,   6,   7,   8,
          4,   4,   5,   6,   6,   7,   8,   9,
          4,   5,   6,   6,   7,   8,   8,   9,
          5,   5,   6,   6,   7,   8,   9,  10,
          5,   6,   6,   7,   8,   8,  10,  12,
          6,   6,   7,   8,   8,  10,  12,  14,
          6,   6,   7,   8,   9,  11,  14,  17,
          6,   7,   8,   9,  11,  14,  17,  20,
        // class 1
         16,  17,  18,  19,  20,  21,  22,  23,
         17,  18,  19,  20,  21,  22,  23,  24,
         18,  19,  20,  21,  22,  23,  24,  25,
         19,  20,  21,  22,  23,  24,  26,  27,
         20,  21,  22,  23,  25,  26,  27,  28,
         21,  22,  23,  24,  26,  27,  28,  30,
         22,  23,  24,  26,  27,  28,  30,  31,
         23,  24,  25,  27,  28,  30,  31,  33,
    },
    {
        // class 0
          0,   0,   0,   0,   0,   0,   0,   0,
          0,   0,   0,   0,   0,   0,   0,   0,
          0,   0,   0,   0,   0,   0,   0,   0,
          0,   0,   0,   0,   0,   0,   0,   0,
          0,   0,   0,   0,   0,   0,   0,   0,
          0,   0,   0,   0,   0,   0,   0,   0,
          0,   0,   0,   0,   0,   0,   0,   0,
          0,   0,   0,   0,   0,   0,   0,   0,
        // class 1
         16,  16,  16,  16,  16,  16,  16,  16,
         16,  16,  16,  16,  16,  16,  16,  16,
         16,  16,  16,  16,  16,  16,  16,  16,
         16,  16,  16,  16,  16,  16,  16,  16,
         16,  16,  16,  16,  16,  16,  16,  16,
         16,  16,  16,  16,  16,  16,  16,  16,
         16,  16,  16,  16,  16,  16,  16,  16,
         16,  16,  16,  16,  16,  16,  16,  16,
    },
};
// clang-format on

namespace {

// Products 0..3 give 1, 4..1019 give p / 4, 1020 and more give 254.
int32_t ScaleEntry(int32_t product) {
    const int32_t s = product >> 2;
    return s < 1 ? 1 : (s > 254 ? 254 : s);
}

}  // namespace

bool BuildQuantTables(uint8_t matrix, uint8_t qfactor, int32_t table0[64], int32_t table1[64]) {
    if (matrix > 2) return false;
    const uint8_t *set = QuantBaseTables[matrix];
    const int32_t q = qfactor;
    for (int k = 0; k < 64; ++k) {
        table0[k] = ScaleEntry(int32_t{set[k]} * q);
        table1[k] = ScaleEntry(int32_t{set[64 + k]} * q);
    }
    // The chroma DC divisor depends on the set alone.
    table1[0] = ScaleEntry(set[64]);
    return true;
}

}  // namespace plix
