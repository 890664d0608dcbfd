// BMP import and export: the classic 54-byte files, the header and bit-field
// variants of today's writers, refusals of damaged files, and files written
// and read by ImageMagick, Pillow and the BMP Suite.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <thread>

#include <sys/stat.h>
#include <string>
#include <vector>

#include "bitmap.h"
#include "codec.h"
#include "plix/plix.h"
#include "test_util.h"

namespace {

using plix::BitmapImport;
using plix::Codec;
using plix::test::DataPath;
using plix::test::ReadFileBytes;
using plix::test::TempDir;
using plix::test::WriteFileBytes;

struct CodecDeleter {
    void operator()(Codec *c) const { PLIX_Destructor(c); }
};
using CodecPtr = std::unique_ptr<Codec, CodecDeleter>;

CodecPtr NewCodec() {
    return CodecPtr(Codec::From(PLIX_Constructor()));
}

// ---- Building BMP files byte by byte ---------------------------------------

void Put16(std::vector<uint8_t> &v, size_t at, uint32_t x) {
    v[at] = static_cast<uint8_t>(x);
    v[at + 1] = static_cast<uint8_t>(x >> 8);
}

void Put32(std::vector<uint8_t> &v, size_t at, uint32_t x) {
    for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
}

// Shortens v by erasing: GCC 12 warns falsely about a shrinking resize in
// sanitizer builds.
void DropLast(std::vector<uint8_t> &v, size_t n) {
    v.erase(v.end() - static_cast<std::ptrdiff_t>(n), v.end());
}

struct BmpSpec {
    uint32_t infoSize = 40;
    int32_t width = 0;
    int32_t height = 0;
    uint32_t bpp = 24;
    uint32_t compression = 0;
    std::vector<uint32_t> masks;  // in the header (52+) or after a 40-byte one
    uint32_t gap = 0;             // bytes between headers and pixel data
    int64_t offset = -1;          // data offset field; -1: where the data is
    std::vector<uint8_t> pixels;  // rows as stored
};

std::vector<uint8_t> MakeBmp(const BmpSpec &s) {
    const bool maskAfterHeader = s.infoSize == 40 && !s.masks.empty();
    size_t headers = 14 + s.infoSize + (maskAfterHeader ? 4 * s.masks.size() : 0);
    std::vector<uint8_t> f(headers + s.gap, 0);
    f[0] = 'B';
    f[1] = 'M';
    const size_t dataAt = headers + s.gap;
    Put32(f, 2, static_cast<uint32_t>(dataAt + s.pixels.size()));
    Put32(f, 10, static_cast<uint32_t>(s.offset >= 0 ? s.offset : static_cast<int64_t>(dataAt)));
    Put32(f, 14, s.infoSize);
    Put32(f, 18, static_cast<uint32_t>(s.width));
    Put32(f, 22, static_cast<uint32_t>(s.height));
    Put16(f, 26, 1);
    Put16(f, 28, s.bpp);
    Put32(f, 30, s.compression);
    for (size_t i = 0; i < s.masks.size(); ++i) {
        // Masks start at byte 54 both after a classic header and inside a larger one.
        if (!maskAfterHeader && 40 + 4 * i + 4 > s.infoSize) break;
        Put32(f, 54 + 4 * i, s.masks[i]);
    }
    for (uint32_t i = 0; i < s.gap; ++i) f[headers + i] = 0xA5;  // junk
    f.insert(f.end(), s.pixels.begin(), s.pixels.end());
    return f;
}

// Rows of 24-bit pixels (given top row first, as 0xRRGGBB) stored bottom-up
// (or top-down) with junk in the row padding.
std::vector<uint8_t> Rows24(const std::vector<std::vector<uint32_t>> &img, bool topDown = false) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < img.size(); ++i) {
        const auto &row = img[topDown ? i : img.size() - 1 - i];
        size_t start = out.size();
        for (uint32_t c : row) {
            out.push_back(static_cast<uint8_t>(c));
            out.push_back(static_cast<uint8_t>(c >> 8));
            out.push_back(static_cast<uint8_t>(c >> 16));
        }
        while ((out.size() - start) % 4) out.push_back(0xEE);
    }
    return out;
}

// A 3 x 2 picture with distinct colours, top row first (0xRRGGBB).
const std::vector<std::vector<uint32_t>> kPic = {{0x102030, 0x405060, 0x708090},
                                                 {0xA0B0C0, 0xD0E0F0, 0x01020F}};

// Colour value 0x00BBGGRR of a 0xRRGGBB triple.
uint32_t Colour(uint32_t rgb) {
    return ((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF);
}

class BitmapFiles : public ::testing::Test {
protected:
    TempDir dir_;
    CodecPtr codec_ = NewCodec();

    std::string Write(const std::string &name, const std::vector<uint8_t> &bytes) {
        std::string path = dir_.File(name);
        WriteFileBytes(path, bytes);
        return path;
    }

    BitmapImport Import(const std::vector<uint8_t> &bytes) {
        return plix::ImportBitmap(codec_->Picture(), Write("in.bmp", bytes).c_str());
    }

    void ExpectPic(bool fourthByteZero = true) {
        ASSERT_NE(codec_->Picture().Pixels(), nullptr);
        ASSERT_EQ(codec_->Picture().Width(), 3);
        ASSERT_EQ(codec_->Picture().Height(), 2);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x) {
                EXPECT_EQ(codec_->Picture().GetPixel(x, y), Colour(kPic[y][x])) << x << "," << y;
                if (fourthByteZero) {
                    EXPECT_EQ(codec_->Picture().Pixels()[(y * 8 + x) * 4 + 3], 0);
                }
            }
    }

    // Padding columns and rows keep the 0xFF bytes of CreateImage.
    void ExpectPaddingWhite() {
        for (int32_t y = 0; y < codec_->Picture().PaddedHeight(); ++y)
            for (int32_t x = 0; x < codec_->Picture().PaddedWidth(); ++x) {
                if (x < codec_->Picture().Width() && y < codec_->Picture().Height()) continue;
                const uint8_t *p = codec_->Picture().Pixels() +
                                   (static_cast<size_t>(y) * codec_->Picture().PaddedWidth() + x) * 4;
                ASSERT_EQ(p[0] & p[1] & p[2] & p[3], 0xFF) << x << "," << y;
            }
    }

    void ExpectRefused(const std::vector<uint8_t> &bytes) {
        ASSERT_TRUE(codec_->Picture().Create(4, 4));
        EXPECT_EQ(Import(bytes), BitmapImport::Refused);
        EXPECT_EQ(codec_->Picture().Pixels(), nullptr);
    }
};

