// Encode and decode pipelines end to end: the caller's pixels survive an
// encode, byte 3 of decoded pixels, round trips of real photographs.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "codec.h"
#include "test_util.h"

namespace plix {
namespace {

using test::Picture;

void Load(Codec &c, const Picture &p) {
    ASSERT_TRUE(c.Picture().Create(p.width, p.height));
    for (int32_t y = 0; y < p.height; ++y)
        for (int32_t x = 0; x < p.width; ++x) c.Picture().SetPixel(x, y, p.At(x, y));
}

Picture Read(const Codec &c) {
    Picture p;
    p.width = c.Picture().Width();
    p.height = c.Picture().Height();
    for (int32_t y = 0; y < c.Picture().Height(); ++y)
        for (int32_t x = 0; x < c.Picture().Width(); ++x) p.pixels.push_back(c.Picture().GetPixel(x, y));
    return p;
}

Picture Gradient(int32_t w, int32_t h) {
    Picture p{w, h, {}};
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            p.pixels.push_back((static_cast<uint32_t>(x * 255 / (w > 1 ? w - 1 : 1)) << 16) |
                               (static_cast<uint32_t>(y * 255 / (h > 1 ? h - 1 : 1)) << 8) |
                               static_cast<uint32_t>((x + y) & 0xFF));
    return p;
}

TEST(Pipeline, YuvEncodeLeavesTheCallersPixelsAndRepeats) {
    Codec c;
    Load(c, Gradient(21, 13));
    size_t bytes = static_cast<size_t>(c.Picture().PaddedWidth()) * c.Picture().PaddedHeight() * 4;
    std::vector<uint8_t> before(c.Picture().Pixels(), c.Picture().Pixels() + bytes);
    std::string first, second;
    ASSERT_TRUE(c.EncodeMemory(first, 0, 3, 0));
    EXPECT_EQ(std::memcmp(before.data(), c.Picture().Pixels(), bytes), 0);
    ASSERT_TRUE(c.EncodeMemory(second, 0, 3, 0));
    EXPECT_EQ(first, second);
}

TEST(Pipeline, EncodeFileAndMemoryWriteTheSameBytes) {
    test::TempDir dir;
    Codec c;
    Load(c, Gradient(17, 9));
    std::string mem;
    ASSERT_TRUE(c.EncodeMemory(mem, 1, 5, 2));
    ASSERT_TRUE(c.EncodeFile(dir.File("g.plx").c_str(), 1, 5, 2));
    auto file = test::ReadFileBytes(dir.File("g.plx"));
    EXPECT_EQ(std::string(file.begin(), file.end()), mem);
}

TEST(Pipeline, FourthByteOfDecodedPixels) {
    Codec enc;
    Load(enc, Gradient(10, 3));
    for (int mode : {0, 1}) {
        std::string plx;
        ASSERT_TRUE(enc.EncodeMemory(plx, mode, 0, 0));
        Codec dec;
        ASSERT_TRUE(dec.DecodeMemory(plx.data(), static_cast<int32_t>(plx.size())));
        // 16 x 8 pixels: two block positions.
        EXPECT_EQ(dec.LastDecode().positions, 2);
        for (int32_t y = 0; y < dec.Picture().PaddedHeight(); ++y) {
            for (int32_t x = 0; x < dec.Picture().PaddedWidth(); ++x) {
                uint8_t b3 =
                    dec.Picture().Pixels()[(static_cast<size_t>(y) * dec.Picture().PaddedWidth() + x) * 4 + 3];
                bool inside = x < 10 && y < 3;
                // The inverse colour conversion writes 0 in the image area only;
                // the block store never writes byte 3.
                ASSERT_EQ(b3, mode == 0 && inside ? 0 : 0xFF) << mode << " " << x << "," << y;
            }
        }
    }
}

// A flat block's DC is 2 * (sample - 128). At q-factor 0 component 0 (red in
// RGB mode) is divided by 1 and comes back exactly; green and blue have a DC
// divisor of 3 under matrix 0, so they come back exactly when 2 * (v - 128) is
// a multiple of 3.
TEST(Pipeline, FlatPicturesComeBackExactlyWhereTheDivisorsAllowIt) {
    std::vector<uint32_t> colours;
    for (uint32_t v = 0; v < 256; ++v) {
        uint32_t gb = (2 * (static_cast<int>(v) - 128)) % 3 == 0 ? v : 128;
        colours.push_back((gb << 16) | (gb << 8) | v);
    }
    for (uint32_t colour : colours) {
        Picture p{12, 10, std::vector<uint32_t>(120, colour)};
        Codec c;
        Load(c, p);
        // Padding is white: fill it with the colour too so every block is flat.
        for (size_t i = 0; i < static_cast<size_t>(c.Picture().PaddedWidth()) * c.Picture().PaddedHeight();
             ++i) {
            c.Picture().Pixels()[i * 4] = static_cast<uint8_t>(colour >> 16);
            c.Picture().Pixels()[i * 4 + 1] = static_cast<uint8_t>(colour >> 8);
            c.Picture().Pixels()[i * 4 + 2] = static_cast<uint8_t>(colour);
        }
        std::string plx;
        ASSERT_TRUE(c.EncodeMemory(plx, 1, 0, 0));
        Codec d;
        ASSERT_TRUE(d.DecodeMemory(plx.data(), static_cast<int32_t>(plx.size())));
        ASSERT_EQ(Read(d).pixels, p.pixels) << std::hex << colour;
    }
}

struct PsnrCase {
    const char *file;
    int mode, q, matrix;
    double floor;  // dB: measured on these pictures, less 0.5 dB
};

class PhotoRoundTrip : public ::testing::TestWithParam<PsnrCase> {};

TEST_P(PhotoRoundTrip, KeepsItsPsnrFloor) {
    const PsnrCase &pc = GetParam();
    Picture src = test::LoadBmp24(test::DataPath(pc.file));
    Codec c;
    Load(c, src);
    std::string plx;
    ASSERT_TRUE(c.EncodeMemory(plx, pc.mode, pc.q, pc.matrix));
    Codec d;
    ASSERT_TRUE(d.DecodeMemory(plx.data(), static_cast<int32_t>(plx.size())));
    double psnr = test::Psnr(src, Read(d));
    std::printf("%s mode %d q %d matrix %d: %zu bytes, PSNR %.2f dB\n", pc.file, pc.mode, pc.q,
                pc.matrix, plx.size(), psnr);
    EXPECT_GE(psnr, pc.floor) << pc.file << " mode " << pc.mode << " q " << pc.q << " matrix "
                              << pc.matrix;
}

INSTANTIATE_TEST_SUITE_P(
    Photos, PhotoRoundTrip,
    ::testing::Values(PsnrCase{"../../samples/coffee_600x400.bmp", 0, 0, 0, 37.8},
                      PsnrCase{"../../samples/coffee_600x400.bmp", 0, 4, 0, 30.9},
                      PsnrCase{"../../samples/coffee_600x400.bmp", 0, 15, 0, 27.3},
                      PsnrCase{"../../samples/coffee_600x400.bmp", 1, 0, 0, 43.8},
                      PsnrCase{"../../samples/coffee_600x400.bmp", 0, 4, 1, 30.7},
                      PsnrCase{"../../samples/coffee_600x400.bmp", 0, 4, 2, 33.7},
                      PsnrCase{"photos/astronaut_512x512.bmp", 0, 0, 0, 38.2},
                      PsnrCase{"photos/astronaut_512x512.bmp", 0, 8, 0, 30.8}));

}  // namespace
}  // namespace plix

