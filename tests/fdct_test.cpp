// Forward DCT and quantisation: worked examples, closeness to the exact DCT,
// and the fast variants against the plain ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "dsp/dsp.h"
#include "kernel_levels.h"
#include "transform/fdct.h"
#include "transform/quant.h"

namespace plix {
namespace {

void Fill(int32_t block[64], int32_t v) {
    for (int k = 0; k < 64; ++k) block[k] = v;
}

QuantDivisors Divisors(int32_t q) {
    int32_t table[64];
    Fill(table, q);
    QuantDivisors d;
    PrepareQuantDivisors(table, d);
    return d;
}

// One block through a level's whole-position kernel: the samples in all three
// components, the same divisors for each; the three results must agree.
void ForwardByLevel(const Dsp *d, const int32_t samples[64], const QuantDivisors &div,
                    int32_t out[64]) {
    uint8_t pixels[8 * 32];
    for (int i = 0; i < 64; ++i)
        for (int k = 0; k < 4; ++k) pixels[i * 4 + k] = static_cast<uint8_t>(samples[i] + 128);
    int32_t blocks[3][64];
    d->forwardBlocks(pixels, 32, div, div, blocks);
    ASSERT_EQ(0, std::memcmp(blocks[0], blocks[1], sizeof blocks[0])) << d->name;
    ASSERT_EQ(0, std::memcmp(blocks[0], blocks[2], sizeof blocks[0])) << d->name;
    std::memcpy(out, blocks[0], sizeof blocks[0]);
}

// Runs ForwardDct and every fast forward path on the same level-shifted
// samples; all must agree, and the plain result is returned.
void ForwardAll(const int32_t samples[64], int32_t out[64]) {
    std::memcpy(out, samples, sizeof(int32_t) * 64);
    ForwardDct(out);
    const QuantDivisors one = Divisors(1);
    for (const Dsp *d : test::FastKernelLevels()) {
        int32_t b[64];
        ForwardByLevel(d, samples, one, b);
        ASSERT_EQ(0, std::memcmp(b, out, sizeof b)) << d->name;
    }
}

TEST(ForwardDct, FlatBlocksGiveTwiceTheLevel) {
    for (int s = 0; s < 256; ++s) {
        int32_t in[64], out[64];
        Fill(in, s - 128);
        ForwardAll(in, out);
        EXPECT_EQ(out[0], 2 * (s - 128)) << s;
        for (int k = 1; k < 64; ++k) ASSERT_EQ(out[k], 0) << s << " " << k;
    }
}

TEST(ForwardDct, HalfDarkHalfBrightSplit) {
    int32_t cols[64], rows[64], out[64];
    for (int r = 0; r < 8; ++r) {
        for (int c = 0; c < 8; ++c) {
            cols[r * 8 + c] = c < 4 ? -128 : 127;
            rows[r * 8 + c] = r < 4 ? -128 : 127;
        }
    }
    const int pos[5] = {0, 1, 3, 5, 7};
    const int val[5] = {-1, -231, 81, -54, 46};

    ForwardAll(cols, out);
    int32_t expect[64] = {};
    for (int i = 0; i < 5; ++i) expect[pos[i]] = val[i];
    for (int k = 0; k < 64; ++k) EXPECT_EQ(out[k], expect[k]) << k;

    ForwardAll(rows, out);
    std::memset(expect, 0, sizeof expect);
    for (int i = 0; i < 5; ++i) expect[pos[i] * 8] = val[i];
    for (int k = 0; k < 64; ++k) EXPECT_EQ(out[k], expect[k]) << k;
}

TEST(ForwardDct, HorizontalRamp) {
    int32_t in[64], out[64];
    for (int k = 0; k < 64; ++k) in[k] = 16 * (k % 8) - 128;
    ForwardAll(in, out);
    int32_t expect[64] = {};
    expect[0] = -144;
    expect[1] = -73;
    expect[3] = -8;
    expect[5] = -2;
    expect[7] = -1;
    for (int k = 0; k < 64; ++k) EXPECT_EQ(out[k], expect[k]) << k;
}

// The output is a quarter of the orthonormal DCT, off only by the rounding of
// the two passes.
TEST(ForwardDct, CloseToAQuarterOfTheExactTransform) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> sample(-128, 127);
    double basis[8][8];
    for (int u = 0; u < 8; ++u) {
        for (int x = 0; x < 8; ++x) {
            basis[u][x] = (u == 0 ? std::sqrt(0.125) : 0.5) * std::cos((2 * x + 1) * u * M_PI / 16);
        }
    }
    for (int n = 0; n < 2000; ++n) {
        int32_t in[64], out[64];
        for (int32_t &v : in) v = sample(rng);
        ForwardAll(in, out);
        for (int v = 0; v < 8; ++v) {
            for (int u = 0; u < 8; ++u) {
                double f = 0;
                for (int y = 0; y < 8; ++y) {
                    for (int x = 0; x < 8; ++x) f += in[y * 8 + x] * basis[u][x] * basis[v][y];
                }
                ASSERT_LE(std::fabs(out[v * 8 + u] - f / 4), 1.0) << n << " " << v << " " << u;
                ASSERT_GE(out[v * 8 + u], -256);
                ASSERT_LE(out[v * 8 + u], 255);
            }
        }
    }
}

TEST(Quantise, RoundsHalvesAwayFromZero) {
    struct Case {
        int32_t c, q, want;
    } cases[] = {{7, 2, 4},       {-7, 2, -4},   {5, 3, 2},     {-5, 3, -2},
                 {1, 3, 0},       {-1, 3, 0},    {2, 4, 1},     {-2, 4, -1},
                 {6, 4, 2},       {-6, 4, -2},   {255, 1, 255}, {-256, 1, -256},
                 {-256, 254, -1}, {126, 254, 0}, {127, 254, 1}, {-127, 254, -1}};
    for (const Case &t : cases) {
        int32_t block[64], table[64];
        Fill(block, t.c);
        Fill(table, t.q);
        QuantiseBlock(block, table);
        EXPECT_EQ(block[0], t.want) << t.c << " / " << t.q;
        EXPECT_EQ(block[63], t.want) << t.c << " / " << t.q;
    }
}

TEST(Quantise, EachEntryUsesItsOwnDivisor) {
    int32_t block[64], table[64];
    for (int k = 0; k < 64; ++k) {
        block[k] = 100;
        table[k] = k + 1;
    }
    QuantiseBlock(block, table);
    for (int k = 0; k < 64; ++k) EXPECT_EQ(block[k], (100 + (k + 1) / 2) / (k + 1)) << k;
}

// The fast paths divide through reciprocals: exact for every coefficient and
// every divisor.
TEST(Quantise, ReciprocalsAreExactForEveryCoefficientAndDivisor) {
    int32_t table[64];
    for (int32_t q = 1; q <= 254; ++q) {
        Fill(table, q);
        QuantDivisors d;
        PrepareQuantDivisors(table, d);
        for (int32_t c = -256; c <= 255; ++c) {
            int32_t plain[64];
            Fill(plain, c);
            QuantiseBlock(plain, table);
            const uint32_t n = static_cast<uint32_t>(std::abs(c) + d.half[0]);
            const uint32_t quotient = (n & d.one[0]) + ((n * d.mul[0]) >> 16);
            ASSERT_EQ(c < 0 ? -static_cast<int32_t>(quotient) : static_cast<int32_t>(quotient),
                      plain[0])
                << c << " / " << q;
        }
    }
}

// Blocks that reach the ends of every intermediate range.
std::vector<std::vector<int32_t>> ExtremeBlocks() {
    std::vector<std::vector<int32_t>> out;
    std::mt19937 rng(5);
    for (int n = 0; n < 20000; ++n) {
        std::vector<int32_t> b(64);
        const int kind = n % 4;
        for (int k = 0; k < 64; ++k) {
            const int r = k / 8, c = k % 8;
            switch (kind) {
                case 0:
                    b[k] = (rng() & 1) ? 127 : -128;
                    break;  // random signs
                case 1:
                    b[k] = (((r ^ c) & 1) != 0) == ((n >> 2) & 1) ? 127 : -128;
                    break;  // checkerboard
                case 2:
                    b[k] = ((rng() >> (k % 16)) & 1) ? 127 : -128;
                    break;
                default:
                    b[k] = static_cast<int32_t>(rng() % 256) - 128;
                    break;
            }
        }
        out.push_back(b);
    }
    // Every separable sign pattern: these maximise single coefficients.
    for (int rowMask = 0; rowMask < 256; rowMask += 3) {
        for (int colMask = 0; colMask < 256; colMask += 5) {
            std::vector<int32_t> b(64);
            for (int k = 0; k < 64; ++k) {
                const bool pos = (((rowMask >> (k / 8)) ^ (colMask >> (k % 8))) & 1) != 0;
                b[k] = pos ? 127 : -128;
            }
            out.push_back(b);
        }
    }
    return out;
}

TEST(ForwardDctVariants, MatchThePlainTransformAndQuantiser) {
    const auto &levels = test::FastKernelLevels();
    if (levels.empty()) GTEST_SKIP() << "no fast variant on this processor";
    std::mt19937 rng(7);
    const QuantDivisors one = Divisors(1);
    std::vector<QuantDivisors> divs;
    for (int q : {1, 2, 3, 4, 7, 16, 63, 100, 127, 128, 253, 254}) divs.push_back(Divisors(q));
    for (int m = 0; m < 3; ++m) {
        for (int qf : {0, 1, 4, 15, 255}) {
            int32_t t0[64], t1[64];
            BuildQuantTables(static_cast<uint8_t>(m), static_cast<uint8_t>(qf), t0, t1);
            divs.emplace_back();
            PrepareQuantDivisors(t0, divs.back());
            divs.emplace_back();
            PrepareQuantDivisors(t1, divs.back());
        }
    }
    // Random divisors in every position.
    for (int n = 0; n < 20; ++n) {
        int32_t t[64];
        for (int32_t &v : t) v = 1 + static_cast<int32_t>(rng() % 254);
        divs.emplace_back();
        PrepareQuantDivisors(t, divs.back());
    }

    auto blocks = ExtremeBlocks();
    for (int n = 0; n < 60000; ++n) {
        std::vector<int32_t> b(64);
        // Smooth blocks as well as noise, like real pictures.
        const int base = static_cast<int>(rng() % 256) - 128;
        const int spread = 1 + static_cast<int>(rng() % 256);
        for (int32_t &v : b)
            v = std::clamp(base + static_cast<int>(rng() % spread) - spread / 2, -128, 127);
        blocks.push_back(b);
    }

    size_t i = 0;
    for (const auto &b : blocks) {
        const QuantDivisors &d = divs[i++ % divs.size()];
        int32_t plain[64];
        std::memcpy(plain, b.data(), sizeof plain);
        ForwardDctQuantise(plain, d);
        for (const Dsp *dsp : levels) {
            int32_t fast[64];
            ForwardByLevel(dsp, b.data(), d, fast);
            ASSERT_EQ(0, std::memcmp(fast, plain, sizeof fast)) << dsp->name << " block " << i;
            ForwardByLevel(dsp, b.data(), one, fast);
            int32_t coef[64];
            std::memcpy(coef, b.data(), sizeof coef);
            ForwardDct(coef);
            ASSERT_EQ(0, std::memcmp(fast, coef, sizeof fast)) << dsp->name << " block " << i;
        }
    }
}

// The whole-position path: pixels in, three quantised blocks out, component
// 0 from byte 2 with the luma divisors, 1 and 2 from bytes 1 and 0 with the
// chroma ones.
TEST(ForwardDctVariants, BlocksFromPixels) {
    std::mt19937 rng(9);
    const size_t rowBytes = 72;  // 18 pixels a row, the blocks start at pixels 1 and 9
    std::vector<uint8_t> pixels(rowBytes * 8);
    int32_t t0[64], t1[64];
    for (int n = 0; n < 6000; ++n) {
        for (uint8_t &p : pixels)
            p = static_cast<uint8_t>(n % 3 == 0 ? ((rng() & 1) ? 255 : 0) : rng());
        if (n % 4 == 3) {
            for (int k = 0; k < 64; ++k) {  // any divisor anywhere
                t0[k] = 1 + static_cast<int32_t>(rng() % 254);
                t1[k] = 1 + static_cast<int32_t>(rng() % 254);
            }
        } else {
            BuildQuantTables(static_cast<uint8_t>(n % 3), static_cast<uint8_t>(n % 17), t0, t1);
        }
        QuantDivisors luma, chroma;
        PrepareQuantDivisors(t0, luma);
        PrepareQuantDivisors(t1, chroma);

        int32_t expect[3][64];
        const int byteOf[3] = {2, 1, 0};
        for (int k = 0; k < 3; ++k) {
            for (int r = 0; r < 8; ++r) {
                for (int c = 0; c < 8; ++c)
                    expect[k][r * 8 + c] = pixels[r * rowBytes + (c + 1) * 4 + byteOf[k]] - 128;
            }
            ForwardDct(expect[k]);
            QuantiseBlock(expect[k], k == 0 ? t0 : t1);
        }
        for (const Dsp *d : test::KernelLevels()) {
            int32_t got[3][64];
            d->forwardBlocks(pixels.data() + 4, rowBytes, luma, chroma, got);
            ASSERT_EQ(0, std::memcmp(got, expect, sizeof got)) << d->name << " " << n;
            // The next position along, against the plain kernel.
            int32_t right[3][64];
            d->forwardBlocks(pixels.data() + 36, rowBytes, luma, chroma, right);
            GetDspLevel(DspLevel::kPlain)
                ->forwardBlocks(pixels.data() + 36, rowBytes, luma, chroma, got);
            ASSERT_EQ(0, std::memcmp(right, got, sizeof got)) << d->name << " " << n;
        }
    }
}

}  // namespace
}  // namespace plix