// ---- The classic files: the original import rules, unchanged ------------------------

TEST_F(BitmapFiles, Classic24BitRowsArePaddedAndStoredBottomUp) {
    BmpSpec s;
    s.width = 3;
    s.height = 2;
    s.pixels = Rows24(kPic);
    ASSERT_EQ(s.pixels.size(), 24u);  // rows of 12 bytes, 3 of them skipped
    ASSERT_EQ(Import(MakeBmp(s)), BitmapImport::Ok);
    ExpectPic();
    ExpectPaddingWhite();
}

TEST_F(BitmapFiles, Classic16BitTakesFiveBitsPerChannelAtTheTop) {
    BmpSpec s;
    s.bpp = 16;
    s.width = 5;
    s.height = 1;
    // blue 31; red 31; green 31; bit 15 alone; a mixed value; 2 padding bytes
    s.pixels = {0x1F, 0x00, 0x00, 0x7C, 0xE0, 0x03, 0x00, 0x80, 0x21, 0x84, 0xEE, 0xEE};
    ASSERT_EQ(Import(MakeBmp(s)), BitmapImport::Ok);
    EXPECT_EQ(codec_->Picture().GetPixel(0, 0), 0xF80000u);
    EXPECT_EQ(codec_->Picture().GetPixel(1, 0), 0x0000F8u);
    EXPECT_EQ(codec_->Picture().GetPixel(2, 0), 0x00F800u);
    EXPECT_EQ(codec_->Picture().GetPixel(3, 0), 0u);
    // 0x8421: red 1, green 1, blue 1
    EXPECT_EQ(codec_->Picture().GetPixel(4, 0), 0x080808u);
    for (int x = 0; x < 5; ++x) EXPECT_EQ(codec_->Picture().Pixels()[x * 4 + 3], 0);
    ExpectPaddingWhite();
}

