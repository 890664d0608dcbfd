// How far a file's data lasted: the decoder's flag and the block count.
#include <gtest/gtest.h>

#include <cstring>

#include "decode_report.h"
#include "streams.h"
#include "test_util.h"

namespace plix {
namespace {

std::vector<uint8_t> Case(const std::string &name) {
    return test::ReadFileBytes(test::DataPath("conformance/cases/" + name + ".plx"));
}

TEST(DecodeReport, StreamCountsTheBitsTakenAndTheDataDelivered) {
    const uint8_t data[3] = {0xA5, 0x5A, 0xFF};
    StreamReader r;
    ASSERT_TRUE(r.OpenMemory(data, 3));
    for (int i = 0; i < 20; ++i) r.ReadBit();
    EXPECT_EQ(r.BitsTaken(), 20u);
    EXPECT_EQ(r.DataBytes(), 3u);
    for (int i = 0; i < 100; ++i) r.ReadBit();  // well into the filler
    EXPECT_EQ(r.BitsTaken(), 120u);
    EXPECT_EQ(r.DataBytes(), 3u);
}

TEST(DecodeReport, CompleteFilesAreWholeThroughFileAndMemory) {
    PlixCodec *codec = PLIX_Constructor();
    for (const char *name :
         {"mix_100x75_m0_q0_x0", "pixel_1x1_m1_q15_x2", "crafted_extra5", "edges_17x9_m1_q4_x1"}) {
        const std::vector<uint8_t> data = Case(name);
        BlockCount count;
        ASSERT_TRUE(CountWholeBlocks(data.data(), data.size(), count)) << name;
        EXPECT_EQ(count.whole, count.total) << name;
        ASSERT_TRUE(
            codec->ops->DecodeMemory(codec, data.data(), static_cast<int32_t>(data.size())));
        EXPECT_TRUE(DecodedWhole(codec)) << name;
        ASSERT_TRUE(codec->ops->DecodeFile(
            codec, test::DataPath(std::string("conformance/cases/") + name + ".plx").c_str()));
        EXPECT_TRUE(DecodedWhole(codec)) << name;
    }
    PLIX_Destructor(codec);
}

TEST(DecodeReport, CutFilesCountFewerBlocksTheShorterTheyAre) {
    const std::vector<uint8_t> data = Case("mix_100x75_m0_q0_x0");
    PlixCodec *codec = PLIX_Constructor();
    test::TempDir dir;
    int64_t last = -1;
    // From the header alone to the whole file: a 100 x 75 picture codes 390 blocks.
    for (size_t size = 16; size <= data.size(); size += 97) {
        BlockCount count;
        ASSERT_TRUE(CountWholeBlocks(data.data(), size, count));
        EXPECT_EQ(count.total, 390);
        EXPECT_GE(count.whole, last);
        EXPECT_LT(count.whole, 390);
        last = count.whole;
        // The decoder's own flag agrees, from a file as from memory.
        const std::string path = dir.File("cut.plx");
        test::WriteFileBytes(path, std::vector<uint8_t>(data.begin(), data.begin() + size));
        ASSERT_TRUE(codec->ops->DecodeFile(codec, path.c_str()));
        EXPECT_FALSE(DecodedWhole(codec));
    }
    BlockCount none;
    ASSERT_TRUE(CountWholeBlocks(data.data(), 16, none));
    EXPECT_EQ(none.whole, 0);
    PLIX_Destructor(codec);
}

TEST(DecodeReport, RefusesWhatTheDecoderRefuses) {
    std::vector<uint8_t> data = Case("pixel_1x1_m0_q0_x0");
    BlockCount count;
    EXPECT_FALSE(CountWholeBlocks(data.data(), 15, count));
    std::vector<uint8_t> bad = data;
    bad[0] = 'Q';
    EXPECT_FALSE(CountWholeBlocks(bad.data(), bad.size(), count));
    bad = data;
    bad[5] = 3;  // matrix set
    EXPECT_FALSE(CountWholeBlocks(bad.data(), bad.size(), count));
    bad = data;
    std::memset(bad.data() + 12, 0xFF, 4);  // width -1
    EXPECT_FALSE(CountWholeBlocks(bad.data(), bad.size(), count));
    bad = data;
    const uint8_t huge[8] = {0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00};  // 65536 x 65536
    std::memcpy(bad.data() + 8, huge, 8);
    EXPECT_FALSE(CountWholeBlocks(bad.data(), bad.size(), count));
}

}  // namespace
}  // namespace plix
