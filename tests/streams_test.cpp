// Byte and bit streams: bit order, transfer sizes, the filler byte past the end.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/byte_order.h"
#include "streams.h"
#include "test_util.h"

namespace plix {
namespace {

std::string WriteToMemory(const std::function<void(StreamWriter &)> &body) {
    std::string out;
    StreamWriter w;
    EXPECT_TRUE(w.OpenMemory(&out));
    body(w);
    EXPECT_TRUE(w.Close());
    return out;
}

TEST(StreamWriter, BitsFillBytesMostSignificantFirst) {
    EXPECT_EQ(WriteToMemory([](StreamWriter &w) {
                  w.WriteBits(1, 1);
                  w.WriteBits(0, 1);
                  w.WriteBits(1, 1);
                  w.Flush();
              }),
              std::string("\xA0", 1));

    std::string out = WriteToMemory([](StreamWriter &w) {
        w.WriteBits(5, 3);
        w.WriteBits(31, 5);
        w.Flush();
        w.Flush();  // nothing pending: writes nothing
    });
    EXPECT_EQ(out, std::string("\xBF", 1));
}

TEST(StreamWriter, IgnoresBitsAboveTheWidthAndEmptyWrites) {
    std::string out = WriteToMemory([](StreamWriter &w) {
        w.WriteBits(0xFFFFFFF0u | 0x5u, 3);  // only 101 counts
        w.WriteBits(0xFFFF, 0);
        w.WriteBits(0xFFFF, -3);
        w.Flush();
    });
    EXPECT_EQ(out, std::string("\xA0", 1));
}

TEST(StreamWriter, HandsOutFullChunksBeforeFlush) {
    std::string out;
    StreamWriter w;
    ASSERT_TRUE(w.OpenMemory(&out));
    for (size_t i = 0; i < kStreamChunk; ++i) w.WriteBits(static_cast<uint32_t>(i & 0xFF), 8);
    EXPECT_EQ(w.BytesHandedOut(), kStreamChunk);
    w.WriteBits(0x3, 2);
    EXPECT_EQ(w.BytesHandedOut(), kStreamChunk);
    w.Flush();
    EXPECT_EQ(w.BytesHandedOut(), kStreamChunk + 1);
    ASSERT_TRUE(w.Close());
    ASSERT_EQ(out.size(), kStreamChunk + 1);
    EXPECT_EQ(static_cast<uint8_t>(out[kStreamChunk - 1]), 0xFF);
    EXPECT_EQ(static_cast<uint8_t>(out[kStreamChunk]), 0xC0);
}

TEST(StreamWriter, WideWritesMatchSingleBits) {
    std::mt19937 rng(7);
    std::vector<std::pair<uint32_t, int>> fields;
    for (int i = 0; i < 20000; ++i) fields.emplace_back(rng(), 1 + static_cast<int>(rng() % 32));
    std::string wide = WriteToMemory([&](StreamWriter &w) {
        for (auto [v, n] : fields) w.WriteBits(v, n);
        w.Flush();
    });
    std::string single = WriteToMemory([&](StreamWriter &w) {
        for (auto [v, n] : fields)
            for (int b = n - 1; b >= 0; --b) w.WriteBits((v >> b) & 1u, 1);
        w.Flush();
    });
    EXPECT_EQ(wide, single);
}

TEST(StreamWriter, FileOutputAndFailures) {
    test::TempDir dir;
    std::string path = dir.File("out.bin");
    StreamWriter w;
    ASSERT_TRUE(w.OpenFile(path.c_str()));
    const uint8_t head[3] = {1, 2, 3};
    w.WriteBlock(head, 3);
    w.WriteBits(0xAB, 8);
    w.Flush();
    ASSERT_TRUE(w.Close());
    EXPECT_EQ(test::ReadFileBytes(path), (std::vector<uint8_t>{1, 2, 3, 0xAB}));

    // A missing folder cannot be written.
    EXPECT_FALSE(w.OpenFile(dir.File("missing/out.bin").c_str()));

    // A device that refuses writes is reported at close.
    ASSERT_TRUE(w.OpenFile("/dev/full"));
    w.WriteBits(1, 1);
    w.Flush();
    EXPECT_TRUE(w.Failed());
    EXPECT_FALSE(w.Close());
}

TEST(StreamWriter, ExistingFileSurvivesAFailedWrite) {
    test::TempDir dir;
    std::string path = dir.File("keep.bin");
    test::WriteFileBytes(path, {9, 9, 9});
    {
        StreamWriter w;
        ASSERT_TRUE(w.OpenFile(path.c_str()));
        w.WriteBits(0x55, 8);
        // Never closed: the old contents must stay until a complete write.
        EXPECT_EQ(test::ReadFileBytes(path), (std::vector<uint8_t>{9, 9, 9}));
    }
    EXPECT_EQ(test::ReadFileBytes(path), (std::vector<uint8_t>{9, 9, 9}));
}

TEST(StreamReader, SignedValuesFollowTheCategoryRule) {
    // 000 011 100 111 then 1 and 0
    const uint8_t bytes[] = {0x0E, 0x7A};  // 0000 1110 0111 1010
    StreamReader r;
    ASSERT_TRUE(r.OpenMemory(bytes, sizeof bytes));
    EXPECT_EQ(r.ReadSigned(0), 0);  // consumes nothing
    EXPECT_EQ(r.ReadSigned(3), -7);
    EXPECT_EQ(r.ReadSigned(3), -4);
    EXPECT_EQ(r.ReadSigned(3), 4);
    EXPECT_EQ(r.ReadSigned(3), 7);
    EXPECT_EQ(r.ReadSigned(1), 1);
    EXPECT_EQ(r.ReadSigned(1), -1);
    EXPECT_EQ(r.ReadSigned(-4), 0);
}

TEST(StreamReader, WideSignedValuesWrapLikeA32BitRegister) {
    const uint8_t ones[] = {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00};
    StreamReader r;
    ASSERT_TRUE(r.OpenMemory(ones, sizeof ones));
    EXPECT_EQ(r.ReadSigned(31), 0x7FFFFFFF);  // top bit set: the value itself
    // 1 then 31 zeros: bit 30 of the 31-bit value is 0
    r.Close();
    const uint8_t low[] = {0x00, 0x00, 0x00, 0x02};
    ASSERT_TRUE(r.OpenMemory(low, sizeof low));
    EXPECT_EQ(r.ReadSigned(31), static_cast<int32_t>(1u + 1u - (1u << 31)));
}

TEST(StreamReader, MemoryIsFetchedInChunks) {
    std::vector<uint8_t> block(70000);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7 + 1);
    StreamReader r;
    ASSERT_TRUE(r.OpenMemory(block.data(), static_cast<int32_t>(block.size())));
    EXPECT_EQ(r.ReadByte(), block[0]);
    EXPECT_EQ(r.LastChunkSize(), 65536u);
    for (size_t i = 1; i < 65536; ++i) ASSERT_EQ(r.ReadByte(), block[i]);
    EXPECT_EQ(r.ChunksFetched(), 1u);
    EXPECT_EQ(r.ReadByte(), block[65536]);
    EXPECT_EQ(r.LastChunkSize(), 4464u);
    for (size_t i = 65537; i < block.size(); ++i) ASSERT_EQ(r.ReadByte(), block[i]);
    // Past the end: the first byte of the last chunk, again and again.
    for (int i = 0; i < 5; ++i) EXPECT_EQ(r.ReadByte(), block[65536]);
    EXPECT_EQ(r.LastChunkSize(), 0u);
}

TEST(StreamReader, BlockReadsStayInsideTheBlock) {
    const uint8_t ten[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    uint8_t dest[16] = {};
    StreamReader r;
    ASSERT_TRUE(r.OpenMemory(ten, 10));
    EXPECT_EQ(r.ReadBlock(dest, 16), 10);
    EXPECT_EQ(dest[9], 10);
    EXPECT_EQ(r.ReadBlock(dest, 16), 0);
    EXPECT_EQ(r.Seek(0, 1), 10);

    // Seeking outside the block delivers nothing from outside it.
    ASSERT_TRUE(r.OpenMemory(ten, 10));
    r.Seek(1000, 1);
    EXPECT_EQ(r.ReadBlock(dest, 4), 0);
    r.Seek(-50, 0);
    EXPECT_EQ(r.ReadBlock(dest, 4), 0);
    EXPECT_EQ(r.ReadByte(), r.ReadByte());  // filler only
}

TEST(StreamReader, RefusesBadBlocks) {
    const uint8_t one = 1;
    StreamReader r;
    EXPECT_FALSE(r.OpenMemory(nullptr, 4));
    EXPECT_FALSE(r.OpenMemory(&one, -1));
    EXPECT_TRUE(r.OpenMemory(&one, 0));
    EXPECT_FALSE(r.OpenFile("/nonexistent/file"));
    EXPECT_FALSE(r.OpenFile("/tmp"));  // a folder is no file
}

TEST(StreamReader, FillerComesFromTheLastChunkFetched) {
    StreamReader fresh;
    const uint8_t none = 0;
    ASSERT_TRUE(fresh.OpenMemory(&none, 0));
    EXPECT_EQ(fresh.ReadByte(), 0);  // nothing was ever fetched

    StreamReader r;
    const uint8_t first[] = {0xC3, 0x11};
    ASSERT_TRUE(r.OpenMemory(first, 2));
    EXPECT_EQ(r.ReadByte(), 0xC3);
    EXPECT_EQ(r.ReadByte(), 0x11);
    EXPECT_EQ(r.ReadByte(), 0xC3);
    // An empty source fetches nothing: its filler is 0, whatever came before.
    ASSERT_TRUE(r.OpenMemory(&none, 0));
    EXPECT_EQ(r.ReadByte(), 0);
    // Bits past the end come from the filler byte too.
    ASSERT_TRUE(r.OpenMemory(first, 1));
    for (int i = 0; i < 8; ++i) r.ReadBit();
    uint32_t bits = 0;
    for (int i = 0; i < 16; ++i) bits = (bits << 1) | r.ReadBit();
    EXPECT_EQ(bits, 0xC3C3u);
}

TEST(StreamReader, BitsMatchAPlainExtractionAcrossChunks) {
    std::mt19937 rng(11);
    std::vector<uint8_t> data(200000);
    for (auto &b : data) b = static_cast<uint8_t>(rng());
    auto bitAt = [&](uint64_t i) -> uint32_t {
        uint64_t byte = i / 8;
        uint8_t v =
            byte < data.size() ? data[byte] : data[196608];  // first byte of the fourth chunk
        return (v >> (7 - i % 8)) & 1u;
    };
    StreamReader r;
    ASSERT_TRUE(r.OpenMemory(data.data(), static_cast<int32_t>(data.size())));
    uint64_t pos = 0;
    while (pos < data.size() * 8 + 500) {
        int n = 1 + static_cast<int>(rng() % 20);
        uint32_t expect = 0;
        for (int i = 0; i < n; ++i) expect = (expect << 1) | bitAt(pos + i);
        r.Refill();
        ASSERT_EQ(r.Peek(n), expect) << "at bit " << pos;
        r.Skip(n);
        pos += n;
        if (rng() % 4 == 0) {
            ASSERT_EQ(r.ReadBit(), bitAt(pos));
            ++pos;
        }
    }
}

TEST(StreamReader, FileModeAndASecondOpen) {
    test::TempDir dir;
    std::vector<uint8_t> a(100000), b(300);
    for (size_t i = 0; i < a.size(); ++i) a[i] = static_cast<uint8_t>(i);
    for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(255 - i);
    test::WriteFileBytes(dir.File("a"), a);
    test::WriteFileBytes(dir.File("b"), b);

    StreamReader r;
    ASSERT_TRUE(r.OpenFile(dir.File("a").c_str()));
    uint8_t head[16];
    ASSERT_EQ(r.ReadBlock(head, 16), 16);
    EXPECT_EQ(head[15], 15);
    r.Seek(4, 1);
    EXPECT_EQ(r.ReadByte(), 20);  // chunks start where the block read and seek left off
    EXPECT_EQ(r.LastChunkSize(), 65536u);
    for (int i = 0; i < 1000; ++i) r.ReadBit();

    // Past the end the file is not asked again, however long the reading goes on.
    StreamReader tail;
    ASSERT_TRUE(tail.OpenFile(dir.File("b").c_str()));
    for (size_t i = 0; i < b.size() + 100000; ++i) tail.ReadByte();
    EXPECT_EQ(tail.ChunksFetched(), 2u);
    EXPECT_EQ(tail.ReadByte(), b[0]);

    // Only part of a was read; b's bytes come from its first byte on.
    ASSERT_TRUE(r.OpenFile(dir.File("b").c_str()));
    for (size_t i = 0; i < b.size(); ++i) ASSERT_EQ(r.ReadByte(), b[i]);
    EXPECT_EQ(r.ReadByte(), b[0]);
    r.Close();
    EXPECT_FALSE(r.IsOpen());
}

// The words of the bit streams (a shuffle in WebAssembly, a byte swap
// elsewhere): most significant byte first, at any alignment, and back.
TEST(ByteOrder, Be64WordsAreMostSignificantByteFirst) {
    std::mt19937_64 rng(7);
    std::vector<uint64_t> values = {0, ~uint64_t{0}, 0x0102030405060708ull, uint64_t{1} << 63, 0xFF};
    for (int i = 0; i < 200; ++i) values.push_back(rng());
    for (const uint64_t v : values) {
        for (size_t at = 0; at < 8; ++at) {
            uint8_t buffer[24];
            for (uint8_t &b : buffer) b = 0xA5;
            platform::StoreBe64(buffer + at, v);
            for (size_t k = 0; k < 24; ++k) {
                const bool inWord = k >= at && k < at + 8;
                const uint8_t expect =
                    inWord ? static_cast<uint8_t>(v >> (56 - 8 * (k - at))) : uint8_t{0xA5};
                ASSERT_EQ(buffer[k], expect) << std::hex << v << " at " << at << " byte " << k;
            }
            ASSERT_EQ(platform::LoadBe64(buffer + at), v);
        }
    }
}

}  // namespace
}  // namespace plix