TEST_F(BitmapFiles, Classic32BitCopiesAllFourBytes) {
    BmpSpec s;
    s.bpp = 32;
    s.width = 2;
    s.height = 2;
    s.pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    ASSERT_EQ(Import(MakeBmp(s)), BitmapImport::Ok);
    // First stored row is the bottom one.
    const uint8_t bottom[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const uint8_t top[8] = {9, 10, 11, 12, 13, 14, 15, 16};
    EXPECT_EQ(std::memcmp(codec_->Picture().Pixels() + 8 * 4, bottom, 8), 0);
    EXPECT_EQ(std::memcmp(codec_->Picture().Pixels(), top, 8), 0);
    ExpectPaddingWhite();
}

TEST_F(BitmapFiles, PaletteFilesAreRefusedAndLeaveNoImage) {
    BmpSpec s;
    s.bpp = 8;
    s.width = 4;
    s.height = 1;
    s.gap = 1024;  // colour table
    s.pixels = {0, 1, 2, 3};
    ExpectRefused(MakeBmp(s));
    for (const char *f : {"bmp/pil_8.bmp", "bmp/pil_1.bmp"}) {
        ASSERT_TRUE(codec_->Picture().Create(4, 4));
        EXPECT_EQ(plix::ImportBitmap(codec_->Picture(), DataPath(f).c_str()), BitmapImport::Refused)
            << f;
        EXPECT_EQ(codec_->Picture().Pixels(), nullptr) << f;
    }
}

TEST_F(BitmapFiles, EncodeBitmapFileResults) {
    const std::string out = dir_.File("out.plx");
    auto encode = [&](const std::string &in, const std::string &plx) {
        return codec_->ops->EncodeBitmapFile(codec_.get(), in.c_str(), plx.c_str(), 0, 0, 0);
    };
    // A missing file changes nothing.
    ASSERT_TRUE(codec_->Picture().Create(4, 4));
    codec_->Picture().SetPixel(1, 1, 0x123456);
    EXPECT_EQ(plix::ImportBitmap(codec_->Picture(), dir_.File("absent.bmp").c_str()),
              BitmapImport::CannotOpen);
    EXPECT_EQ(encode(dir_.File("absent.bmp"), out), 0);
    EXPECT_EQ(codec_->Picture().GetPixel(1, 1), 0x123456u);
    // A refused file leaves no image and writes nothing.
    EXPECT_EQ(encode(DataPath("bmp/pil_8.bmp"), out), 0);
    EXPECT_EQ(codec_->Picture().Pixels(), nullptr);
    EXPECT_FALSE(std::filesystem::exists(out));
    // A failed encode is reported, and leaves no image either.
    BmpSpec s;
    s.width = 3;
    s.height = 2;
    s.pixels = Rows24(kPic);
    EXPECT_EQ(encode(Write("pic.bmp", MakeBmp(s)), dir_.File("no/such/folder/o.plx")), 0);
    EXPECT_EQ(codec_->Picture().Pixels(), nullptr);
}

// ---- Variants of today's writers --------------------------------------------

TEST_F(BitmapFiles, PixelDataOffsetIsHonoured) {
    BmpSpec s;
    s.width = 3;
    s.height = 2;
    s.gap = 10;
    s.pixels = Rows24(kPic);
    ASSERT_EQ(Import(MakeBmp(s)), BitmapImport::Ok);
    ExpectPic();
}

TEST_F(BitmapFiles, HeaderSizes) {
    for (uint32_t size : {40u, 52u, 56u, 108u, 124u}) {
        SCOPED_TRACE(size);
        BmpSpec s;
        s.infoSize = size;
        s.width = 3;
        s.height = 2;
        s.pixels = Rows24(kPic);
        ASSERT_EQ(Import(MakeBmp(s)), BitmapImport::Ok);
        ExpectPic();
    }
    // The 12-byte core header, other systems' 16..64-byte ones, and nonsense.
    for (uint32_t size : {12u, 16u, 39u, 41u, 64u, 125u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(size);
        BmpSpec s;
        s.width = 3;
        s.height = 2;
        s.pixels = Rows24(kPic);
        auto f = MakeBmp(s);
        Put32(f, 14, size);
        ExpectRefused(f);
    }
}

TEST_F(BitmapFiles, BitFieldMasksAfterAClassicHeader) {
    // RGB565: 0xF800 red, 0x07E0 green, 0x001F blue.
    BmpSpec s;
    s.bpp = 16;
    s.compression = 3;
    s.masks = {0xF800, 0x07E0, 0x001F};
    s.width = 4;
    s.height = 1;
    s.pixels = {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0x20, 0x08};  // red, green, blue, r1 g1 b0
    ASSERT_EQ(Import(MakeBmp(s)), BitmapImport::Ok);
    EXPECT_EQ(codec_->Picture().GetPixel(0, 0), 0x0000F8u);
    EXPECT_EQ(codec_->Picture().GetPixel(1, 0), 0x00FC00u);
    EXPECT_EQ(codec_->Picture().GetPixel(2, 0), 0xF80000u);
    EXPECT_EQ(codec_->Picture().GetPixel(3, 0), 0x000408u);
}

TEST_F(BitmapFiles, BitFieldMasksInTheLargerHeaders) {
    for (uint32_t size : {52u, 56u, 108u, 124u}) {
        SCOPED_TRACE(size);
        // 32 bits as A8 B8 G8 R8 from the top (masks red 0xFF, blue 0xFF0000).
        BmpSpec s;
        s.infoSize = size;
        s.bpp = 32;
        s.compression = 3;
        s.masks = {0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000};
        s.width = 1;
        s.height = 1;
        s.pixels = {0x11, 0x22, 0x33, 0x44};  // red 0x11, green 0x22, blue 0x33, alpha 0x44
        ASSERT_EQ(Import(MakeBmp(s)), BitmapImport::Ok);
        EXPECT_EQ(codec_->Picture().GetPixel(0, 0), 0x332211u);
        // The alpha mask exists from the 56-byte header on.
        EXPECT_EQ(codec_->Picture().Pixels()[3], size >= 56 ? 0x44 : 0);
    }
}

TEST_F(BitmapFiles, AlphaBitFieldsAfterAClassicHeader) {
    BmpSpec s;
    s.bpp = 32;
    s.compression = 6;
    s.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
    s.width = 1;
    s.height = 1;
    s.pixels = {0x33, 0x22, 0x11, 0x80};
    ASSERT_EQ(Import(MakeBmp(s)), BitmapImport::Ok);
    EXPECT_EQ(codec_->Picture().GetPixel(0, 0), 0x332211u);
    EXPECT_EQ(codec_->Picture().Pixels()[3], 0x80);
}

TEST_F(BitmapFiles, ChannelsWiderAndNarrowerThanEightBits) {
    // 10-10-10 keeps the top 8 bits; 2-3-1 in 16 bits puts the bits at the top.
    BmpSpec s;
    s.bpp = 32;
    s.compression = 3;
    s.masks = {0x3FF00000, 0x000FFC00, 0x000003FF};
    s.width = 1;
    s.height = 1;
    const uint32_t px = (0x3FFu << 20) | (0x203u << 10) | 0x0FFu;
    s.pixels = {static_cast<uint8_t>(px), static_cast<uint8_t>(px >> 8),
                static_cast<uint8_t>(px >> 16), static_cast<uint8_t>(px >> 24)};
    ASSERT_EQ(Import(MakeBmp(s)), BitmapImport::Ok);
    EXPECT_EQ(codec_->Picture().GetPixel(0, 0), (0x3Fu << 16) | (0x80u << 8) | 0xFFu);

    BmpSpec t;
    t.bpp = 16;
    t.compression = 3;
    t.masks = {0x30, 0x0E, 0x01};
    t.width = 1;
    t.height = 1;
    t.pixels = {0x2B, 0x00, 0xEE, 0xEE};  // red 2, green 5, blue 1
    ASSERT_EQ(Import(MakeBmp(t)), BitmapImport::Ok);
    EXPECT_EQ(codec_->Picture().GetPixel(0, 0), (0x80u << 16) | (0xA0u << 8) | 0x80u);
}

TEST_F(BitmapFiles, An16BitFileWithoutBitFieldsIgnoresMasksInItsHeader) {
    BmpSpec s;
    s.infoSize = 124;
    s.bpp = 16;
    s.masks = {0xF800, 0x07E0, 0x001F};  // present, but compression 0 means 5-5-5
    s.width = 1;
    s.height = 1;
    s.pixels = {0x00, 0x7C, 0, 0};
    ASSERT_EQ(Import(MakeBmp(s)), BitmapImport::Ok);
    EXPECT_EQ(codec_->Picture().GetPixel(0, 0), 0x0000F8u);
}

TEST_F(BitmapFiles, TopDownRowsAreReadRightSideUp) {
    for (uint32_t bpp : {24u, 32u}) {
        SCOPED_TRACE(bpp);
        BmpSpec s;
        s.bpp = bpp;
        s.width = 3;
        s.height = -2;
        if (bpp == 24) {
            s.pixels = Rows24(kPic, true);
        } else {
            for (const auto &row : kPic)
                for (uint32_t c : row)
                    for (int k = 0; k < 4; ++k)
                        s.pixels.push_back(k < 3 ? static_cast<uint8_t>(c >> (8 * k)) : 0);
        }
        ASSERT_EQ(Import(MakeBmp(s)), BitmapImport::Ok);
        ExpectPic();
        ExpectPaddingWhite();
    }
}

TEST_F(BitmapFiles, OnlyThePaddingOfTheLastRowMayBeMissing) {
    BmpSpec s;
    s.width = 3;
    s.height = 2;
    s.pixels = Rows24(kPic);
    DropLast(s.pixels, 3);  // last row without its padding
    ASSERT_EQ(Import(MakeBmp(s)), BitmapImport::Ok);
    ExpectPic();

    DropLast(s.pixels, 1);  // one pixel byte short
    ExpectRefused(MakeBmp(s));
    s.pixels.clear();
    ExpectRefused(MakeBmp(s));
}

TEST_F(BitmapFiles, DamagedHeadersAreRefused) {
    auto base = [] {
        BmpSpec s;
        s.width = 3;
        s.height = 2;
        s.pixels = Rows24(kPic);
        return s;
    };
    {
        SCOPED_TRACE("offset inside the headers");
        BmpSpec s = base();
        s.offset = 53;
        ExpectRefused(MakeBmp(s));
    }
    {
        SCOPED_TRACE("bit fields declared, no room for the masks");
        BmpSpec s = base();
        s.bpp = 32;
        s.compression = 3;
        s.pixels.assign(24, 0);
        auto f = MakeBmp(s);  // data at 54, where the masks would be
        ExpectRefused(f);
    }
    {
        SCOPED_TRACE("offset beyond the end");
        BmpSpec s = base();
        s.offset = 1000;
        ExpectRefused(MakeBmp(s));
    }
    {
        SCOPED_TRACE("not a bitmap");
        auto f = MakeBmp(base());
        f[0] = 'P';
        ExpectRefused(f);
    }
    {
        SCOPED_TRACE("cut inside the headers");
        auto f = MakeBmp(base());
        f.resize(30);
        ExpectRefused(f);
        f.resize(10);
        ExpectRefused(f);
        f.clear();
        ExpectRefused(f);
    }
}

TEST_F(BitmapFiles, UnreadableSizesAreRefused) {
    const int32_t sizes[][2] = {{0, 2},         {-3, 2},        {INT32_MIN, 2},
                                {3, 0},         {3, INT32_MIN}, {INT32_MAX, 1},
                                {1, INT32_MAX}, {40000, 40000}, {3000000, -2000000}};
    for (const auto &wh : sizes) {
        SCOPED_TRACE(std::to_string(wh[0]) + " x " + std::to_string(wh[1]));
        BmpSpec s;
        s.width = wh[0];
        s.height = wh[1];
        s.pixels = Rows24(kPic);
        ExpectRefused(MakeBmp(s));
    }
}

TEST_F(BitmapFiles, LargestImageWithinTheLimitNeedsItsData) {
    // Within the buffer limit but far larger than the file: refused before the
    // buffer is made.
    BmpSpec s;
    s.width = 16384;
    s.height = 32760;
    s.pixels = Rows24(kPic);
    ExpectRefused(MakeBmp(s));
}

TEST_F(BitmapFiles, UnsupportedCompressionsAreRefused) {
    struct {
        uint32_t bpp, compression;
    } cases[] = {{24, 1}, {24, 2}, {24, 3}, {24, 4}, {24, 5}, {24, 6},
                 {16, 1}, {32, 2}, {16, 4}, {32, 5}, {32, 7}, {16, 11}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.bpp) + " bits, compression " + std::to_string(c.compression));
        BmpSpec s;
        s.bpp = c.bpp;
        s.compression = c.compression;
        s.width = 3;
        s.height = 2;
        if (c.compression == 3 || c.compression == 6) s.masks = {0xFF0000, 0xFF00, 0xFF, 0};
        s.pixels.assign(64, 0);
        ExpectRefused(MakeBmp(s));
    }
    for (uint32_t bpp : {0u, 1u, 4u, 8u, 15u, 48u, 64u}) {
        SCOPED_TRACE(bpp);
        BmpSpec s;
        s.bpp = bpp;
        s.width = 3;
        s.height = 2;
        s.pixels.assign(64, 0);
        ExpectRefused(MakeBmp(s));
    }
}

