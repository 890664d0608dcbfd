// The 16-byte file header.
#include <gtest/gtest.h>

#include "format.h"

namespace plix {
namespace {

std::vector<uint8_t> Bytes(const PlixHeader &h) {
    uint8_t raw[kHeaderSize];
    SerializeHeader(h, raw);
    return std::vector<uint8_t>(raw, raw + kHeaderSize);
}

TEST(Header, ExampleBytes) {
    EXPECT_EQ(
        Bytes(MakeHeader(0, 0, 0, 100, 50)),
        (std::vector<uint8_t>{0x50, 0x4C, 0x49, 0x58, 0, 0, 0, 0, 0x32, 0, 0, 0, 0x64, 0, 0, 0}));
    auto vga = Bytes(MakeHeader(1, 15, 2, 640, 480));
    EXPECT_EQ(std::vector<uint8_t>(vga.begin() + 4, vga.begin() + 8),
              (std::vector<uint8_t>{1, 2, 15, 0}));
    EXPECT_EQ(std::vector<uint8_t>(vga.begin() + 8, vga.end()),
              (std::vector<uint8_t>{0xE0, 0x01, 0, 0, 0x80, 0x02, 0, 0}));
}

TEST(Header, KeepsTheLowByteOfEachSetting) {
    PlixHeader h = MakeHeader(0x101, 0x1FF, 0x302, 1, 1);
    EXPECT_EQ(h.mode, 1);
    EXPECT_EQ(h.qfactor, 0xFF);
    EXPECT_EQ(h.matrix, 2);
    EXPECT_EQ(h.extra, 0);
}

TEST(Header, ParsesWhatItWrites) {
    PlixHeader h = MakeHeader(1, 9, 1, -5, 0x7FFFFFFF);
    uint8_t raw[kHeaderSize];
    SerializeHeader(h, raw);
    raw[7] = 5;
    PlixHeader back = ParseHeader(raw);
    EXPECT_TRUE(back.HasMagic());
    EXPECT_EQ(back.mode, 1);
    EXPECT_EQ(back.qfactor, 9);
    EXPECT_EQ(back.matrix, 1);
    EXPECT_EQ(back.extra, 5);
    EXPECT_EQ(back.width, -5);
    EXPECT_EQ(back.height, 0x7FFFFFFF);

    raw[3] = 'Y';
    EXPECT_FALSE(ParseHeader(raw).HasMagic());
}

}  // namespace
}  // namespace plix
