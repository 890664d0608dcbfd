// Inverse DCT: worked examples, limiter edges, round trips, and the packed
// variants against the plain one.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "dsp/dsp.h"
#include "kernel_levels.h"
#include "transform/fdct.h"
#include "transform/idct.h"

namespace plix {
namespace {

using Block = std::vector<int32_t>;

// Every inverse path: the plain one, InverseDctMmx, and each available
// level's routine. They must agree; the plain result is returned.
Block InverseAll(const Block &in) {
    Block plain = in;
    InverseDct(plain.data());
    Block b = in;
    InverseDctMmx(b.data());
    EXPECT_EQ(b, plain) << "InverseDctMmx";
    for (const Dsp *d : test::FastKernelLevels()) {
        b = in;
        d->inverseDct(b.data());
        EXPECT_EQ(b, plain) << d->name;
    }
    return plain;
}

TEST(InverseDct, ZeroBlockIsMidGrey) {
    const Block out = InverseAll(Block(64, 0));
    for (int32_t v : out) EXPECT_EQ(v, 128);
}

TEST(InverseDct, DcOnlyBlocks) {
    const struct {
        int32_t dc, sample;
    } cases[] = {{255, 255}, {200, 228}, {1, 128}, {0, 128}, {-1, 127}, {-256, 0}};
    for (const auto &c : cases) {
        Block in(64, 0);
        in[0] = c.dc;
        const Block out = InverseAll(in);
        for (int32_t v : out) EXPECT_EQ(v, c.sample) << c.dc;
    }
}

TEST(InverseDct, FirstHorizontalAndVerticalFrequency) {
    const int32_t line[8] = {196, 187, 167, 142, 113, 88, 68, 59};
    Block in(64, 0);
    in[1] = 100;
    Block out = InverseAll(in);
    for (int r = 0; r < 8; ++r) {
        for (int c = 0; c < 8; ++c) EXPECT_EQ(out[r * 8 + c], line[c]) << r << " " << c;
    }
    in.assign(64, 0);
    in[8] = 100;
    out = InverseAll(in);
    for (int r = 0; r < 8; ++r) {
        for (int c = 0; c < 8; ++c) EXPECT_EQ(out[r * 8 + c], line[r]) << r << " " << c;
    }
}

TEST(InverseDct, FirstPassLimiterLetsMinus257Through) {
    Block in(64, 0);
    in[1] = -256;
    in[17] = -103;
    in[49] = 254;
    const Block out = InverseAll(in);
    const int32_t edge[8] = {0, 0, 27, 91, 164, 228, 255, 255};
    const int32_t inner[8] = {0, 0, 28, 92, 164, 228, 255, 255};
    const int32_t middle[8] = {218, 206, 179, 146, 109, 76, 49, 37};
    const int32_t *want[8] = {edge, inner, middle, inner, inner, middle, inner, edge};
    for (int r = 0; r < 8; ++r) {
        for (int c = 0; c < 8; ++c) EXPECT_EQ(out[r * 8 + c], want[r][c]) << r << " " << c;
    }
}

TEST(InverseDct, FlatBlocksRoundTrip) {
    for (int s = 0; s < 256; ++s) {
        Block b(64, s - 128);
        ForwardDct(b.data());  // divisor 1: the coefficients as they are
        const Block out = InverseAll(b);
        for (int32_t v : out) ASSERT_EQ(v, s);
    }
}

// Raw output r of the one-dimensional kernel on x (the format's formulas),
// used to aim blocks at the limiters' thresholds.
int32_t Raw(const int32_t x[8], int r) {
    const int32_t a = (x[0] + x[4]) * 32, b = (x[0] - x[4]) * 32;
    const int32_t t = x[2] * 42 + x[6] * 17, w = x[2] * 17 - x[6] * 42;
    const int32_t e[4] = {a + t, b + w, b - w, a - t};
    const int32_t o[4] = {
        x[1] * 44 + x[3] * 38 + x[5] * 25 + x[7] * 9, x[1] * 38 - x[3] * 9 - x[5] * 44 - x[7] * 25,
        x[1] * 25 - x[3] * 44 + x[5] * 9 + x[7] * 38, x[1] * 9 - x[3] * 25 + x[5] * 38 - x[7] * 44};
    return r < 4 ? e[r] + o[r] : e[7 - r] - o[7 - r];
}

// Blocks whose raw outputs hit each value near the limiter thresholds, found
// by fixing seven inputs of one line and solving for the eighth. For the
// first pass the line is a column; for the output limiter it is row 0 alone,
// which the first pass hands on unchanged (a lone row-0 coefficient x in a
// column gives 32 * x, limited back to x).
std::vector<Block> LimiterEdgeBlocks(bool outputLimiter) {
    std::vector<int32_t> targets;
    const int32_t hi = outputLimiter ? 8128 : 8176, lo = outputLimiter ? -8192 : -8208;
    for (int32_t v = hi - 40; v <= hi + 10; ++v) targets.push_back(v);
    for (int32_t v = lo - 10; v <= lo + 25; ++v) targets.push_back(v);
    std::mt19937 rng(3);
    std::vector<Block> out;
    for (int32_t target : targets) {
        int found = 0;
        for (int tries = 0; tries < 200000 && found < 24; ++tries) {
            int32_t x[8];
            for (int32_t &v : x) v = static_cast<int32_t>(rng() % 512) - 256;
            // Solve for x[0] (weight 32 in every raw output).
            const int r = static_cast<int>(rng() % 8);
            x[0] = 0;
            const int32_t rest = Raw(x, r);
            if ((target - rest) % 32 != 0) continue;
            const int32_t x0 = (target - rest) / 32;
            if (x0 < -256 || x0 > 255) continue;
            x[0] = x0;
            if (Raw(x, r) != target) continue;
            Block b(64, 0);
            if (outputLimiter) {
                for (int k = 0; k < 8; ++k) b[k] = x[k];
            } else {
                const int col = found % 8;
                for (int k = 0; k < 8; ++k) b[k * 8 + col] = x[k];
                // Other columns random, so the second pass sees -257 and 255 mixed in.
                for (int k = 0; k < 64; ++k) {
                    if (k % 8 != col && (rng() & 3) == 0)
                        b[k] = static_cast<int32_t>(rng() % 512) - 256;
                }
            }
            out.push_back(b);
            ++found;
        }
        EXPECT_GT(found, 0) << target;
    }
    return out;
}

TEST(InverseDctVariants, LimiterEdges) {
    for (bool outputLimiter : {false, true}) {
        for (const Block &b : LimiterEdgeBlocks(outputLimiter)) {
            InverseAll(b);
            if (HasFailure()) return;
        }
    }
}

TEST(InverseDctVariants, RandomBlocks) {
    std::mt19937 rng(17);
    int32_t b[64], plain[64], mmx[64];
    // The levels with an inverse of their own.
    std::vector<const Dsp *> levels;
    for (const Dsp *d : test::FastKernelLevels()) {
        if (d->inverseDct != InverseDct && d->inverseDct != InverseDctMmx) levels.push_back(d);
    }
    for (int n = 0; n < 200000; ++n) {
        const int kind = n % 5;
        for (int k = 0; k < 64; ++k) {
            switch (kind) {
                case 0:
                    b[k] = static_cast<int32_t>(rng() % 512) - 256;
                    break;  // full range
                case 1:
                    b[k] = (rng() & 1) ? 255 : -256;
                    break;  // saturating sums
                case 2:
                    b[k] = (rng() % 8 == 0) ? static_cast<int32_t>(rng() % 512) - 256 : 0;
                    break;
                case 3:
                    b[k] = k < 10 ? static_cast<int32_t>(rng() % 512) - 256 : 0;
                    break;
                default:
                    b[k] = k == 0 || rng() % 32 == 0 ? static_cast<int32_t>(rng() % 64) - 32 : 0;
                    break;
            }
        }
        std::memcpy(plain, b, sizeof b);
        std::memcpy(mmx, b, sizeof b);
        InverseDct(plain);
        InverseDctMmx(mmx);
        ASSERT_EQ(0, std::memcmp(mmx, plain, sizeof b)) << n;
        for (const Dsp *d : levels) {
            std::memcpy(mmx, b, sizeof b);
            d->inverseDct(mmx);
            ASSERT_EQ(0, std::memcmp(mmx, plain, sizeof b)) << d->name << " " << n;
        }
    }
}

// The whole-position path: three blocks into pixel bytes 2, 1 and 0 and 0xFF
// into byte 3, for every level including the plain one.
TEST(InverseDctVariants, BlocksToPixels) {
    std::mt19937 rng(23);
    const size_t rowBytes = 80;  // 20 pixels: positions at pixels 2 and 10
    int32_t previous[3][64] = {};
    for (int n = 0; n < 20000; ++n) {
        int32_t in[3][64];
        for (int k = 0; k < 3; ++k) {
            // Mix DC-only and full blocks so that every pairing is taken.
            const bool dcOnly = ((n >> k) & 1) != 0;
            for (int i = 0; i < 64; ++i) {
                in[k][i] = (i == 0 || !dcOnly) && (rng() % 3 != 0)
                               ? static_cast<int32_t>(rng() % 512) - 256
                               : 0;
            }
        }
        std::vector<uint8_t> base(rowBytes * 8);
        for (uint8_t &p : base) p = static_cast<uint8_t>(rng());
        std::vector<uint8_t> expect = base;
        for (int k = 0; k < 3; ++k) {
            Block b(in[k], in[k] + 64);
            InverseDct(b.data());
            for (int r = 0; r < 8; ++r) {
                for (int c = 0; c < 8; ++c)
                    expect[r * rowBytes + (c + 2) * 4 + 2 - k] = static_cast<uint8_t>(b[r * 8 + c]);
            }
        }
        for (int r = 0; r < 8; ++r)
            for (int c = 0; c < 8; ++c) expect[r * rowBytes + (c + 2) * 4 + 3] = 0xFF;
        for (const Dsp *d : test::KernelLevels()) {
            int32_t blocks[3][64];
            std::memcpy(blocks, in, sizeof blocks);
            std::vector<uint8_t> got = base;
            d->inverseBlocks(blocks, got.data() + 8, rowBytes);
            ASSERT_EQ(got, expect) << d->name << " " << n;
            // Two positions at once: the same blocks on the left, the previous
            // round's on the right, against two single calls.
            int32_t two[6][64];
            std::memcpy(two[0], in, sizeof in);
            std::memcpy(two[3], previous, sizeof previous);
            std::vector<uint8_t> want = got;
            std::memcpy(blocks, previous, sizeof blocks);
            GetDspLevel(DspLevel::kPlain)->inverseBlocks(blocks, want.data() + 40, rowBytes);
            got = base;
            d->inverseDecoded2(two, 0, got.data() + 8, rowBytes, nullptr);
            ASSERT_EQ(got, want) << d->name << " " << n;
        }
        std::memcpy(previous, in, sizeof in);
    }
}

}  // namespace
}  // namespace plix