TEST_F(BitmapFiles, UnusableMasksAreRefused) {
    const std::vector<uint32_t> bad16[] = {
        {0xF800, 0x0FE0, 0x001F},    // overlapping
        {0xF800, 0x07E0, 0x0015},    // broken run
        {0x1F0000, 0x07E0, 0x001F},  // outside 16 bits
    };
    for (const auto &m : bad16) {
        BmpSpec s;
        s.bpp = 16;
        s.compression = 3;
        s.masks = m;
        s.width = 2;
        s.height = 1;
        s.pixels.assign(4, 0);
        ExpectRefused(MakeBmp(s));
    }
}

TEST_F(BitmapFiles, MemoryImportMatchesFileImport) {
    BmpSpec s;
    s.width = 3;
    s.height = 2;
    s.gap = 7;
    s.pixels = Rows24(kPic);
    auto f = MakeBmp(s);
    ASSERT_EQ(plix::ImportBitmapMemory(codec_->Picture(), f.data(), f.size()), BitmapImport::Ok);
    ExpectPic();
    DropLast(f, 4);
    EXPECT_EQ(plix::ImportBitmapMemory(codec_->Picture(), f.data(), f.size()), BitmapImport::Refused);
    EXPECT_EQ(plix::ImportBitmapMemory(codec_->Picture(), nullptr, 100), BitmapImport::Refused);
}

