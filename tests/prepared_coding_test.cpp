// The encoder's fast path: blocks prepared by a forward kernel (categories and
// value bits found ahead) are coded to exactly the plain coder's bits, the
// kernels prepare exactly what the plain form does, and every kernel level
// writes the same file.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <fstream>
#include <sstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "codec.h"
#include "coefficients.h"
#include "dsp/dsp.h"
#include "entropy/block_decoder.h"
#include "entropy/block_encoder.h"
#include "kernel_levels.h"
#include "streams.h"
#include "conformance_cases.h"
#include "test_util.h"
#include "transform/fdct.h"
#include "transform/quant.h"

namespace plix {
namespace {

using Block = std::vector<int32_t>;

constexpr int kClassOf[3] = {0, 1, 1};

// Prepared blocks in the order a coder reads: the entries of PrepareBlock's
// natural order moved to zigzag or transposed order.
std::vector<PreparedBlock> InOrder(PreparedOrder order, std::vector<PreparedBlock> blocks) {
    for (PreparedBlock &b : blocks) {
        const PreparedBlock natural = b;
        for (int i = 0; i < 64; ++i) {
            const int from = order == PreparedOrder::kZigzag       ? ZigzagOrder[i]
                             : order == PreparedOrder::kTransposed ? i % 8 * 8 + i / 8
                                                                   : i;
            b.size[i] = natural.size[from];
            b.bits[i] = natural.bits[from];
        }
    }
    return blocks;
}

// Quantised blocks of every density: positions set with probability
// density / 8, values of every category 0..9, and long zero runs.
std::vector<Block> RandomBlocks(std::mt19937 &rng, int count, int density) {
    std::vector<Block> out;
    for (int i = 0; i < count; ++i) {
        Block b(64, 0);
        b[0] = static_cast<int32_t>(rng() % 511) - 256;
        for (int j = 1; j < 64; ++j) {
            if (static_cast<int>(rng() % 8) >= density) continue;
            const int bits = static_cast<int>(rng() % 10);
            const int32_t v = static_cast<int32_t>(rng() & ((1u << bits) - 1));
            b[j] = rng() & 1 ? -v : v;
        }
        if (i % 5 == 0) b[ZigzagOrder[1 + rng() % 63]] = rng() & 1 ? 511 : -511;
        if (i % 7 == 0) b[63] = 1;  // no end of block
        out.push_back(b);
    }
    return out;
}

void Finish(StreamWriter &w) {
    w.Flush();
    EXPECT_TRUE(w.Close());
}

// The plain coder's bytes for blocks of components 0, 1, 2 in turn.
std::string ReferenceBytes(const std::vector<Block> &blocks, int32_t start[3] = nullptr) {
    std::string bytes;
    StreamWriter w;
    EXPECT_TRUE(w.OpenMemory(&bytes));
    int32_t pred[3] = {0, 0, 0};
    if (start) std::copy(start, start + 3, pred);
    for (size_t i = 0; i < blocks.size(); ++i)
        EncodeBlockSymbolsReference(w, blocks[i].data(), kClassOf[i % 3], pred[i % 3]);
    Finish(w);
    return bytes;
}

TEST(BlockPrepared, CategoriesAndValueBits) {
    // Value bits: v itself when positive, v - 1 when negative, in size bits.
    const struct {
        int32_t v;
        int size;
        uint16_t bits;
    } cases[] = {{0, 0, 0},     {1, 1, 1},    {-1, 1, 0},    {2, 2, 2},     {-2, 2, 1},
                 {-3, 2, 0},    {5, 3, 5},    {-5, 3, 2},    {255, 8, 255}, {-256, 9, 255},
                 {511, 9, 511}, {-511, 9, 0}, {256, 9, 256}, {-255, 8, 0}};
    for (const auto &c : cases) {
        Block b(64, 0);
        b[ZigzagOrder[37]] = c.v;
        PreparedBlock p;
        ASSERT_TRUE(PrepareBlock(b.data(), p)) << c.v;
        EXPECT_EQ(p.size[ZigzagOrder[37]], c.size) << c.v;
        EXPECT_EQ(p.bits[ZigzagOrder[37]], c.bits) << c.v;
        EXPECT_EQ(p.size[ZigzagOrder[36]], 0);
        EXPECT_EQ(p.bits[ZigzagOrder[36]], 0);
    }
}

TEST(BlockPrepared, OnlyAcValuesOutsideTheCodableRangeFail) {
    PreparedBlock p;
    for (int32_t v : {512, -512, 4096, INT32_MAX, INT32_MIN}) {
        Block b(64, 0);
        b[0] = v;  // the DC is coded as a difference, whatever its size
        EXPECT_TRUE(PrepareBlock(b.data(), p)) << v;
        EXPECT_EQ(p.dc, v);
        for (int pos : {1, 2, 63}) {
            Block c(64, 0);
            c[pos] = v;
            EXPECT_FALSE(PrepareBlock(c.data(), p)) << v << " at " << pos;
        }
    }
}

// Block by block, batched by positions, and with DC differences that no
// symbol codes (which go through the plain coder): the same bytes.
TEST(BlockPrepared, CodersWriteTheReferenceBits) {
    std::mt19937 rng(77);
    for (int round = 0; round < 120; ++round) {
        std::vector<Block> blocks = RandomBlocks(rng, 3 * 12, round % 9);
        if (round % 6 == 5) {
            // Far apart DC values: differences beyond -511..511.
            blocks[4][0] = 300000;
            blocks[7][0] = -70000;
            blocks[10][0] = INT32_MIN;
            blocks[13][0] = INT32_MAX;
        }
        std::vector<PreparedBlock> prepared(blocks.size());
        for (size_t i = 0; i < blocks.size(); ++i)
            ASSERT_TRUE(PrepareBlock(blocks[i].data(), prepared[i]));
        const std::string expect = ReferenceBytes(blocks);

        std::string single;
        StreamWriter ws;
        ASSERT_TRUE(ws.OpenMemory(&single));
        int32_t ps[3] = {0, 0, 0};
        for (size_t i = 0; i < blocks.size(); ++i)
            EncodePreparedBlock(ws, prepared[i], kClassOf[i % 3], ps[i % 3]);
        Finish(ws);
        ASSERT_EQ(single, expect) << "round " << round;
        for (int k = 0; k < 3; ++k) EXPECT_EQ(ps[k], blocks[blocks.size() - 3 + k][0]);
        // The same blocks in zigzag and transposed order, the far DC values
        // included.
        for (const PreparedOrder order : {PreparedOrder::kZigzag, PreparedOrder::kTransposed}) {
            const std::vector<PreparedBlock> ordered = InOrder(order, prepared);
            std::string bytes;
            ASSERT_TRUE(ws.OpenMemory(&bytes));
            for (int k = 0; k < 3; ++k) ps[k] = 0;
            for (size_t i = 0; i < blocks.size(); ++i)
                EncodePreparedBlock(ws, ordered[i], kClassOf[i % 3], ps[i % 3], order);
            Finish(ws);
            ASSERT_EQ(bytes, expect) << "order " << static_cast<int>(order) << ", round " << round;
        }
        // Batches of 1, 2 and 3 positions, through each level's coder.
        for (const Dsp *d : test::KernelLevels()) {
            const std::vector<PreparedBlock> ordered = InOrder(d->preparedOrder, prepared);
            std::string batched;
            StreamWriter wb;
            ASSERT_TRUE(wb.OpenMemory(&batched));
            int32_t pb[3] = {0, 0, 0};
            for (size_t i = 0, n = 1; i < blocks.size(); i += 3 * n, n = n % 3 + 1) {
                n = std::min(n, (blocks.size() - i) / 3);
                d->encodePreparedPositions(wb, &ordered[i], static_cast<int>(n), pb);
            }
            Finish(wb);
            ASSERT_EQ(batched, expect) << d->name << " round " << round;
            for (int k = 0; k < 3; ++k) EXPECT_EQ(pb[k], blocks[blocks.size() - 3 + k][0]);
        }
    }
}

// Streams of many chunks: batches that meet the end of the writer's buffer
// are coded block by block there, with the same result.
TEST(BlockPrepared, BatchesAcrossChunkBoundaries) {
    std::mt19937 rng(5);
    for (int density : {8, 3}) {
        std::vector<Block> blocks;
        while (blocks.size() < 3 * 2400) {
            for (const Block &b : RandomBlocks(rng, 6, density)) blocks.push_back(b);
        }
        std::vector<PreparedBlock> prepared(blocks.size());
        for (size_t i = 0; i < blocks.size(); ++i)
            ASSERT_TRUE(PrepareBlock(blocks[i].data(), prepared[i]));
        const std::string expect = ReferenceBytes(blocks);
        for (const Dsp *d : test::KernelLevels()) {
            const std::vector<PreparedBlock> ordered = InOrder(d->preparedOrder, prepared);
            // Batches of 1 to 8 positions, as the encoder gives them.
            std::string bytes;
            StreamWriter w;
            ASSERT_TRUE(w.OpenMemory(&bytes));
            int32_t pred[3] = {0, 0, 0};
            for (size_t i = 0, n = 2; i < blocks.size(); i += 3 * n, n = n % 8 + 1) {
                n = std::min(n, (blocks.size() - i) / 3);
                d->encodePreparedPositions(w, &ordered[i], static_cast<int>(n), pred);
            }
            Finish(w);
            ASSERT_GT(bytes.size(), 3 * kStreamChunk);
            ASSERT_EQ(bytes, expect) << d->name << " density " << density;
        }
    }
}

bool SamePrepared(const PreparedBlock &a, const PreparedBlock &b) {
    return a.dc == b.dc && a.nonZero == b.nonZero &&
           std::memcmp(a.bits, b.bits, sizeof a.bits) == 0 &&
           std::memcmp(a.size, b.size, sizeof a.size) == 0;
}

// Pixels of every kind (noise, extremes, flat, smooth) through each kernel
// that prepares blocks and through the plain form, with the tables of every
// matrix set and q-factor class and with arbitrary divisors; the plain form
// also shows that the transform's coefficients always fit the codes.
TEST(BlockPreparedKernels, MatchThePlainForm) {
    const auto &levels = test::KernelLevels();
    const Dsp *plain = GetDspLevel(DspLevel::kPlain);
    std::mt19937 rng(19);
    const size_t rowBytes = 80;  // 20 pixels a row; the positions start at pixel 2
    std::vector<uint8_t> pixels(rowBytes * 8);
    int32_t t0[64], t1[64];
    for (int n = 0; n < 12000; ++n) {
        const int kind = n % 5;
        const int base = static_cast<int>(rng() % 256), spread = 1 + static_cast<int>(rng() % 64);
        for (size_t i = 0; i < pixels.size(); ++i) {
            uint8_t &p = pixels[i];
            switch (kind) {
                case 0:
                    p = static_cast<uint8_t>(rng());
                    break;
                case 1:
                    p = (rng() & 1) ? 255 : 0;
                    break;
                case 2: {  // checkerboards and stripes of extremes per channel
                    const size_t x = (i % rowBytes) / 4, y = i / rowBytes;
                    p = (((x >> (n % 3)) ^ (y >> ((n / 3) % 3))) & 1) != 0 ? 255 : 0;
                    break;
                }
                case 3:
                    p = static_cast<uint8_t>(base);
                    break;
                default:
                    p = static_cast<uint8_t>(
                        std::clamp(base + static_cast<int>(rng() % spread) - spread / 2, 0, 255));
                    break;
            }
        }
        if (n % 4 == 3) {
            for (int k = 0; k < 64; ++k) {
                t0[k] = 1 + static_cast<int32_t>(rng() % 254);
                t1[k] = 1 + static_cast<int32_t>(rng() % 254);
            }
        } else {
            BuildQuantTables(static_cast<uint8_t>(n % 3),
                             static_cast<uint8_t>(n % 4 == 0 ? 0 : n % 17), t0, t1);
        }
        QuantDivisors luma, chroma;
        PrepareQuantDivisors(t0, luma);
        PrepareQuantDivisors(t1, chroma);

        int32_t coefficients[6][64];
        plain->forwardBlocks(pixels.data() + 8, rowBytes, luma, chroma, coefficients);
        plain->forwardBlocks(pixels.data() + 40, rowBytes, luma, chroma, coefficients + 3);
        std::vector<PreparedBlock> natural(6);
        for (int k = 0; k < 6; ++k) ASSERT_TRUE(PrepareBlock(coefficients[k], natural[k])) << n;
        for (const Dsp *d : levels) {
            const std::vector<PreparedBlock> expect = InOrder(d->preparedOrder, natural);
            PreparedBlock got[6];
            std::memset(got, 0xA5, sizeof got);  // every entry must be written
            d->forwardBlocks2Prepared(pixels.data() + 8, rowBytes, luma, chroma, got);
            for (int k = 0; k < 6; ++k)
                ASSERT_TRUE(SamePrepared(got[k], expect[k]))
                    << d->name << " " << n << " block " << k;
        }
        // The kernels that convert from RGB as they load: the plain
        // conversion, then the plain transform.
        std::vector<uint8_t> ycc(pixels.size());
        for (int r = 0; r < 8; ++r)
            plain->rgbToYcc(pixels.data() + r * rowBytes, ycc.data() + r * rowBytes, 20);
        plain->forwardBlocks(ycc.data() + 8, rowBytes, luma, chroma, coefficients);
        plain->forwardBlocks(ycc.data() + 40, rowBytes, luma, chroma, coefficients + 3);
        for (int k = 0; k < 6; ++k) ASSERT_TRUE(PrepareBlock(coefficients[k], natural[k])) << n;
        for (const Dsp *d : levels) {
            if (!d->forwardRgbBlocks2Prepared) continue;
            const std::vector<PreparedBlock> expect = InOrder(d->preparedOrder, natural);
            PreparedBlock got[6];
            std::memset(got, 0xA5, sizeof got);
            d->forwardRgbBlocks2Prepared(pixels.data() + 8, rowBytes, luma, chroma, got);
            for (int k = 0; k < 6; ++k)
                ASSERT_TRUE(SamePrepared(got[k], expect[k]))
                    << d->name << " from RGB " << n << " block " << k;
        }
    }
}

// A photograph (and pictures whose width leaves one position at the end of
// each strip, or whose last strip is part padding) encoded with each kernel
// level: the same file.
TEST(PipelineLevels, EveryKernelLevelWritesTheSameFile) {
    const test::Picture photo = test::LoadBmp24(test::DataPath("photos/astronaut_512x512.bmp"));
    for (const auto &[width, height] : {std::pair{512, 64}, {200, 64}, {72, 64}, {203, 61}}) {
        Codec c;
        ASSERT_TRUE(c.Picture().Create(width, height));
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x)
                c.Picture().SetPixel(x, y, photo.At((x + 100) % photo.width, y + 200));
        const struct {
            int mode, q, matrix;
        } settings[] = {{0, 0, 0}, {0, 2, 0}, {0, 4, 1}, {0, 15, 0}, {1, 0, 2}, {0, 255, 0}};
        for (const auto &s : settings) {
            std::string expect;
            c.UseKernels(GetDspLevel(DspLevel::kPlain));
            ASSERT_TRUE(c.EncodeMemory(expect, s.mode, s.q, s.matrix));
            for (const Dsp *d : test::FastKernelLevels()) {
                c.UseKernels(d);
                std::string got;
                ASSERT_TRUE(c.EncodeMemory(got, s.mode, s.q, s.matrix));
                ASSERT_EQ(got, expect) << d->name << " width " << width << " q " << s.q;
            }
        }
    }
}

// Pictures large enough for the streaming stores, at widths that end each
// strip with four positions, a pair or one position, rows whole cache lines
// or half a line off, decoded with each kernel level: the plain level's
// pixels.
TEST(PipelineLevels, EveryKernelLevelDecodesWidePictures) {
    const test::Picture photo = test::LoadBmp24(test::DataPath("photos/astronaut_512x512.bmp"));
    for (const int32_t width : {352, 360, 344, 376, 383, 338}) {
        const int32_t height = 203;
        Codec c;
        ASSERT_TRUE(c.Picture().Create(width, height));
        ASSERT_GE(c.Picture().ByteSize(), size_t{256} << 10);
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x)
                c.Picture().SetPixel(x, y, photo.At((x + 50) % photo.width, y + 150));
        for (const int q : {0, 4, 15}) {
            std::string plx;
            ASSERT_TRUE(c.EncodeMemory(plx, 0, q, 0));
            Codec plain;
            plain.UseKernels(GetDspLevel(DspLevel::kPlain));
            ASSERT_TRUE(plain.DecodeMemory(plx.data(), static_cast<int32_t>(plx.size())));
            const size_t bytes = plain.Picture().ByteSize();
            for (const Dsp *d : test::FastKernelLevels()) {
                Codec codec;
                codec.UseKernels(d);
                ASSERT_TRUE(codec.DecodeMemory(plx.data(), static_cast<int32_t>(plx.size())));
                ASSERT_EQ(std::memcmp(codec.Picture().Pixels(), plain.Picture().Pixels(), bytes), 0)
                    << d->name << " width " << width << " q " << q;
            }
        }
    }
}

// Every conformance file decoded with each kernel level gives its expected
// buffer, so that processors without the widest kernels decode the same.
TEST(PipelineLevels, EveryKernelLevelDecodesTheVectors) {
    for (const test::ConformanceCase &c : test::ConformanceCases()) {
        const auto plx = test::ReadFileBytes(test::ConformancePath(c["plx"]));
        const auto expected = test::ReadFileBytes(test::ConformancePath(c["expected_buffer"]));
        for (const Dsp *d : test::KernelLevels()) {
            Codec codec;
            codec.UseKernels(d);
            ASSERT_TRUE(codec.DecodeMemory(plx.data(), static_cast<int32_t>(plx.size())))
                << c["name"];
            const Image &image = codec.Picture();
            const size_t bytes =
                static_cast<size_t>(image.PaddedWidth()) * image.PaddedHeight() * 4;
            ASSERT_EQ(bytes, expected.size()) << c["name"];
            EXPECT_TRUE(bytes == 0 || std::memcmp(image.Pixels(), expected.data(), bytes) == 0)
                << c["name"] << " with " << d->name;
        }
    }
    EXPECT_GE(test::ConformanceCases().size(), 131u);
}

}  // namespace
}  // namespace plix
