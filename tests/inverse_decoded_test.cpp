// The inverse kernel fed straight from the decoder (Dsp::inverseDecoded2):
// unlimited products and blocks marked DC-only with anything in their AC
// entries give the pixels of the plain kernel on the limited, cleared blocks,
// and with the colour tables those pixels converted as the plain conversion
// does.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <random>
#include <vector>

#include "dsp/dsp.h"
#include "kernel_levels.h"
#include "transform/colour.h"

namespace plix {
namespace {

// What the decoder's own limit and clearing make of a raw block.
void Finish(const int32_t raw[64], bool dcOnly, int32_t out[64]) {
    for (int i = 0; i < 64; ++i) out[i] = dcOnly && i > 0 ? 0 : std::clamp(raw[i], -256, 255);
}

// A block as the decoder leaves it, in one of four styles; shape bit 0:
// rows 4..7 zero, bit 1: columns 4..7 (the shapes of the shorter transforms).
void RandomBlock(std::mt19937 &rng, int style, int shape, int32_t raw[64]) {
    // Products around the limits, the 16-bit saturation and the 32-bit ends.
    static const int32_t edges[] = {-256,  255,    -257,  256,    -255,    254,
                                    32767, -32768, 32768, -32769, 65535,   -65536,
                                    1 << 20, INT32_MAX, INT32_MIN, 0};
    for (int i = 0; i < 64; ++i) {
        int32_t v;
        if (style == 0)  // sparse, within range
            v = rng() % 4 == 0 ? static_cast<int32_t>(rng() % 512) - 256 : 0;
        else if (style == 1)  // the limits only: saturated samples
            v = rng() & 1 ? 255 : -256;
        else if (style == 2)  // edges everywhere
            v = edges[rng() % (sizeof edges / sizeof edges[0])];
        else  // any 32-bit value, some zero
            v = rng() % 3 == 0 ? 0 : static_cast<int32_t>(rng());
        raw[i] = ((shape & 1) && i >= 32) || ((shape & 2) && i % 8 >= 4) ? 0 : v;
    }
    // The DC entry comes limited from the decoder.
    raw[0] = std::clamp(raw[0], -256, 255);
}

TEST(InverseDecoded, MatchesPlainKernelOnLimitedClearedBlocks) {
    const Dsp *plain = GetDspLevel(DspLevel::kPlain);
    ASSERT_NE(plain, nullptr);
    const std::vector<const Dsp *> &kernels = test::KernelLevels();
    std::mt19937 rng(41);
    // 40 pixels a row, the positions at pixels 8 and 16: aligned for the
    // streaming variants, every other row half a cache line off, untouched
    // pixels on both sides.
    constexpr size_t rowBytes = 160, left = 32;
    using Rows = std::array<uint8_t, rowBytes * 8>;
    for (int n = 0; n < 6000; ++n) {
        alignas(32) int32_t raw[6][64];
        int32_t clean[6][64];
        const uint32_t dcOnly = n < 64 ? static_cast<uint32_t>(n) : rng() & 63;
        const int style = n % 4;
        // Rows 4..7 zero in every block (bit 0), columns 4..7 (bit 1): the
        // shapes that take the shorter transforms.
        const int shape = (n / 4) % 4;
        for (int k = 0; k < 6; ++k) {
            RandomBlock(rng, style, shape, raw[k]);
            Finish(raw[k], ((dcOnly >> k) & 1) != 0, clean[k]);
        }
        alignas(64) Rows base;
        for (uint8_t &p : base) p = static_cast<uint8_t>(rng());
        alignas(64) Rows want = base;
        int32_t scratch[6][64];
        std::memcpy(scratch, clean, sizeof scratch);
        plain->inverseBlocks(scratch, want.data() + left, rowBytes);
        plain->inverseBlocks(scratch + 3, want.data() + left + 32, rowBytes);
        // Converted on the way: the pixels the plain conversion makes of
        // those, the rest of the rows untouched.
        alignas(64) Rows rgb = want;
        ConvertYccToRgb(rgb.data() + left, static_cast<int32_t>(rowBytes / 4), 16, 8,
                        GetYccToRgbTables());
        for (const Dsp *d : kernels) {
            // The plain form, and the streaming one with each pair of
            // neighbours in turn.
            const unsigned neighbours = static_cast<unsigned>(n) % 4;
            const auto run = [&](bool streamed, Rows &px, const YccToRgbTables *tables) {
                int32_t blocks[6][64];
                std::memcpy(blocks, raw, sizeof blocks);
                px = base;
                if (streamed) {
                    d->inverseDecoded2Streaming(blocks, dcOnly, px.data() + left, rowBytes, tables,
                                                neighbours);
                    d->finishStreaming();
                } else {
                    d->inverseDecoded2(blocks, dcOnly, px.data() + left, rowBytes, tables);
                }
            };
            for (bool streamed : {false, true}) {
                if (streamed && !d->inverseDecoded2Streaming) continue;
                const char *how = streamed ? " streaming" : "";
                alignas(64) Rows got;
                run(streamed, got, nullptr);
                ASSERT_EQ(got, want) << d->name << how << " round " << n << " mask " << dcOnly;
                run(streamed, got, &GetYccToRgbTables());
                ASSERT_EQ(got, rgb)
                    << d->name << how << " converted, round " << n << " mask " << dcOnly;
            }
        }
    }
}

// Four positions at once: what two pair calls with the colour tables give,
// for every pattern of DC-only blocks, streamed or not, aligned or half a
// line off.
TEST(InverseDecoded, FourPositionsAsTwoPairs) {
    const Dsp *plain = GetDspLevel(DspLevel::kPlain);
    ASSERT_NE(plain, nullptr);
    const YccToRgbTables &t = GetYccToRgbTables();
    std::mt19937 rng(43);
    // 56 pixels a row: the four positions at pixel 8 (half a line off) or
    // 16 (aligned), untouched pixels on both sides.
    constexpr size_t rowBytes = 224;
    using Rows = std::array<uint8_t, rowBytes * 8>;
    int tested = 0;
    for (const Dsp *d : test::KernelLevels()) {
        if (!d->inverseDecoded4) continue;
        ++tested;
        for (uint32_t n = 0; n < 4096 + 2000; ++n) {
            alignas(64) int32_t raw[12][64];
            int32_t clean[12][64];
            const uint32_t dcOnly = n < 4096 ? n : rng() & 4095;
            const int style = static_cast<int>(n % 4), shape = static_cast<int>((n / 4) % 4);
            for (int k = 0; k < 12; ++k) {
                RandomBlock(rng, style, shape, raw[k]);
                Finish(raw[k], ((dcOnly >> k) & 1) != 0, clean[k]);
            }
            const size_t left = n % 2 ? 32 : 64;
            alignas(64) Rows base;
            for (uint8_t &p : base) p = static_cast<uint8_t>(rng());
            alignas(64) Rows want = base;
            for (int pos = 0; pos < 4; ++pos)
                plain->inverseBlocks(clean + 3 * pos, want.data() + left + 32 * pos, rowBytes);
            ConvertYccToRgb(want.data() + left, static_cast<int32_t>(rowBytes / 4), 32, 8, t);
            for (bool stream : {false, true}) {
                alignas(64) int32_t blocks[12][64];
                std::memcpy(blocks, raw, sizeof blocks);
                alignas(64) Rows got = base;
                d->inverseDecoded4(blocks, dcOnly, got.data() + left, rowBytes, t, (n / 16) % 4,
                                   stream);
                if (stream) d->finishStreaming();
                ASSERT_EQ(got, want) << d->name << (stream ? " streaming" : "") << " round " << n
                                     << " mask " << dcOnly;
            }
        }
    }
    if (tested == 0) GTEST_SKIP() << "no kernel set here has it";
}

// Both chroma blocks DC only under a busy luma block: every pair of chroma
// samples, in either position, converted as the plain kernels do.
TEST(InverseDecoded, ConstantChromaEverySamplePair) {
    const Dsp *plain = GetDspLevel(DspLevel::kPlain);
    ASSERT_NE(plain, nullptr);
    std::mt19937 rng(7);
    const size_t rowBytes = 64;
    const YccToRgbTables &t = GetYccToRgbTables();
    for (const Dsp *d : test::KernelLevels()) {
        for (uint32_t pair = 0; pair < 65536; pair += 2) {
            alignas(32) int32_t raw[6][64];
            int32_t clean[6][64];
            for (int k = 0; k < 6; ++k)
                for (int i = 0; i < 64; ++i)
                    raw[k][i] = rng() % 4 == 0 ? static_cast<int32_t>(rng() % 200) - 100 : 0;
            // Sample s comes from the DC entry 2 * (s - 128).
            for (int half = 0; half < 2; ++half) {
                const uint32_t cb = (pair + half) >> 8, cr = (pair + half) & 255;
                raw[3 * half + 1][0] = 2 * (static_cast<int32_t>(cb) - 128);
                raw[3 * half + 2][0] = 2 * (static_cast<int32_t>(cr) - 128);
                raw[3 * half][0] = static_cast<int32_t>(rng() % 512) - 256;
            }
            const uint32_t dcOnly = 0b110110;
            for (int k = 0; k < 6; ++k) Finish(raw[k], ((dcOnly >> k) & 1) != 0, clean[k]);
            std::vector<uint8_t> want(rowBytes * 8), got(rowBytes * 8);
            plain->inverseBlocks(clean, want.data(), rowBytes);
            plain->inverseBlocks(clean + 3, want.data() + 32, rowBytes);
            ConvertYccToRgb(want.data(), static_cast<int32_t>(rowBytes / 4), 16, 8, t);
            d->inverseDecoded2(raw, dcOnly, got.data(), rowBytes, &t);
            ASSERT_EQ(got, want) << d->name << " Cb/Cr " << (pair >> 8) << " " << (pair & 255);
        }
    }
}

}  // namespace
}  // namespace plix