TEST_F(BitmapFiles, PipesAreReadWithoutSeeking) {
    // A pipe tells no size and cannot seek: the gap before the pixels is read
    // over, and missing rows are found while reading.
    BmpSpec s;
    s.width = 3;
    s.height = 2;
    s.gap = 5000;
    s.pixels = Rows24(kPic);
    for (bool whole : {true, false}) {
        auto f = MakeBmp(s);
        if (!whole) DropLast(f, 13);
        const std::string fifo = dir_.File(whole ? "whole.fifo" : "cut.fifo");
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        std::thread writer([&] { WriteFileBytes(fifo, f); });
        BitmapImport r = plix::ImportBitmap(codec_->Picture(), fifo.c_str());
        writer.join();
        if (whole) {
            ASSERT_EQ(r, BitmapImport::Ok);
            ExpectPic();
        } else {
            EXPECT_EQ(r, BitmapImport::Refused);
            EXPECT_EQ(codec_->Picture().Pixels(), nullptr);
        }
    }
}

// ---- Files of other programs against the pixels ImageMagick reads ----------

struct Ppm {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
};

Ppm LoadPpm(const std::string &path) {
    auto bytes = ReadFileBytes(path);
    Ppm p;
    size_t pos = 0;
    auto token = [&] {
        while (pos < bytes.size() && std::isspace(bytes[pos])) ++pos;
        std::string t;
        while (pos < bytes.size() && !std::isspace(bytes[pos]))
            t += static_cast<char>(bytes[pos++]);
        return t;
    };
    if (token() != "P6") throw std::runtime_error("not a PPM: " + path);
    p.width = std::stoi(token());
    p.height = std::stoi(token());
    if (token() != "255") throw std::runtime_error("not 8 bits: " + path);
    ++pos;  // one white-space byte
    p.rgb.assign(bytes.begin() + static_cast<long>(pos), bytes.end());
    if (p.rgb.size() != static_cast<size_t>(p.width) * p.height * 3)
        throw std::runtime_error("short PPM: " + path);
    return p;
}

// ImageMagick widens an n-bit channel to 8 bits by scaling; our rule puts the
// bits at the top with zeros below. Both agree on the top n bits; for channels
// wider than 8 bits the scaled value may round up by one.
bool SameChannel(uint8_t ours, uint8_t ref, int bits) {
    if (bits >= 8) return bits == 8 ? ours == ref : (ours > ref ? ours - ref : ref - ours) <= 1;
    const uint8_t keep = static_cast<uint8_t>(0xFF << (8 - bits));
    return ours == (ref & keep);
}

struct Reference {
    const char *bmp;
    const char *ppm;
    int bits[3];  // red, green, blue
};

void ExpectMatchesReference(Codec &codec, const Reference &r) {
    SCOPED_TRACE(r.bmp);
    ASSERT_EQ(plix::ImportBitmap(codec.Picture(), DataPath(r.bmp).c_str()), BitmapImport::Ok);
    Ppm ref = LoadPpm(DataPath(r.ppm));
    ASSERT_EQ(codec.Picture().Width(), ref.width);
    ASSERT_EQ(codec.Picture().Height(), ref.height);
    int mismatches = 0;
    for (int y = 0; y < ref.height; ++y)
        for (int x = 0; x < ref.width; ++x) {
            const uint8_t *p =
                codec.Picture().Pixels() + (static_cast<size_t>(y) * codec.Picture().PaddedWidth() + x) * 4;
            const uint8_t *q = ref.rgb.data() + (static_cast<size_t>(y) * ref.width + x) * 3;
            bool same = SameChannel(p[2], q[0], r.bits[0]) && SameChannel(p[1], q[1], r.bits[1]) &&
                        SameChannel(p[0], q[2], r.bits[2]);
            if (!same && ++mismatches <= 5)
                ADD_FAILURE() << "pixel " << x << "," << y << ": ours " << int(p[2]) << " "
                              << int(p[1]) << " " << int(p[0]) << ", reference " << int(q[0]) << " "
                              << int(q[1]) << " " << int(q[2]);
        }
    EXPECT_EQ(mismatches, 0);
    // Padding keeps its white bytes.
    for (int32_t y = 0; y < codec.Picture().PaddedHeight(); ++y)
        for (int32_t x = (y < codec.Picture().Height() ? codec.Picture().Width() : 0);
             x < codec.Picture().PaddedWidth(); ++x)
            ASSERT_EQ(
                codec.Picture().Pixels()[(static_cast<size_t>(y) * codec.Picture().PaddedWidth() + x) * 4],
                0xFF);
}

TEST(BitmapClients, ImageMagickAndPillowFilesImportToTheirPixels) {
    const Reference refs[] = {
        {"bmp/im_bmp3_24.bmp", "bmp/im_bmp3_24.ppm", {8, 8, 8}},
        {"bmp/im_v5_24.bmp", "bmp/im_v5_24.ppm", {8, 8, 8}},
        {"bmp/im_v5_32a.bmp", "bmp/im_v5_32a.ppm", {8, 8, 8}},
        {"bmp/im_v5_565.bmp", "bmp/im_v5_565.ppm", {5, 6, 5}},
        {"bmp/im_v5_555.bmp", "bmp/im_v5_555.ppm", {5, 5, 5}},
        {"bmp/im_v5_4444.bmp", "bmp/im_v5_4444.ppm", {4, 4, 4}},
        {"bmp/im_v5_1555.bmp", "bmp/im_v5_1555.ppm", {5, 5, 5}},
        {"bmp/im_bmp3_24_topdown.bmp", "bmp/im_bmp3_24_topdown.ppm", {8, 8, 8}},
        {"bmp/im_v5_32a_topdown.bmp", "bmp/im_v5_32a_topdown.ppm", {8, 8, 8}},
        {"bmp/im_v5_565_topdown.bmp", "bmp/im_v5_565_topdown.ppm", {5, 6, 5}},
        {"bmp/pil_24.bmp", "bmp/pil_24.ppm", {8, 8, 8}},
        {"bmp/pil_32.bmp", "bmp/pil_32.ppm", {8, 8, 8}},
    };
    CodecPtr codec = NewCodec();
    for (const auto &r : refs) ExpectMatchesReference(*codec, r);
}