namespace plix {
namespace {

// A file without a body decodes from filler bytes only; what the same codec
// read before must not change them.
TEST(Pipeline, BodylessFileDecodesTheSameWhateverCameBefore) {
    const uint8_t bodyless[16] = {'P', 'L', 'I', 'X', 1, 0, 0, 0, 8, 0, 0, 0, 8, 0, 0, 0};
    std::vector<uint8_t> other(bodyless, bodyless + 16);
    other.push_back(0xA7);  // a one-byte body: its filler is 0xA7

    Codec fresh;
    ASSERT_TRUE(fresh.DecodeMemory(bodyless, 16));
    std::vector<uint8_t> expect(fresh.Picture().Pixels(), fresh.Picture().Pixels() + 256);

    Codec used;
    ASSERT_TRUE(used.DecodeMemory(other.data(), static_cast<int32_t>(other.size())));
    std::vector<uint8_t> afterOther(used.Picture().Pixels(), used.Picture().Pixels() + 256);
    ASSERT_TRUE(used.DecodeMemory(bodyless, 16));
    EXPECT_EQ(std::vector<uint8_t>(used.Picture().Pixels(), used.Picture().Pixels() + 256), expect);
    EXPECT_NE(afterOther, expect);
}

}  // namespace
}  // namespace plix
