// The codec object through its operation table: sizes, padding, pixel access,
// limits, and decode failures that must leave the image alone.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "plix/plix.h"
#include "test_util.h"

namespace {

class CodecObject : public ::testing::Test {
protected:
    void SetUp() override { codec_ = plix::CodecHandle(PLIX_Constructor, PLIX_Destructor); }
    plix::CodecHandle codec_;
};

TEST_F(CodecObject, VersionAndEmptyState) {
    ASSERT_TRUE(codec_);
    EXPECT_EQ(codec_.version(), 8);
    int32_t w = -1, h = -1;
    codec_.imageSize(w, h);
    EXPECT_EQ(w, 0);
    EXPECT_EQ(h, 0);
    EXPECT_EQ(codec_.imageBuffer(), nullptr);
    EXPECT_EQ(codec_.pixel(0, 0), 0u);
    codec_.setPixel(0, 0, 0x123456);  // no image: nothing happens
    EXPECT_EQ(codec_.imageBuffer(), nullptr);
    PLIX_Destructor(nullptr);
}

TEST_F(CodecObject, CreateImagePadsToWholeBlocksOfWhite) {
    ASSERT_TRUE(codec_.createImage(10, 3));
    int32_t w, h, pw, ph;
    codec_.imageSize(w, h);
    codec_.bufferSize(pw, ph);
    EXPECT_EQ(w, 10);
    EXPECT_EQ(h, 3);
    EXPECT_EQ(pw, 16);
    EXPECT_EQ(ph, 8);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 10; ++x) ASSERT_EQ(codec_.pixel(x, y), 0x00FFFFFFu);
    const uint8_t *buf = codec_.imageBuffer();
    ASSERT_NE(buf, nullptr);
    for (int i = 0; i < 16 * 8 * 4; ++i) ASSERT_EQ(buf[i], 0xFF) << i;
}

TEST_F(CodecObject, PixelAccessStaysInsideTheImage) {
    ASSERT_TRUE(codec_.createImage(10, 3));
    codec_.setPixel(10, 0, 0);
    codec_.setPixel(0, 3, 0);
    codec_.setPixel(-1, 0, 0);
    codec_.setPixel(0, -1, 0);
    EXPECT_EQ(codec_.pixel(10, 0), 0u);
    EXPECT_EQ(codec_.pixel(0, 3), 0u);
    EXPECT_EQ(codec_.pixel(-1, 0), 0u);
    const uint8_t *buf = codec_.imageBuffer();
    for (int i = 0; i < 16 * 8 * 4; ++i) ASSERT_EQ(buf[i], 0xFF) << i;  // padding untouched
}

TEST_F(CodecObject, SetPixelStoresBlueGreenRedAndZero) {
    ASSERT_TRUE(codec_.createImage(10, 3));
    codec_.setPixel(2, 1, 0xAB123456);
    EXPECT_EQ(codec_.pixel(2, 1), 0x00123456u);
    const uint8_t *p = codec_.imageBuffer() + (1 * 16 + 2) * 4;
    EXPECT_EQ(p[0], 0x12);  // blue
    EXPECT_EQ(p[1], 0x34);  // green
    EXPECT_EQ(p[2], 0x56);  // red
    EXPECT_EQ(p[3], 0x00);
}

TEST_F(CodecObject, SecondCreateImageStartsWhiteAgain) {
    ASSERT_TRUE(codec_.createImage(10, 3));
    codec_.setPixel(0, 0, 0);
    ASSERT_TRUE(codec_.createImage(9, 9));
    int32_t pw, ph;
    codec_.bufferSize(pw, ph);
    EXPECT_EQ(pw, 16);
    EXPECT_EQ(ph, 16);
    EXPECT_EQ(codec_.pixel(0, 0), 0x00FFFFFFu);
}

TEST_F(CodecObject, CreateImageRefusesNegativeAndOversizedImages) {
    EXPECT_FALSE(codec_.createImage(-1, 5));
    EXPECT_EQ(codec_.imageBuffer(), nullptr);
    EXPECT_FALSE(codec_.createImage(5, -8));
    EXPECT_EQ(codec_.imageBuffer(), nullptr);
    // 8 x 2^26 pixels of 4 bytes is 2^31 bytes: one more than 32-bit sizes allow.
    EXPECT_FALSE(codec_.createImage(8, 1 << 26));
    EXPECT_FALSE(codec_.createImage(0x7FFFFFFF, 0x7FFFFFFF));
    EXPECT_FALSE(codec_.createImage(65536, 65536));
    EXPECT_EQ(codec_.imageBuffer(), nullptr);
    EXPECT_EQ(codec_.pixel(0, 0), 0u);
    // A failed create leaves no image behind, even after a good one.
    ASSERT_TRUE(codec_.createImage(4, 4));
    EXPECT_FALSE(codec_.createImage(-4, 4));
    EXPECT_EQ(codec_.imageBuffer(), nullptr);
}