TEST(BitmapClients, AlphaGoesToTheFourthByte) {
    // The 32-bit files of both programs carry the alpha the script gave them:
    // (x * 19 + y * 31) mod 256.
    CodecPtr codec = NewCodec();
    for (const char *f : {"bmp/im_v5_32a.bmp", "bmp/pil_32.bmp"}) {
        SCOPED_TRACE(f);
        ASSERT_EQ(plix::ImportBitmap(codec->Picture(), DataPath(f).c_str()), BitmapImport::Ok);
        for (int y = 0; y < codec->Picture().Height(); ++y)
            for (int x = 0; x < codec->Picture().Width(); ++x)
                ASSERT_EQ(codec->Picture().Pixels()[(y * codec->Picture().PaddedWidth() + x) * 4 + 3],
                          (x * 19 + y * 31) % 256);
    }
}

TEST(BitmapClients, ImageMagickBitFieldsWithoutMasksAreRefused) {
    // Its BMP3 writer declares 16-bit bit fields but puts the pixels at 54.
    CodecPtr codec = NewCodec();
    EXPECT_EQ(plix::ImportBitmap(codec->Picture(), DataPath("bmp/im_bmp3_565_nomasks.bmp").c_str()),
              BitmapImport::Refused);
    EXPECT_EQ(codec->Picture().Pixels(), nullptr);
}

TEST(BitmapSuite, GoodTrueColourFilesImportToTheirPixels) {
    const Reference refs[] = {
        {"bmpsuite/g/rgb16.bmp", "bmpsuite/ref/rgb16.ppm", {5, 5, 5}},
        {"bmpsuite/g/rgb16-565.bmp", "bmpsuite/ref/rgb16-565.ppm", {5, 6, 5}},
        {"bmpsuite/g/rgb16bfdef.bmp", "bmpsuite/ref/rgb16bfdef.ppm", {5, 5, 5}},
        {"bmpsuite/g/rgb16-565pal.bmp", "bmpsuite/ref/rgb16-565pal.ppm", {5, 6, 5}},
        {"bmpsuite/g/rgb24.bmp", "bmpsuite/ref/rgb24.ppm", {8, 8, 8}},
        {"bmpsuite/g/rgb24pal.bmp", "bmpsuite/ref/rgb24pal.ppm", {8, 8, 8}},
        {"bmpsuite/g/rgb32.bmp", "bmpsuite/ref/rgb32.ppm", {8, 8, 8}},
        {"bmpsuite/g/rgb32bf.bmp", "bmpsuite/ref/rgb32bf.ppm", {8, 8, 8}},
        {"bmpsuite/g/rgb32bfdef.bmp", "bmpsuite/ref/rgb32bfdef.ppm", {8, 8, 8}},
    };
    CodecPtr codec = NewCodec();
    for (const auto &r : refs) ExpectMatchesReference(*codec, r);
}

TEST(BitmapSuite, QuestionableFilesWeReadImportToTheirPixels) {
    // Not rgb32-7187 and rgba32-61754: ImageMagick widens their 7- and 6-bit
    // red short of full scale (127 gives 253), so it is no reference there.
    const Reference refs[] = {
        {"bmpsuite/q/rgb16-231.bmp", "bmpsuite/ref/rgb16-231.ppm", {2, 3, 1}},
        {"bmpsuite/q/rgb16-3103.bmp", "bmpsuite/ref/rgb16-3103.ppm", {3, 10, 3}},
        {"bmpsuite/q/rgb16faketrns.bmp", "bmpsuite/ref/rgb16faketrns.ppm", {5, 5, 5}},
        {"bmpsuite/q/rgb24largepal.bmp", "bmpsuite/ref/rgb24largepal.ppm", {8, 8, 8}},
        {"bmpsuite/q/rgb24lprof.bmp", "bmpsuite/ref/rgb24lprof.ppm", {8, 8, 8}},
        {"bmpsuite/q/rgb24prof.bmp", "bmpsuite/ref/rgb24prof.ppm", {8, 8, 8}},
        {"bmpsuite/q/rgb24prof2.bmp", "bmpsuite/ref/rgb24prof2.ppm", {8, 8, 8}},
        {"bmpsuite/q/rgb32-111110.bmp", "bmpsuite/ref/rgb32-111110.ppm", {11, 11, 10}},
        {"bmpsuite/q/rgb32-xbgr.bmp", "bmpsuite/ref/rgb32-xbgr.ppm", {8, 8, 8}},
        {"bmpsuite/q/rgb32fakealpha.bmp", "bmpsuite/ref/rgb32fakealpha.ppm", {8, 8, 8}},
        {"bmpsuite/q/rgb32h52.bmp", "bmpsuite/ref/rgb32h52.ppm", {8, 8, 8}},
        {"bmpsuite/q/rgba16-1924.bmp", "bmpsuite/ref/rgba16-1924.ppm", {1, 9, 2}},
        {"bmpsuite/q/rgba16-4444.bmp", "bmpsuite/ref/rgba16-4444.ppm", {4, 4, 4}},
        {"bmpsuite/q/rgba16-5551.bmp", "bmpsuite/ref/rgba16-5551.ppm", {5, 5, 5}},
        {"bmpsuite/q/rgba32-1.bmp", "bmpsuite/ref/rgba32-1.ppm", {8, 8, 8}},
        {"bmpsuite/q/rgba32-1010102.bmp", "bmpsuite/ref/rgba32-1010102.ppm", {10, 10, 10}},
        {"bmpsuite/q/rgba32-2.bmp", "bmpsuite/ref/rgba32-2.ppm", {8, 8, 8}},
        {"bmpsuite/q/rgba32-81284.bmp", "bmpsuite/ref/rgba32-81284.ppm", {8, 12, 8}},
        {"bmpsuite/q/rgba32h56.bmp", "bmpsuite/ref/rgba32h56.ppm", {8, 8, 8}},
        // The same picture with the alpha masks after a 40-byte header.
        {"bmpsuite/q/rgba32abf.bmp", "bmpsuite/ref/rgba32h56.ppm", {8, 8, 8}},
    };
    CodecPtr codec = NewCodec();
    for (const auto &r : refs) ExpectMatchesReference(*codec, r);
}

