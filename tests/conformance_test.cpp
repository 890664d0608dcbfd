// The shared conformance vectors, byte for byte: every PLIX file decodes to its
// expected buffer and BMP, from a file and from memory, and every source image
// encodes to exactly its PLIX file.
#include <gtest/gtest.h>

#include "conformance_cases.h"
#include "plix/plix.h"
#include "test_util.h"

namespace {

using plix::test::DataPath;
using plix::test::ReadFileBytes;

using Case = plix::test::ConformanceCase;

const std::vector<Case> &Cases() {
    return plix::test::ConformanceCases();
}

std::string Conf(const std::string &rel) {
    return plix::test::ConformancePath(rel);
}

class Conformance : public ::testing::TestWithParam<size_t> {
protected:
    const Case &c() const { return Cases()[GetParam()]; }
    plix::CodecHandle codec_{PLIX_Constructor, PLIX_Destructor};

    void ExpectBuffer() {
        int32_t w, h, pw, ph;
        codec_.imageSize(w, h);
        codec_.bufferSize(pw, ph);
        ASSERT_EQ(w, c().Int("width"));
        ASSERT_EQ(h, c().Int("height"));
        ASSERT_EQ(pw, c().Int("padded_width"));
        ASSERT_EQ(ph, c().Int("padded_height"));
        auto expected = ReadFileBytes(Conf(c()["expected_buffer"]));
        ASSERT_EQ(expected.size(), static_cast<size_t>(pw) * ph * 4);
        const uint8_t *buf = codec_.imageBuffer();
        ASSERT_NE(buf, nullptr);
        for (size_t i = 0; i < expected.size(); ++i) {
            ASSERT_EQ(buf[i], expected[i]) << "byte " << i << " (pixel " << (i / 4) % pw << ", "
                                           << (i / 4) / pw << ", channel " << i % 4 << ")";
        }
    }
};

TEST_P(Conformance, DecodesFileToTheExpectedBuffer) {
    ASSERT_TRUE(codec_.decodeFile(Conf(c()["plx"]).c_str()));
    ExpectBuffer();
}

TEST_P(Conformance, DecodesMemoryToTheExpectedBuffer) {
    auto plx = ReadFileBytes(Conf(c()["plx"]));
    ASSERT_TRUE(codec_.decodeMemory(plx.data(), static_cast<int32_t>(plx.size())));
    ExpectBuffer();
}

TEST_P(Conformance, DecodesToTheExpectedBitmap) {
    plix::test::TempDir dir;
    std::string out = dir.File("out.bmp");
    ASSERT_TRUE(codec_.decodeToBitmapFile(Conf(c()["plx"]).c_str(), out.c_str()));
    EXPECT_EQ(ReadFileBytes(out), ReadFileBytes(Conf(c()["expected_bmp"])));
}

// The cases that come with a source image.
class ConformanceEncode : public Conformance {};

TEST_P(ConformanceEncode, EncodesTheSourceToTheExpectedFile) {
    plix::test::TempDir dir;
    std::string out = dir.File("out.plx");
    ASSERT_TRUE(codec_.encodeBitmapFile(Conf(c()["input_bmp"]).c_str(), out.c_str(),
                                        c().Int("mode"), c().Int("qfactor"), c().Int("matrix")));
    auto got = ReadFileBytes(out);
    auto expected = ReadFileBytes(Conf(c()["plx"]));
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], expected[i]) << "byte " << i;
}

using plix::test::ConformanceIndices;
using plix::test::ConformanceCaseName;

INSTANTIATE_TEST_SUITE_P(Vectors, Conformance, ::testing::ValuesIn(ConformanceIndices(false)),
                         ConformanceCaseName);
INSTANTIATE_TEST_SUITE_P(Vectors, ConformanceEncode, ::testing::ValuesIn(ConformanceIndices(true)),
                         ConformanceCaseName);

TEST(ConformanceIndex, HasAllCases) {
    EXPECT_GE(Cases().size(), 131u);
}

}  // namespace
