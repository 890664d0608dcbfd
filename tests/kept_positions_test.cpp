// Positions decoded ahead of their DC predictors and kept compactly, then
// turned into pixels once the predictors are known: the same blocks, and the
// same strips, as decoding the bits in place.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>
#include <vector>

#include "band_decoder.h"
#include "dsp/dsp.h"
#include "entropy/block_decoder.h"
#include "entropy/kernels.h"
#include "format.h"
#include "kernel_levels.h"
#include "plix/codec.h"
#include "recycled.h"
#include "streams.h"
#include "strips.h"
#include "test_util.h"

namespace plix {
namespace {

using Bytes = std::vector<uint8_t>;

// Blocks as the decoder leaves them: products of any size, some zero, and
// DC-only blocks holding anything past entry 0.
void RandomPosition(std::mt19937 &rng, int32_t blocks[3][64], uint32_t &dcOnly) {
    static const int32_t edges[] = {-256,  255,   -257,    256,     32767,     -32768,
                                    32768, -32769, 1 << 20, INT32_MAX, INT32_MIN, 1};
    const int style = static_cast<int>(rng() % 3);
    dcOnly = rng() % 8;
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < 64; ++i) {
            const uint32_t pick = rng() % 8;
            blocks[c][i] = static_cast<int>(pick) < 5 - 2 * style ? 0
                           : pick == 7        ? edges[rng() % (sizeof edges / sizeof edges[0])]
                                              : static_cast<int32_t>(rng() % 601) - 300;
        }
}

TEST(KeptPositions, KernelsKeepTheEntriesThatAreNotZeroAndRestoreThem) {
    std::mt19937 rng(11);
    for (const Dsp &k : test::KeepingKernelLevels()) {
        for (int trial = 0; trial < 3000; ++trial) {
            alignas(64) int32_t blocks[3][64];
            uint32_t dcOnly;
            RandomPosition(rng, blocks, dcOnly);
            // Room for the most, and a guard the kernel must leave alone.
            std::vector<int16_t> values(kPositionKeptValues + 32, 0x5A5A);
            uint64_t masks[3];
            const size_t n = k.keepPosition(blocks, dcOnly, masks, values.data());
            ASSERT_LE(n, size_t{189});
            for (size_t i = kPositionKeptValues; i < values.size(); ++i)
                ASSERT_EQ(values[i], 0x5A5A) << k.name;
            size_t at = 0;
            for (int c = 0; c < 3; ++c) {
                alignas(64) int32_t back[64];
                std::fill(back, back + 64, 77);
                at += k.restoreBlock(masks[c], values.data() + at, back);
                ASSERT_EQ(back[0], 0) << k.name;
                for (int i = 1; i < 64; ++i) {
                    // Limited to 16 bits, which the kernels limit further.
                    const int32_t want =
                        dcOnly >> c & 1 ? 0 : std::clamp(blocks[c][i], -32768, 32767);
                    ASSERT_EQ(back[i], want) << k.name << " trial " << trial << " block " << c
                                             << " entry " << i;
                    ASSERT_EQ(masks[c] >> i & 1, want != 0 ? 1u : 0u) << k.name;
                }
            }
            ASSERT_EQ(at, n) << k.name;
        }
    }
}

// A busy picture's file at q-factor q.
Bytes BusyFile(uint32_t w, uint32_t h, int q, uint32_t seed) {
    return test::EncodeRgb(test::BusyRgb(w, h, seed, 40), w, h, {0, static_cast<uint32_t>(q), 0, 1});
}

TEST(KeptPositions, StripsFromKeptPositionsAreTheStripsFromTheBits) {
    // Widths whose strips end in four positions, a pair, and a lone one;
    // the last strip partly outside the picture.
    for (const Dsp &k : test::KeepingKernelLevels())
        for (uint32_t w : {293u, 299u, 40u})
            for (int q : {0, 4, 15, -1}) {
                // (-1: q0 with bytes of the body flipped, which decode to
                // coefficients of any size.)
                Bytes file = BusyFile(w, 37, std::max(q, 0), w + static_cast<uint32_t>(q));
                ASSERT_FALSE(file.empty());
                std::mt19937 rng(w);
                for (int i = 0; q < 0 && i < 40; ++i)
                    file[kHeaderSize + rng() % (file.size() - kHeaderSize)] ^= static_cast<uint8_t>(1 + rng() % 255);
                PlixHeader header;
                ASSERT_EQ(ReadHeader(file.data(), file.size(), header), HeaderCheck::kOk);
                const uint8_t *body = file.data() + kHeaderSize;
                const auto bodySize = static_cast<int32_t>(file.size() - kHeaderSize);
                const int64_t strips = header.BlockRows();
                const size_t columns = static_cast<size_t>(header.BlockColumns());
                const size_t rowBytes = columns * 32;

                // Strip by strip from the bits, noting where each starts.
                StripDecoder bits(header, k);
                StreamReader r;
                ASSERT_TRUE(r.OpenMemory(body, bodySize));
                std::vector<Bytes> want;
                std::vector<uint64_t> startBit;
                std::vector<StripDecoder::Mark> mark;
                for (int64_t s = 0; s < strips; ++s) {
                    startBit.push_back(r.BitsTaken());
                    mark.push_back(bits.Here());
                    want.emplace_back(rowBytes * 8);
                    bits.Next(r, want.back().data(), rowBytes, false);
                }

                // Kept from a strip's first bit on with predictors 0, then
                // shifted by the true ones there.
                for (int64_t from : {int64_t{0}, int64_t{1}, strips - 1}) {
                    StripDecoder keep(header, k);
                    StreamReader kr;
                    ASSERT_TRUE(kr.OpenMemory(body, bodySize));
                    for (uint64_t i = 0; i < startBit[static_cast<size_t>(from)]; ++i) kr.ReadBit();
                    const size_t positions = columns * static_cast<size_t>(strips - from);
                    std::vector<PositionNote> notes(positions);
                    std::vector<KeptPosition> kept(positions);
                    std::vector<int16_t> values(positions * kPositionKeptValues);
                    int32_t p[3] = {0, 0, 0};
                    size_t used = 0;
                    ASSERT_EQ(keep.KeepPositions(kr, p, 0, UINT64_MAX, notes.data(), kept.data(),
                                                 positions, values.data(), used, values.size()),
                              positions);
                    const int32_t *offset = mark[static_cast<size_t>(from)].predictors;
                    for (int64_t s = from; s < strips; ++s) {
                        const size_t first = columns * static_cast<size_t>(s - from);
                        EXPECT_EQ(notes[first].at, startBit[static_cast<size_t>(s)]);
                        Bytes got(rowBytes * 8, 0xEE);
                        keep.Rewind({s * 8, {0, 0, 0}});
                        keep.NextKept(&kept[first], &notes[first], values.data(), offset,
                                      got.data(), rowBytes);
                        ASSERT_EQ(got, want[static_cast<size_t>(s)])
                            << k.name << " width " << w << " q" << q << " kept from strip "
                            << from << ", strip " << s;
                    }
                }
            }
}

TEST(KeptPositions, BandsOnThreadsThatKeepEveryPartDecodeAsOneThread) {
    // Every level keeping whatever the bits a position takes, on 2 to 4
    // threads and parts of any size: the rows of one thread's strips.
    for (const Dsp &k : test::KeepingKernelLevels())
        for (int q : {0, 6, 15}) {
            const Bytes file = BusyFile(517, 203, q, 7 + static_cast<uint32_t>(q));
            ASSERT_FALSE(file.empty());
            PlixHeader header;
            ASSERT_EQ(ReadHeader(file.data(), file.size(), header), HeaderCheck::kOk);
            const uint8_t *body = file.data() + kHeaderSize;
            const size_t size = file.size() - kHeaderSize;
            const int64_t strips = header.BlockRows();
            const size_t rowBytes = static_cast<size_t>(header.BlockColumns()) * 32;
            Bytes want(rowBytes * 8 * static_cast<size_t>(strips));
            StripDecoder one(header, k);
            StreamReader r;
            r.OpenRegion(body, size, 0);
            for (int64_t s = 0; s < strips; ++s)
                one.Next(r, want.data() + static_cast<size_t>(s) * 8 * rowBytes, rowBytes, false);
            for (unsigned threads = 2; threads <= 4; ++threads) {
                Bytes got(want.size(), 0xEE);
                BandOutcome outcome;
                ASSERT_TRUE(DecodeInBands(
                    header, k, body, size, 0, threads, 0, 1,
                    [&](int64_t s, const uint8_t *rows, size_t bytes) {
                        std::copy(rows, rows + 8 * bytes, got.begin() + static_cast<ptrdiff_t>(s) * 8 *
                                                                            static_cast<ptrdiff_t>(rowBytes));
                    },
                    outcome));
                ASSERT_EQ(got, want) << k.name << " q" << q << ", " << threads << " threads";
                EXPECT_FALSE(outcome.truncated);
            }
        }
}

TEST(KeptPositions, MemoryComesBackForTheNextCallAndHugeRequestsFail) {
#if defined(__EMSCRIPTEN__)
    // Under Node one of these requests ran out of WebAssembly's memory; not
    // yet understood.
    GTEST_SKIP() << "not in WebAssembly's memory";
#endif
    // A block given back serves the next request of its size, so that its
    // pages need not be touched anew; sizes no memory holds fail cleanly.
    void *first = TakeRecycled(300 << 10);
    static_cast<uint8_t *>(first)[0] = 1;
    GiveRecycled(first, 300 << 10);
    void *again = TakeRecycled(290 << 10);
    EXPECT_EQ(again, first);
    GiveRecycled(again, 290 << 10);
    EXPECT_THROW(TakeRecycled(SIZE_MAX), std::bad_alloc);
    EXPECT_THROW(TakeRecycled(SIZE_MAX / 2 + 2), std::bad_alloc);
    // Blocks past what is kept in all go back to the allocator (where the
    // address space has room for one: not in WebAssembly's).
    try {
        void *big = TakeRecycled(kMostRecycled + 1);
        GiveRecycled(big, kMostRecycled + 1);
    } catch (const std::bad_alloc &) {
    }
    std::vector<int, Recycling<int>> v(5, 7);
    v.resize(100000);
    EXPECT_EQ(v[4], 7);
}

}  // namespace
}  // namespace plix