std::vector<std::string> SuiteFiles(const std::string &folder) {
    std::vector<std::string> files;
    for (const auto &e : std::filesystem::directory_iterator(DataPath("bmpsuite/" + folder)))
        if (e.path().extension() == ".bmp") files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

TEST(BitmapSuite, PaletteFilesAreRefused) {
    CodecPtr codec = NewCodec();
    auto files = SuiteFiles("g");
    int palettes = 0;
    for (const auto &f : files) {
        if (std::filesystem::path(f).filename().string().rfind("pal", 0) != 0) continue;
        ++palettes;
        ASSERT_TRUE(codec->Picture().Create(2, 2));
        EXPECT_EQ(plix::ImportBitmap(codec->Picture(), f.c_str()), BitmapImport::Refused) << f;
        EXPECT_EQ(codec->Picture().Pixels(), nullptr) << f;
    }
    EXPECT_GE(palettes, 18);
}

TEST(BitmapSuite, BadFilesAreRefused) {
    CodecPtr codec = NewCodec();
    auto files = SuiteFiles("b");
    EXPECT_GE(files.size(), 20u);
    for (const auto &f : files) {
        // An empty blue mask may be read (as blue 0).
        if (f.find("rgb16-880") != std::string::npos) {
            if (plix::ImportBitmap(codec->Picture(), f.c_str()) == BitmapImport::Ok) {
                EXPECT_EQ(codec->Picture().GetPixel(0, 0) >> 16, 0u);
            }
            continue;
        }
        EXPECT_EQ(plix::ImportBitmap(codec->Picture(), f.c_str()), BitmapImport::Refused) << f;
        EXPECT_EQ(codec->Picture().Pixels(), nullptr) << f;
    }
}

TEST(BitmapSuite, QuestionableFilesAreReadOrRefusedCleanly) {
    // Run under the sanitizers this proves no read outside the data; every
    // file also goes through the in-memory reader with each possible cut.
    CodecPtr codec = NewCodec();
    auto files = SuiteFiles("q");
    EXPECT_GE(files.size(), 40u);
    for (const auto &f : files) {
        BitmapImport r = plix::ImportBitmap(codec->Picture(), f.c_str());
        EXPECT_NE(r, BitmapImport::CannotOpen) << f;
        EXPECT_EQ(r == BitmapImport::Ok, codec->Picture().Pixels() != nullptr) << f;
    }
}

TEST(BitmapSuite, CutFilesNeverReadPastTheirData) {
    CodecPtr codec = NewCodec();
    std::vector<std::string> files = SuiteFiles("q");
    for (const char *g : {"rgb16.bmp", "rgb16-565.bmp", "rgb24.bmp", "rgb32bf.bmp"})
        files.push_back(DataPath(std::string("bmpsuite/g/") + g));
    for (const auto &f : files) {
        auto bytes = ReadFileBytes(f);
        const size_t full = bytes.size();
        // Each header byte, then coarser steps through the pixel data.
        for (size_t cut = 0; cut < full; cut += cut < 200 ? 1 : 97) {
            // A heap copy of exactly the cut length lets the sanitizer see any
            // read past it.
            std::unique_ptr<uint8_t[]> part(new uint8_t[cut ? cut : 1]);
            std::memcpy(part.get(), bytes.data(), cut);
            BitmapImport r = plix::ImportBitmapMemory(codec->Picture(), part.get(), cut);
            ASSERT_EQ(r == BitmapImport::Ok, codec->Picture().Pixels() != nullptr)
                << f << " cut at " << cut;
        }
    }
}

// ---- Export ----------------------------------------------------------------

uint32_t PatternColour(int x, int y) {
    uint32_t r = (x * 37 + y * 11 + 5) % 256, g = (x * 5 + y * 53 + 101) % 256,
             b = (x * 91 + y * 7 + 13) % 256;
    return (b << 16) | (g << 8) | r;
}

void ExpectPixelsMatchPpm(Codec &codec, const std::string &ppm) {
    SCOPED_TRACE(ppm);
    Ppm ref = LoadPpm(ppm);
    ASSERT_EQ(codec.Picture().Width(), ref.width);
    ASSERT_EQ(codec.Picture().Height(), ref.height);
    for (int y = 0; y < ref.height; ++y)
        for (int x = 0; x < ref.width; ++x) {
            const uint8_t *q = ref.rgb.data() + (static_cast<size_t>(y) * ref.width + x) * 3;
            ASSERT_EQ(codec.Picture().GetPixel(x, y),
                      (uint32_t{q[2]} << 16) | (uint32_t{q[1]} << 8) | q[0])
                << x << "," << y;
        }
}

uint32_t Le32At(const std::vector<uint8_t> &f, size_t at) {
    return f[at] | (f[at + 1] << 8) | (f[at + 2] << 16) | (uint32_t{f[at + 3]} << 24);
}

TEST(BitmapExport, WritesTheClassic24BitLayout) {
    // The reference files were written from the header table by a second
    // implementation; ImageMagick and Pillow read them to the pixels we set.
    const int sizes[][2] = {{5, 3}, {4, 2}, {10, 3}, {1, 1}, {13, 7}};
    for (const auto &wh : sizes) {
        const int w = wh[0], h = wh[1];
        const std::string name = "bmp/export_" + std::to_string(w) + "x" + std::to_string(h);
        SCOPED_TRACE(name);
        CodecPtr codec = NewCodec();
        ASSERT_TRUE(codec->Picture().Create(w, h));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) codec->Picture().SetPixel(x, y, PatternColour(x, y));
        TempDir dir;
        ASSERT_TRUE(plix::ExportBitmap(codec->Picture(), dir.File("out.bmp").c_str()));
        auto got = ReadFileBytes(dir.File("out.bmp"));
        EXPECT_EQ(got, ReadFileBytes(DataPath(name + ".bmp")));
        ExpectPixelsMatchPpm(*codec, DataPath(name + ".im.ppm"));
        ExpectPixelsMatchPpm(*codec, DataPath(name + ".pil.ppm"));

        const size_t row = (3 * w + 3) & ~3;
        ASSERT_EQ(got.size(), 54 + h * row);
        EXPECT_EQ(Le32At(got, 2), got.size());
        // The first row written is the bottom one; its padding bytes are 0.
        EXPECT_EQ(got[54 + 2], (PatternColour(0, h - 1)) & 0xFF);
        for (size_t i = 3 * w; i < row; ++i) EXPECT_EQ(got[54 + i], 0);
    }
    // Row lengths and file sizes of the smallest cases.
    EXPECT_EQ((3 * 5 + 3) & ~3, 16);
    EXPECT_EQ(ReadFileBytes(DataPath("bmp/export_10x3.bmp")).size(), 150u);
    EXPECT_EQ(ReadFileBytes(DataPath("bmp/export_4x2.bmp")).size(), 54u + 2 * 12);
}

