// Colour conversion: worked examples, the inverse tables, and the fast
// variants against the plain ones over every input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "dsp/dsp.h"
#include "kernel_levels.h"
#include "transform/colour.h"
#include "transform/colour_fixed.h"

namespace plix {
namespace {

struct Ycc {
    int y, cb, cr;
};

Ycc Forward(int r, int g, int b) {
    uint8_t out[3];
    RgbToYcc(static_cast<uint8_t>(b), static_cast<uint8_t>(g), static_cast<uint8_t>(r), out);
    return {out[2], out[1], out[0]};
}

TEST(RgbToYcc, WorkedColours) {
    Ycc v = Forward(0, 0, 0);
    EXPECT_EQ(v.y, 0);
    EXPECT_EQ(v.cb, 128);
    EXPECT_EQ(v.cr, 128);
    for (int g = 1; g < 256; ++g) {
        v = Forward(g, g, g);
        EXPECT_EQ(v.y, g);
        EXPECT_EQ(v.cb, 128);
        EXPECT_EQ(v.cr, 127) << g;  // the Cr constants sum to just below zero
    }
    v = Forward(255, 0, 0);
    EXPECT_EQ(v.y, 76);
    EXPECT_EQ(v.cb, 85);
    EXPECT_EQ(v.cr, 255);
    v = Forward(0, 255, 0);
    EXPECT_EQ(v.y, 149);
    EXPECT_EQ(v.cb, 43);
    EXPECT_EQ(v.cr, 21);
    v = Forward(0, 0, 255);
    EXPECT_EQ(v.y, 29);
    EXPECT_EQ(v.cb, 255);
    EXPECT_EQ(v.cr, 107);
}

TEST(RgbToYcc, PixelRowsKeepByteThreeAndWorkInPlace) {
    // Blue, green, red, x per pixel.
    std::vector<uint8_t> px = {0, 0, 255, 7, 0, 255, 0,  8,  255, 0,
                               0, 9, 0,   0, 0, 10,  50, 50, 50,  11};
    const std::vector<uint8_t> want = {255, 85, 76,  7,   21, 43, 149, 8,   107, 255,
                                       29,  9,  128, 128, 0,  10, 127, 128, 50,  11};
    for (const Dsp *d : test::KernelLevels()) {
        std::vector<uint8_t> copy = px, out(px.size());
        d->rgbToYcc(copy.data(), out.data(), 5);
        EXPECT_EQ(out, want) << d->name;
        d->rgbToYcc(copy.data(), copy.data(), 5);
        EXPECT_EQ(copy, want) << d->name;
    }
}

// Every fast forward conversion equals the plain one for all 2^24 colours.
TEST(RgbToYcc, FastVariantsMatchForEveryColour) {
    const int32_t count = 1 << 16;
    std::vector<uint8_t> src(static_cast<size_t>(count) * 4), plain(src.size()), fast(src.size());
    for (int r = 0; r < 256; ++r) {
        for (int32_t i = 0; i < count; ++i) {
            src[4 * i] = static_cast<uint8_t>(i);
            src[4 * i + 1] = static_cast<uint8_t>(i >> 8);
            src[4 * i + 2] = static_cast<uint8_t>(r + 131 * i);  // every red for each (blue, green)
            src[4 * i + 3] = static_cast<uint8_t>(i * 7);
        }
        ConvertRgbToYccPixels(src.data(), plain.data(), count);
        for (const Dsp *d : test::KernelLevels()) {
            d->rgbToYcc(src.data(), fast.data(), count - 3);  // odd count: the tail too
            d->rgbToYcc(src.data() + 4 * (count - 3), fast.data() + 4 * (count - 3), 3);
            ASSERT_EQ(fast, plain) << d->name << " pass " << r;
        }
    }
}

TEST(YccToRgbTables, WorkedEntries) {
    const YccToRgbTables &t = GetYccToRgbTables();
    auto at = [](int cb, int cr) { return static_cast<size_t>(cb * 256 + cr); };
    EXPECT_EQ(t.red[at(128, 128)], 0);
    EXPECT_EQ(t.green[at(128, 128)], 0);
    EXPECT_EQ(t.blue[at(128, 128)], 0);
    EXPECT_EQ(t.red[at(0, 0)], -179);
    EXPECT_EQ(t.green[at(0, 0)], 136);
    EXPECT_EQ(t.blue[at(0, 0)], -226);
    EXPECT_EQ(t.red[at(255, 255)], 178);
    EXPECT_EQ(t.green[at(255, 255)], -133);
    EXPECT_EQ(t.blue[at(255, 255)], 225);
    EXPECT_EQ(t.blue[at(127, 128)], -1);  // -1.273 truncated toward zero
    EXPECT_EQ(t.green[at(128, 127)], 1);
    EXPECT_EQ(t.red[at(128, 127)], 0);  // -0.903 truncated toward zero
}

TEST(YccToRgbTables, RangesAndPackedCopy) {
    const YccToRgbTables &t = GetYccToRgbTables();
    EXPECT_EQ(*std::min_element(t.red, t.red + 65536), -179);
    EXPECT_EQ(*std::max_element(t.red, t.red + 65536), 178);
    EXPECT_EQ(*std::min_element(t.green, t.green + 65536), -133);
    EXPECT_EQ(*std::max_element(t.green, t.green + 65536), 136);
    EXPECT_EQ(*std::min_element(t.blue, t.blue + 65536), -226);
    EXPECT_EQ(*std::max_element(t.blue, t.blue + 65536), 225);
    for (size_t i = 0; i < 65536; ++i) {
        ASSERT_EQ(t.packed[i][0], t.blue[i]);
        ASSERT_EQ(t.packed[i][1], t.green[i]);
        ASSERT_EQ(t.packed[i][2], t.red[i]);
        ASSERT_EQ(t.packed[i][3], -256);
    }
    EXPECT_EQ(&GetYccToRgbTables(), &t);  // built once
}

// Y, Cb, Cr pixels through every inverse routine; all must agree.
std::vector<uint8_t> InverseAll(std::vector<uint8_t> px, int32_t paddedWidth, int32_t width,
                                int32_t height) {
    const YccToRgbTables &t = GetYccToRgbTables();
    std::vector<uint8_t> plain = px;
    ConvertYccToRgb(plain.data(), paddedWidth, width, height, t);
    std::vector<uint8_t> b = px;
    ConvertYccToRgbMmx(b.data(), paddedWidth, width, height, t);
    EXPECT_EQ(b, plain) << "ConvertYccToRgbMmx";
    for (const Dsp *d : test::KernelLevels()) {
        b = px;
        d->yccToRgb(b.data(), paddedWidth, width, height, t);
        EXPECT_EQ(b, plain) << d->name;
    }
    return plain;
}

// The integer form of the offsets the vector kernels compute gives every
// table entry.
TEST(YccToRgbTables, ComputedOffsetsEqualEveryEntry) {
    const YccToRgbTables &t = GetYccToRgbTables();
    for (int32_t cb = 0; cb < 256; ++cb) {
        for (int32_t cr = 0; cr < 256; ++cr) {
            const size_t i = static_cast<size_t>(cb) * 256 + static_cast<size_t>(cr);
            ASSERT_EQ(colour_fixed::Offset(colour_fixed::kRedOffset, cb, cr), t.red[i])
                << cb << " " << cr;
            ASSERT_EQ(colour_fixed::Offset(colour_fixed::kGreenOffset, cb, cr), t.green[i])
                << cb << " " << cr;
            ASSERT_EQ(colour_fixed::Offset(colour_fixed::kBlueOffset, cb, cr), t.blue[i])
                << cb << " " << cr;
        }
    }
}

TEST(YccToRgb, WorkedPixels) {
    // Bytes Cr, Cb, Y, x.
    for (int g = 0; g < 256; ++g) {
        const auto out = InverseAll({127, 128, static_cast<uint8_t>(g), 0x55}, 8, 1, 1);
        EXPECT_EQ(out, (std::vector<uint8_t>{static_cast<uint8_t>(g),
                                             static_cast<uint8_t>(std::min(g + 1, 255)),
                                             static_cast<uint8_t>(g), 0}));
    }
    EXPECT_EQ(InverseAll({0, 0, 0, 9}, 8, 1, 1), (std::vector<uint8_t>{0, 136, 0, 0}));
    EXPECT_EQ(InverseAll({255, 255, 255, 9}, 8, 1, 1), (std::vector<uint8_t>{255, 122, 255, 0}));
}

TEST(YccToRgb, OnlyTheImageAreaIsConverted) {
    const int32_t padded = 16, width = 13, height = 5, rows = 8;
    std::vector<uint8_t> px(static_cast<size_t>(padded) * rows * 4);
    for (size_t i = 0; i < px.size(); ++i) px[i] = static_cast<uint8_t>(i * 37 + 11);
    const auto out = InverseAll(px, padded, width, height);
    for (int32_t y = 0; y < rows; ++y) {
        for (int32_t x = 0; x < padded; ++x) {
            const size_t i = (static_cast<size_t>(y) * padded + x) * 4;
            if (y < height && x < width) {
                EXPECT_EQ(out[i + 3], 0);
            } else {
                for (int k = 0; k < 4; ++k) EXPECT_EQ(out[i + k], px[i + k]) << x << " " << y;
            }
        }
    }
}

// Every width of the last pixels of a row that do not fill a vector, on
// every level: the plain conversion's pixels, the padding untouched.
TEST(YccToRgb, RowEndsMatchThePlainConversion) {
    const YccToRgbTables &t = GetYccToRgbTables();
    const int32_t padded = 24, rows = 3;
    std::vector<uint8_t> src(static_cast<size_t>(padded) * rows * 4);
    for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint8_t>(i * 151 + (i >> 5));
    for (int32_t width = 1; width <= padded; ++width) {
        std::vector<uint8_t> plain = src;
        ConvertYccToRgb(plain.data(), padded, width, rows, t);
        for (const Dsp *d : test::KernelLevels()) {
            std::vector<uint8_t> got = src;
            d->yccToRgb(got.data(), padded, width, rows, t);
            ASSERT_EQ(got, plain) << d->name << " width " << width;
        }
    }
}

// The packed variants equal the plain one for all 2^24 (Y, Cb, Cr).
TEST(YccToRgb, PackedVariantsMatchForEveryInput) {
    const YccToRgbTables &t = GetYccToRgbTables();
    const int32_t width = 256, height = 256;
    std::vector<uint8_t> src(static_cast<size_t>(width) * height * 4), plain(src.size()),
        fast(src.size());
    for (int y = 0; y < 256; ++y) {
        for (size_t i = 0; i < 65536; ++i) {
            src[4 * i] = static_cast<uint8_t>(i);                // Cr
            src[4 * i + 1] = static_cast<uint8_t>(i >> 8);       // Cb
            src[4 * i + 2] = static_cast<uint8_t>(y + 131 * i);  // every Y for each (Cb, Cr)
            src[4 * i + 3] = 0xAA;
        }
        std::memcpy(plain.data(), src.data(), src.size());
        ConvertYccToRgb(plain.data(), width, width, height, t);
        std::memcpy(fast.data(), src.data(), src.size());
        ConvertYccToRgbMmx(fast.data(), width, width, height, t);
        ASSERT_EQ(fast, plain) << "pass " << y;
        for (const Dsp *d : test::KernelLevels()) {
            if (d->yccToRgb == ConvertYccToRgb || d->yccToRgb == ConvertYccToRgbMmx) continue;
            std::memcpy(fast.data(), src.data(), src.size());
            d->yccToRgb(fast.data(), width, width, height, t);
            ASSERT_EQ(fast, plain) << d->name << " pass " << y;
        }
    }
}

}  // namespace
}  // namespace plix

