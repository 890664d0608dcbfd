// Quantisation matrix sets and their scaling by the q-factor.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "transform/quant.h"

namespace plix {
namespace {

struct Tables {
    int32_t t0[64];
    int32_t t1[64];
};

Tables Build(int matrix, int qfactor) {
    Tables t{};
    EXPECT_TRUE(
        BuildQuantTables(static_cast<uint8_t>(matrix), static_cast<uint8_t>(qfactor), t.t0, t.t1));
    return t;
}

TEST(QuantTables, BaseSetsHoldTheFormatsValues) {
    // Corners and a few inner entries of each table.
    EXPECT_EQ(QuantBaseTables[0][0], 4);
    EXPECT_EQ(QuantBaseTables[0][1], 3);
    EXPECT_EQ(QuantBaseTables[0][15], 35);
    EXPECT_EQ(QuantBaseTables[0][63], 254);
    EXPECT_EQ(QuantBaseTables[0][60], 119);
    EXPECT_EQ(QuantBaseTables[0][64], 12);
    EXPECT_EQ(QuantBaseTables[0][64 + 5], 131);
    EXPECT_EQ(QuantBaseTables[0][64 + 48], 11);
    EXPECT_EQ(QuantBaseTables[0][64 + 49], 99);
    EXPECT_EQ(QuantBaseTables[1][0], 2);
    EXPECT_EQ(QuantBaseTables[1][63], 20);
    EXPECT_EQ(QuantBaseTables[1][64], 16);
    EXPECT_EQ(QuantBaseTables[1][64 + 1], 17);
    EXPECT_EQ(QuantBaseTables[1][64 + 30], 26);
    EXPECT_EQ(QuantBaseTables[1][127], 33);
    for (int k = 0; k < 64; ++k) {
        EXPECT_EQ(QuantBaseTables[2][k], 0) << k;
        EXPECT_EQ(QuantBaseTables[2][64 + k], 16) << k;
    }
}

TEST(QuantTables, QFactorZeroGivesDivisorOneButChromaDc) {
    const int chromaDc[3] = {3, 4, 4};
    for (int m = 0; m < 3; ++m) {
        const Tables t = Build(m, 0);
        for (int k = 0; k < 64; ++k) {
            EXPECT_EQ(t.t0[k], 1) << m << " " << k;
            EXPECT_EQ(t.t1[k], k == 0 ? chromaDc[m] : 1) << m << " " << k;
        }
    }
}

TEST(QuantTables, QFactorFourKeepsTheBaseTables) {
    const Tables t = Build(0, 4);
    for (int k = 0; k < 64; ++k) {
        EXPECT_EQ(t.t0[k], QuantBaseTables[0][k]) << k;
        EXPECT_EQ(t.t1[k], k == 0 ? 3 : QuantBaseTables[0][64 + k]) << k;
    }
}

TEST(QuantTables, WorkedScalings) {
    const Tables one = Build(0, 1);
    EXPECT_EQ(one.t0[63], 63);  // 254 / 4
    EXPECT_EQ(one.t0[1], 1);    // product 3
    EXPECT_EQ(one.t0[0], 1);    // product 4 gives 1 too
    EXPECT_EQ(one.t1[7], 63);

    const Tables fifteen = Build(1, 15);
    EXPECT_EQ(fifteen.t0[0], 7);
    EXPECT_EQ(fifteen.t0[63], 75);
    EXPECT_EQ(fifteen.t1[0], 4);
    EXPECT_EQ(fifteen.t1[1], 63);
    EXPECT_EQ(fifteen.t1[63], 123);

    // Products of 1016 and more give 254.
    EXPECT_EQ(Build(0, 5).t0[63], 254);   // 1270
    EXPECT_EQ(Build(0, 4).t0[63], 254);   // 1016
    EXPECT_EQ(Build(0, 255).t0[1], 191);  // 765
    EXPECT_EQ(Build(0, 255).t0[0], 254);  // 1020
}

TEST(QuantTables, CgSetAtEveryQFactor) {
    for (int q = 0; q < 256; ++q) {
        const Tables t = Build(2, q);
        for (int k = 0; k < 64; ++k) {
            EXPECT_EQ(t.t0[k], 1);
            EXPECT_EQ(t.t1[k], k == 0 ? 4 : std::max(1, std::min(254, 4 * q))) << q << " " << k;
        }
    }
}

TEST(QuantTables, EveryEntryIsAValidDivisor) {
    for (int m = 0; m < 3; ++m) {
        for (int q = 0; q < 256; ++q) {
            const Tables t = Build(m, q);
            for (int k = 0; k < 64; ++k) {
                EXPECT_GE(std::min(t.t0[k], t.t1[k]), 1);
                EXPECT_LE(std::max(t.t0[k], t.t1[k]), 254);
            }
        }
    }
}

TEST(QuantTables, UnknownMatrixIsRefusedAndTablesUntouched) {
    for (int m = 3; m < 256; ++m) {
        int32_t t0[64], t1[64];
        std::fill(t0, t0 + 64, -7);
        std::fill(t1, t1 + 64, -9);
        EXPECT_FALSE(BuildQuantTables(static_cast<uint8_t>(m), 4, t0, t1));
        EXPECT_TRUE(std::all_of(t0, t0 + 64, [](int32_t v) { return v == -7; }));
        EXPECT_TRUE(std::all_of(t1, t1 + 64, [](int32_t v) { return v == -9; }));
    }
}

}  // namespace
}  // namespace plix