// A picture without rows is a 54-byte file at once, however wide: no row
// buffer is asked for (the widest one would take gigabytes).
TEST(BitmapExport, NoRowsNeedNoRowBuffer) {
    CodecPtr codec = NewCodec();
    TempDir dir;
    for (int32_t width : {0, 5, INT32_MAX}) {
        ASSERT_TRUE(codec->Picture().Create(width, 0)) << width;
        ASSERT_TRUE(plix::ExportBitmap(codec->Picture(), dir.File("flat.bmp").c_str())) << width;
        const auto bytes = ReadFileBytes(dir.File("flat.bmp"));
        ASSERT_EQ(bytes.size(), 54u) << width;
        EXPECT_EQ(bytes[18] | bytes[19] << 8 | bytes[20] << 16 | uint32_t{bytes[21]} << 24,
                  static_cast<uint32_t>(width));
    }
}

TEST(BitmapExport, WriteFailuresReportZero) {
    CodecPtr codec = NewCodec();
    TempDir dir;
    EXPECT_FALSE(plix::ExportBitmap(codec->Picture(), dir.File("none.bmp").c_str()));  // no image
    EXPECT_FALSE(std::filesystem::exists(dir.File("none.bmp")));
    ASSERT_TRUE(codec->Picture().Create(300, 300));
    EXPECT_FALSE(plix::ExportBitmap(codec->Picture(), dir.File("missing/folder/out.bmp").c_str()));
    if (std::filesystem::exists("/dev/full")) {
        EXPECT_FALSE(plix::ExportBitmap(codec->Picture(), "/dev/full"));
    }
    EXPECT_FALSE(plix::ExportBitmap(codec->Picture(), nullptr));
    // A folder in the way: the write fails and the folder stays.
    std::filesystem::create_directory(dir.File("taken"));
    EXPECT_FALSE(plix::ExportBitmap(codec->Picture(), dir.File("taken").c_str()));
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("taken")));
}

TEST(BitmapExport, DecodeFailureWritesNothing) {
    CodecPtr codec = NewCodec();
    TempDir dir;
    WriteFileBytes(dir.File("junk.plx"), {1, 2, 3});
    EXPECT_EQ(codec->ops->DecodeToBitmapFile(codec.get(), dir.File("junk.plx").c_str(),
                                             dir.File("o.bmp").c_str()),
              0);
    EXPECT_EQ(codec->ops->DecodeToBitmapFile(codec.get(), dir.File("absent.plx").c_str(),
                                             dir.File("o.bmp").c_str()),
              0);
    EXPECT_FALSE(std::filesystem::exists(dir.File("o.bmp")));
}

// Decoded conformance cases: ImageMagick and Pillow read the bitmap that
// DecodeToBitmapFile must write (byte for byte, see the conformance tests) to
// exactly the pixels GetPixel returns.
TEST(BitmapExport, ToolsReadOurOutputAsGetPixelReturnsIt) {
    const char *cases[] = {"pixel_1x1_m0_q0_x0",       "edges_17x9_m1_q4_x2",
                           "mix_100x75_m0_q4_x0",      "random_01_m1_q0_x1_23x17",
                           "random_04_m0_q15_x1_31x9", "crafted_extra5"};
    for (const char *c : cases) {
        SCOPED_TRACE(c);
        CodecPtr codec = NewCodec();
        TempDir dir;
        const std::string plx = DataPath(std::string("conformance/cases/") + c + ".plx");
        ASSERT_EQ(
            codec->ops->DecodeToBitmapFile(codec.get(), plx.c_str(), dir.File("out.bmp").c_str()),
            1);
        EXPECT_EQ(ReadFileBytes(dir.File("out.bmp")),
                  ReadFileBytes(DataPath(std::string("conformance/cases/") + c + ".expected.bmp")));
        ExpectPixelsMatchPpm(*codec, DataPath(std::string("bmp/conformance/") + c + ".im.ppm"));
        ExpectPixelsMatchPpm(*codec, DataPath(std::string("bmp/conformance/") + c + ".pil.ppm"));
    }
}

TEST(BitmapExport, FailedWriteKeepsTheDecodedImage) {
    CodecPtr codec = NewCodec();
    TempDir dir;
    const std::string plx = DataPath("conformance/cases/edges_17x9_m1_q4_x2.plx");
    EXPECT_EQ(codec->ops->DecodeToBitmapFile(codec.get(), plx.c_str(),
                                             dir.File("no/folder/o.bmp").c_str()),
              0);
    ASSERT_NE(codec->Picture().Pixels(), nullptr);
    ExpectPixelsMatchPpm(*codec, DataPath("bmp/conformance/edges_17x9_m1_q4_x2.im.ppm"));
    // A write that fails midway (a full device) is reported too.
    if (std::filesystem::exists("/dev/full")) {
        EXPECT_EQ(codec->ops->DecodeToBitmapFile(codec.get(), plx.c_str(), "/dev/full"), 0);
        ASSERT_NE(codec->Picture().Pixels(), nullptr);
    }
}

}  // namespace