namespace plix {
namespace {

// Strip pixels to a caller's three bytes and back on every kernel level, for
// every length up to past a few vector steps: the byte orders the formats
// name, nothing read or written outside the pixels asked for (the buffers
// are exactly their size, the output sits between guard bytes).
TEST(PixelOrder, ThreeBytePixelsOnEveryLevelInTheOrderNamed) {
    std::mt19937 random(5);
    for (const Dsp *k : test::KernelLevels())
        for (bool rgb : {false, true})
            for (size_t count = 0; count <= 70; ++count) {
                std::vector<uint8_t> strip(4 * count), three(3 * count);
                for (uint8_t &v : strip) v = static_cast<uint8_t>(random());
                for (uint8_t &v : three) v = static_cast<uint8_t>(random());
                std::vector<uint8_t> packed(3 * count + 16, 0xA5), unpacked(4 * count + 16, 0xA5);
                k->packPixels3(strip.data(), packed.data() + 8, count, rgb);
                k->unpackPixels3(three.data(), unpacked.data() + 8, count, rgb);
                for (size_t i = 0; i < count; ++i) {
                    const uint8_t *s = &strip[4 * i], *p = &packed[8 + 3 * i];
                    const uint8_t *t = &three[3 * i], *u = &unpacked[8 + 4 * i];
                    // Red first in memory for rgb; the strip holds blue, green, red.
                    const uint8_t red = t[rgb ? 0 : 2], blue = t[rgb ? 2 : 0];
                    ASSERT_EQ(std::vector<uint8_t>(p, p + 3),
                              (rgb ? std::vector<uint8_t>{s[2], s[1], s[0]}
                                   : std::vector<uint8_t>{s[0], s[1], s[2]}))
                        << k->name << " pixel " << i << " of " << count;
                    ASSERT_EQ(std::vector<uint8_t>(u, u + 4),
                              (std::vector<uint8_t>{blue, t[1], red, 0}))
                        << k->name << " pixel " << i << " of " << count;
                }
                for (size_t g = 0; g < 8; ++g) {
                    ASSERT_EQ(packed[g], 0xA5);
                    ASSERT_EQ(packed[8 + 3 * count + g], 0xA5) << k->name << " " << count;
                    ASSERT_EQ(unpacked[g], 0xA5);
                    ASSERT_EQ(unpacked[8 + 4 * count + g], 0xA5) << k->name << " " << count;
                }
            }
}

}  // namespace
}  // namespace plix