TEST_F(CodecObject, ZeroSizesGiveAnEmptyImage) {
    ASSERT_TRUE(codec_.createImage(0, 0));
    int32_t pw, ph;
    codec_.bufferSize(pw, ph);
    EXPECT_EQ(pw, 0);
    EXPECT_EQ(ph, 0);
    EXPECT_EQ(codec_.pixel(0, 0), 0u);
    ASSERT_TRUE(codec_.createImage(0, 5));
    codec_.bufferSize(pw, ph);
    EXPECT_EQ(ph, 8);
}

// A valid header for a w x h image; body bytes follow.
std::vector<uint8_t> Header(int32_t w, int32_t h, uint8_t mode = 1, uint8_t matrix = 0) {
    std::vector<uint8_t> v = {'P', 'L', 'I', 'X', mode, matrix, 0, 0};
    for (int32_t s : {h, w})
        for (int i = 0; i < 4; ++i)
            v.push_back(static_cast<uint8_t>(static_cast<uint32_t>(s) >> (8 * i)));
    return v;
}

TEST_F(CodecObject, FailedDecodesLeaveThePictureAlone) {
    ASSERT_TRUE(codec_.createImage(3, 2));
    codec_.setPixel(1, 1, 0x010203);

    auto expectIntact = [&] {
        int32_t w, h;
        codec_.imageSize(w, h);
        EXPECT_EQ(w, 3);
        EXPECT_EQ(h, 2);
        EXPECT_EQ(codec_.pixel(1, 1), 0x010203u);
    };

    std::vector<uint8_t> file = Header(8, 8);
    file.resize(40, 0);
    // Fewer than 16 header bytes.
    EXPECT_FALSE(codec_.decodeMemory(file.data(), 15));
    expectIntact();
    // Wrong magic.
    auto bad = file;
    bad[0] = 'Q';
    EXPECT_FALSE(codec_.decodeMemory(bad.data(), static_cast<int32_t>(bad.size())));
    expectIntact();
    // No matrix set 3.
    auto m3 = Header(8, 8, 1, 3);
    m3.resize(40, 0);
    EXPECT_FALSE(codec_.decodeMemory(m3.data(), static_cast<int32_t>(m3.size())));
    expectIntact();
    // Null block, negative size, missing file, a folder.
    EXPECT_FALSE(codec_.decodeMemory(nullptr, 40));
    EXPECT_FALSE(codec_.decodeMemory(file.data(), -1));
    EXPECT_FALSE(codec_.decodeFile("/nonexistent/x.plx"));
    EXPECT_FALSE(codec_.decodeFile("/tmp"));
    expectIntact();
}

TEST_F(CodecObject, DecodeRefusesSizesBeyondTheLimit) {
    for (auto [w, h] : std::vector<std::pair<int32_t, int32_t>>{
             {-1, 8}, {8, -1}, {0x7FFFFFFF, 0x7FFFFFFF}, {65536, 65536}, {8, 1 << 26}}) {
        auto file = Header(w, h);
        file.resize(64, 0);
        EXPECT_FALSE(codec_.decodeMemory(file.data(), static_cast<int32_t>(file.size())))
            << w << " x " << h;
        EXPECT_EQ(codec_.imageBuffer(), nullptr);
    }
}

TEST_F(CodecObject, EncodeNeedsAnImageAndAKnownMatrix) {
    plix::test::TempDir dir;
    std::string out = dir.File("x.plx");
    EXPECT_FALSE(codec_.encodeFile(out.c_str(), 0, 0, 0));  // no image
    ASSERT_TRUE(codec_.createImage(8, 8));
    EXPECT_FALSE(codec_.encodeFile(out.c_str(), 0, 0, 3));
    EXPECT_FALSE(codec_.encodeFile(out.c_str(), 0, 0, -1));
    EXPECT_FALSE(std::filesystem::exists(out));  // nothing written
    EXPECT_FALSE(codec_.encodeFile(dir.File("missing/x.plx").c_str(), 0, 0, 0));
    EXPECT_FALSE(codec_.encodeFile("/dev/full", 1, 0, 0));
}

}  // namespace
