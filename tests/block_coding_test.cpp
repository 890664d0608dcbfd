// Coding of one block: the worked examples of the block coder, round trips,
// hostile streams, and the fast decoder against the bit-by-bit one.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>
#include <string>
#include <vector>

#include "coefficients.h"
#include "dsp/dsp.h"
#include "entropy/block_decoder.h"
#include "entropy/block_encoder.h"
#include "entropy/huffman.h"
#include "entropy/kernels.h"
#include "entropy/symbols.h"
#include "bit_strings.h"
#include "streams.h"

namespace plix {
namespace {

using Block = std::vector<int32_t>;

constexpr int kClassOf[3] = {0, 1, 1};

using test::Pack;
using test::WrittenBits;

std::string Code(int symbol, int cls, bool ac) {
    return test::SymbolBits(symbol, cls, ac);
}

// Block with the given zigzag positions set.
Block Zigzag(std::initializer_list<std::pair<int, int32_t>> values) {
    Block b(64, 0);
    for (auto [pos, v] : values) b[ZigzagOrder[pos]] = v;
    return b;
}

std::string EncodedBits(const Block &b, int cls, int32_t predictor = 0) {
    return WrittenBits([&](StreamWriter &w) { EncodeBlockSymbols(w, b.data(), cls, predictor); });
}

// One block read a symbol at a time through the decoding trees and
// dequantised the way the format describes it: what the table-driven decoders
// are checked against.
void DecodeBlockReference(StreamReader &r, int32_t block[64], const int32_t q[64], int cls,
                          int32_t &predictor) {
    cls &= 1;
    const int s = DecodeSymbol(r, cls, false);
    predictor = static_cast<int32_t>(static_cast<uint32_t>(predictor) +
                                     static_cast<uint32_t>(r.ReadSigned(s)));
    block[0] = predictor;
    int p = 1;
    while (p <= 63) {
        const int symbol = DecodeSymbol(r, cls, true);
        if (symbol == plix::kEndOfBlock) {
            for (; p <= 63; ++p) block[ZigzagOrder[p]] = 0;
        } else if (symbol == plix::kZeroRun16) {
            for (int k = 0; k < 16 && p <= 63; ++k, ++p) block[ZigzagOrder[p]] = 0;
        } else {
            for (int k = 0; k < symbol >> 4 && p <= 63; ++k, ++p) block[ZigzagOrder[p]] = 0;
            if (p > 63) break;
            block[ZigzagOrder[p++]] = r.ReadSigned(symbol & 15);
        }
    }
    for (int i = 0; i < 64; ++i) {
        const int32_t product =
            static_cast<int32_t>(static_cast<uint32_t>(block[i]) * static_cast<uint32_t>(q[i]));
        block[i] = std::clamp(product, -256, 255);
    }
}

const std::string kZeroRun16 = "111101111111";
const std::string kEndOfBlock = "11111";

// ScanPositions notes the reference's positions, all in one call and a few a
// call, and stops before the first that starts at or past its stop bit,
// leaving the reader there.
void ExpectScanMatches(const std::string &bytes, const std::vector<PositionNote> &want,
                       const int32_t start[3]) {
    const size_t n = want.size();
    const auto open = [&](StreamReader &r) {
        EXPECT_TRUE(r.OpenMemory(bytes.data(), static_cast<int32_t>(bytes.size())));
    };
    const auto expectNotes = [&](const std::vector<PositionNote> &got, const char *how) {
        ASSERT_EQ(got.size(), n) << how;
        for (size_t i = 0; i < n; ++i) {
            EXPECT_EQ(got[i].at, want[i].at + 5) << how << " position " << i;
            EXPECT_EQ(std::vector<int32_t>(got[i].dc, got[i].dc + 3),
                      std::vector<int32_t>(want[i].dc, want[i].dc + 3))
                << how << " position " << i;
        }
    };
    StreamReader whole, reference;
    open(whole);
    open(reference);
    int32_t p[3] = {0, 0, 0};
    if (start) std::copy(start, start + 3, p);
    std::vector<PositionNote> got(n + 1);
    got.resize(ScanPositions(whole, p, 5, UINT64_MAX, got.data(), n));
    expectNotes(got, "at once");
    int32_t pr[3] = {0, 0, 0};
    if (start) std::copy(start, start + 3, pr);
    alignas(32) int32_t block[64];
    const int32_t q[64] = {1};
    for (size_t i = 0; i < 3 * n; ++i)
        DecodeBlock(reference, block, q, kClassOf[i % 3], pr[i % 3]);
    EXPECT_EQ(std::vector<int32_t>(p, p + 3), std::vector<int32_t>(pr, pr + 3));
    EXPECT_EQ(whole.ReadSigned(31), reference.ReadSigned(31));

    StreamReader few;
    open(few);
    std::fill(p, p + 3, 0);
    if (start) std::copy(start, start + 3, p);
    std::vector<PositionNote> pieces;
    for (size_t cap = 1; pieces.size() < n; cap = cap % 3 + 1) {
        PositionNote some[3];
        const size_t k = ScanPositions(few, p, 5, UINT64_MAX, some, std::min(cap, n - pieces.size()));
        ASSERT_GT(k, 0u);
        pieces.insert(pieces.end(), some, some + k);
    }
    expectNotes(pieces, "a few a call");

    for (size_t stopAt : {size_t{0}, n / 2, n > 0 ? n - 1 : 0}) {
        if (stopAt >= n) continue;
        int32_t ps[3] = {0, 0, 0};
        std::vector<PositionNote> out(n);
        // Stops at the position's first bit and also at any bit after it
        // that comes before the next position.
        for (uint64_t late : {uint64_t{0}, uint64_t{1}}) {
            if (late == 1 && (stopAt + 1 >= n || want[stopAt + 1].at == want[stopAt].at + 1))
                continue;
            StreamReader again;
            open(again);
            std::fill(ps, ps + 3, 0);
            EXPECT_EQ(ScanPositions(again, ps, 5, want[stopAt].at + 5 + late, out.data(), n),
                      stopAt + late);
            if (late == 0) {
                EXPECT_EQ(again.BitsTaken(), want[stopAt].at);
            }
        }
    }
}

// Decodes count blocks of the components 0, 1, 2 in turn with both decoders,
// expecting the same blocks and predictors; returns the fast decoder's blocks.
// The whole positions among them are also decoded with DecodePositions, one
// or two positions a call, which must give the same blocks again.
std::vector<Block> DecodeBoth(const std::string &bytes, int count, const int32_t q[2][64],
                              const int32_t start[3] = nullptr) {
    StreamReader fast, slow, batch;
    EXPECT_TRUE(fast.OpenMemory(bytes.data(), static_cast<int32_t>(bytes.size())));
    EXPECT_TRUE(slow.OpenMemory(bytes.data(), static_cast<int32_t>(bytes.size())));
    EXPECT_TRUE(batch.OpenMemory(bytes.data(), static_cast<int32_t>(bytes.size())));
    int32_t pf[3] = {0, 0, 0}, ps[3] = {0, 0, 0}, pb[3] = {0, 0, 0};
    if (start)
        std::copy(start, start + 3, pf), std::copy(start, start + 3, ps),
            std::copy(start, start + 3, pb);
    std::vector<Block> out;
    // Each whole position's first bit and the predictors after it, as the
    // reference reads them, for the reader of codes alone.
    std::vector<PositionNote> notes;
    int32_t atPositionsEnd[3];
    std::copy(pb, pb + 3, atPositionsEnd);
    const int positions = count / 3;
    for (int i = 0; i < count; ++i) {
        const int k = i % 3, cls = kClassOf[k];
        Block a(64, 0x5A5A5A5A), b(64, -0x5A5A5A5A);  // every entry must be written
        DecodeBlock(fast, a.data(), q[cls], cls, pf[k]);
        const uint64_t before = slow.BitsTaken();
        DecodeBlockReference(slow, b.data(), q[cls], cls, ps[k]);
        if (k == 0 && i + 3 <= 3 * positions) notes.push_back({before, {}});
        if (k == 2 && i < 3 * positions) std::copy(ps, ps + 3, notes.back().dc);
        EXPECT_EQ(a, b) << "block " << i;
        EXPECT_EQ(pf[k], ps[k]) << "block " << i;
        out.push_back(a);
        if (i + 1 == 3 * positions) std::copy(pf, pf + 3, atPositionsEnd);
    }
    // Both end at the same bit.
    EXPECT_EQ(fast.ReadSigned(31), slow.ReadSigned(31));
    ExpectScanMatches(bytes, notes, start);

    alignas(32) int32_t blocks[6][64];
    int32_t luma[kZigzagQuantEntries], chroma[kZigzagQuantEntries];
    ZigzagQuant(q[0], luma);
    ZigzagQuant(q[1], chroma);
    for (int i = 0; i < positions;) {
        const int n = std::min(positions - i, 1 + i % 2);
        std::fill(&blocks[0][0], &blocks[0][0] + 6 * 64, 0x5A5A5A5A);
        DecodePositions(batch, blocks, n, luma, chroma, pb);
        for (int j = 0; j < 3 * n; ++j)
            EXPECT_EQ(Block(blocks[j], blocks[j] + 64), out[3 * i + j])
                << "batch block " << 3 * i + j;
        i += n;
    }
    EXPECT_EQ(std::vector<int32_t>(pb, pb + 3),
              std::vector<int32_t>(atPositionsEnd, atPositionsEnd + 3));

    // The raw forms (the plain one and the chosen one, with the BMI2 shifts
    // where the processor has them): limited and, for the blocks they mark,
    // cleared, the same blocks; they mark only blocks without AC. Stale
    // entries stand in for the ones they leave.
    StreamReader raws[2];
    for (int form = 0; form < 2; ++form) {
        StreamReader &raw = raws[form];
        const auto decodeRaw = form == 0 ? GetDsp().decodePositionsRaw : DecodePositionsRaw;
        EXPECT_TRUE(raw.OpenMemory(bytes.data(), static_cast<int32_t>(bytes.size())));
        int32_t pr[3] = {0, 0, 0};
        if (start) std::copy(start, start + 3, pr);
        for (int i = 0; i < positions;) {
            const int n = std::min(positions - i, 1 + (i / 2) % 2);
            std::fill(&blocks[0][0], &blocks[0][0] + 6 * 64, 0x5A5A5A5A);
            const uint32_t dcOnly = decodeRaw(raw, blocks, n, luma, chroma, pr);
            EXPECT_EQ(dcOnly >> (3 * n), 0u);
            for (int j = 0; j < 3 * n; ++j) {
                const Block &want = out[3 * i + j];
                Block got(64);
                const bool marked = (dcOnly >> j) & 1;
                for (int c = 0; c < 64; ++c)
                    got[c] = marked && c > 0 ? 0 : std::clamp(blocks[j][c], -256, 255);
                EXPECT_EQ(got, want) << "raw form " << form << " block " << 3 * i + j;
                if (marked) {
                    EXPECT_EQ(blocks[j][1], 0x5A5A5A5A)
                        << "raw form " << form << " block " << 3 * i + j;
                }
            }
            i += n;
        }
        EXPECT_EQ(std::vector<int32_t>(pr, pr + 3),
                  std::vector<int32_t>(atPositionsEnd, atPositionsEnd + 3));
    }
    if (count % 3 == 0) {
        StreamReader again;
        EXPECT_TRUE(again.OpenMemory(bytes.data(), static_cast<int32_t>(bytes.size())));
        int32_t pa[3] = {0, 0, 0};
        if (start) std::copy(start, start + 3, pa);
        for (int i = 0; i < count; ++i)
            DecodeBlock(again, blocks[0], q[kClassOf[i % 3]], kClassOf[i % 3], pa[i % 3]);
        const int32_t end = again.ReadSigned(31);
        EXPECT_EQ(batch.ReadSigned(31), end);
        EXPECT_EQ(raws[0].ReadSigned(31), end);
        EXPECT_EQ(raws[1].ReadSigned(31), end);
    }
    return out;
}

struct Tables {
    int32_t q[2][64];
    explicit Tables(int32_t v) { std::fill(&q[0][0], &q[0][0] + 128, v); }
};

TEST(BlockCoding, ZigzagOrderWalksTheAntiDiagonals) {
    EXPECT_EQ(ZigzagOrder[0], 0);
    EXPECT_EQ(ZigzagOrder[1], 1);    // (0, 1)
    EXPECT_EQ(ZigzagOrder[2], 8);    // (1, 0)
    EXPECT_EQ(ZigzagOrder[63], 63);  // (7, 7)
    // Diagonal by diagonal; odd diagonals run down-left, even ones up-right.
    int pos = 0;
    for (int d = 0; d <= 14; ++d) {
        for (int i = 0; i <= d; ++i) {
            int row = d % 2 ? i : d - i;
            int col = d - row;
            if (row > 7 || col > 7) continue;
            EXPECT_EQ(ZigzagOrder[pos], row * 8 + col) << pos;
            ++pos;
        }
    }
    EXPECT_EQ(pos, 64);
}

TEST(BlockCoding, CategoriesAndValueBits) {
    const std::pair<int32_t, int> categories[] = {
        {0, 0},    {1, 1},   {-1, 1},   {2, 2},     {3, 2},          {255, 8},       {256, 9},
        {-510, 9}, {511, 9}, {-511, 9}, {-512, 10}, {INT32_MIN, 32}, {INT32_MAX, 31}};
    for (auto [v, n] : categories) EXPECT_EQ(MagnitudeCategory(v), n) << v;

    auto bits = [](int32_t v, int n) {
        return WrittenBits([&](StreamWriter &w) { WriteValueBits(w, v, n); });
    };
    EXPECT_EQ(bits(-1, 1), "0");
    EXPECT_EQ(bits(-7, 3), "000");
    EXPECT_EQ(bits(-4, 3), "011");
    EXPECT_EQ(bits(5, 3), "101");
    EXPECT_EQ(bits(1, 1), "1");
    EXPECT_EQ(bits(-511, 9), "000000000");
    EXPECT_EQ(bits(7, 0), "");

    auto read = [](const std::string &b, int n) {
        std::string bytes = Pack(b);
        StreamReader r;
        EXPECT_TRUE(r.OpenMemory(bytes.data(), static_cast<int32_t>(bytes.size())));
        return r.ReadSigned(n);
    };
    EXPECT_EQ(read("011", 3), -4);
    EXPECT_EQ(read("1", 1), 1);
    EXPECT_EQ(read("000", 3), -7);

    // Every value of every category reads back.
    for (int32_t v = -511; v <= 511; ++v) {
        int n = MagnitudeCategory(v);
        if (n == 0) continue;
        ASSERT_EQ(read(bits(v, n), n), v);
    }
}

TEST(BlockCoding, WorkedBlocks) {
    // All zero with a zero DC difference: DC category 0 and end of block.
    EXPECT_EQ(EncodedBits(Block(64, 0), 0), "000" + kEndOfBlock);
    EXPECT_EQ(EncodedBits(Block(64, 0), 1), "00" + kEndOfBlock);
    EXPECT_EQ(EncodedBits(Block(64, 0), 1).size(), 7u);

    // Only position 63, value 1: three 16-zero runs, run 14 size 1, the
    // value bit, and no end of block.
    EXPECT_EQ(EncodedBits(Zigzag({{63, 1}}), 0),
              "000" + kZeroRun16 + kZeroRun16 + kZeroRun16 + Code(0xE1, 0, true) + "1");
    EXPECT_EQ(Code(0xE1, 0, true).size(), 12u);

    // Last coefficient at position 40: trailing zeros are one end of block.
    EXPECT_EQ(EncodedBits(Zigzag({{1, 5}, {40, -2}}), 0),
              "000" + std::string("100") + "101" + kZeroRun16 + kZeroRun16 + Code(0x62, 0, true) +
                  "01" + kEndOfBlock);

    // Exactly 16 zeros, then a coefficient: one 16-zero run, then run 0.
    EXPECT_EQ(EncodedBits(Zigzag({{17, 3}}), 0), "000" + kZeroRun16 + "01" + "11" + kEndOfBlock);
    // 32 zeros: two runs of 16, then run 0; 31 zeros: one run and run 15.
    EXPECT_EQ(EncodedBits(Zigzag({{33, -1}}), 1),
              "00" + kZeroRun16 + kZeroRun16 + "00" + "0" + kEndOfBlock);
    EXPECT_EQ(EncodedBits(Zigzag({{32, 1}}), 1),
              "00" + kZeroRun16 + Code(0xF1, 1, true) + "1" + kEndOfBlock);

    // A value in every position: no runs, no end of block.
    Block full(64, 1);
    std::string expected = "00";
    for (int i = 1; i < 64; ++i) expected += "00" + std::string("1");
    EXPECT_EQ(EncodedBits(full, 1, 1), expected);
}

TEST(BlockCoding, DcPredictionAcrossBlocks) {
    // DC 10, 10, 7 in component 0: differences 10, 0, -3.
    std::string bits = WrittenBits([](StreamWriter &w) {
        int32_t pred = 0;
        for (int32_t dc : {10, 10, 7}) {
            Block b(64, 0);
            b[0] = dc;
            EncodeBlockSymbols(w, b.data(), 0, pred);
            EXPECT_EQ(pred, dc);
        }
    });
    EXPECT_EQ(bits, "011" + std::string("1010") + kEndOfBlock + "000" + kEndOfBlock + "001" + "00" +
                        kEndOfBlock);

    // Components 1 and 2 share table class 1 but not their predictors.
    std::string bytes;
    StreamWriter w;
    ASSERT_TRUE(w.OpenMemory(&bytes));
    int32_t pred[3] = {0, 0, 0};
    const int32_t dcs[6] = {10, 5, -5, 10, 5, -5};
    for (int i = 0; i < 6; ++i) {
        Block b(64, 0);
        b[0] = dcs[i];
        EncodeBlockSymbols(w, b.data(), kClassOf[i % 3], pred[i % 3]);
    }
    w.Flush();
    ASSERT_TRUE(w.Close());
    // 3+4+5, 3+3+5 and 3+3+5 bits, then 3+5, 2+5 and 2+5 for zero differences.
    EXPECT_EQ(bytes.size(), 7u);
    Tables one(1);
    std::vector<Block> out = DecodeBoth(bytes, 6, one.q);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(out[i][0], dcs[i]) << i;
}

TEST(BlockCoding, DequantisationClamps) {
    const Block b = Zigzag({{0, 100}, {1, -100}, {2, 63}, {5, 64}, {63, -64}});
    std::string bytes = Pack(EncodedBits(b, 0));
    Tables four(4);
    std::vector<Block> out = DecodeBoth(bytes, 1, four.q);
    Block expected(64, 0);
    expected[0] = 255;                // 400
    expected[ZigzagOrder[1]] = -256;  // -400
    expected[ZigzagOrder[2]] = 252;
    expected[ZigzagOrder[5]] = 255;  // 256
    expected[ZigzagOrder[63]] = -256;
    EXPECT_EQ(out[0], expected);
}

// Class 0 DC symbols the encoder never writes carry 15 to 31 value bits; the
// predictor sum and the product wrap at 32 bits before the clamp.
TEST(BlockCoding, HostileDcSymbolsWrap) {
    Tables one(1), four(4);
    const std::string ones31(31, '1');
    {
        // 0x1F with 31 one bits: +2^31 - 1; from a predictor of 1 it wraps to
        // the most negative value.
        const int32_t start[3] = {1, 0, 0};
        std::vector<Block> out =
            DecodeBoth(Pack("111111111" + ones31 + kEndOfBlock), 1, one.q, start);
        EXPECT_EQ(out[0][0], -256);
        StreamReader r;
        std::string bytes = Pack("111111111" + ones31 + kEndOfBlock);
        ASSERT_TRUE(r.OpenMemory(bytes.data(), static_cast<int32_t>(bytes.size())));
        int32_t pred = 1;
        Block blk(64);
        DecodeBlock(r, blk.data(), one.q[0], 0, pred);
        EXPECT_EQ(pred, INT32_MIN);
    }
    {
        // 0x1F with bit 30 set only: +2^30; times 4 wraps to 0.
        std::string bits = "111111111" + std::string("1") + std::string(30, '0') + kEndOfBlock;
        std::vector<Block> out = DecodeBoth(Pack(bits), 1, four.q);
        EXPECT_EQ(out[0][0], 0);
    }
    {
        // 0x0F with 15 zero bits: 1 - 2^15, clamped.
        std::vector<Block> out =
            DecodeBoth(Pack("1111011" + std::string(15, '0') + kEndOfBlock), 1, one.q);
        EXPECT_EQ(out[0][0], -256);
    }
    {
        // 0x10 with the 16 bits 1000000000000011: +32771, clamped.
        std::vector<Block> out =
            DecodeBoth(Pack("111110000" + std::string("1000000000000011") + kEndOfBlock), 1, one.q);
        EXPECT_EQ(out[0][0], 255);
    }
}

// A zero run that reaches past position 63 ends the block without taking
// value bits; the next block starts right after the symbol's code.
TEST(BlockCoding, RunsPastTheEndStopTheBlock) {
    Tables one(1);
    const std::string next = "10" + std::string("11") + kEndOfBlock;  // class 1: DC +3, all zero
    {
        // p = 49 after three runs; run 15 would reach position 64.
        std::string bits =
            "000" + kZeroRun16 + kZeroRun16 + kZeroRun16 + Code(0xF1, 0, true) + next;
        std::vector<Block> out = DecodeBoth(Pack(bits), 2, one.q);
        EXPECT_EQ(out[0], Block(64, 0));
        Block second(64, 0);
        second[0] = 3;
        EXPECT_EQ(out[1], second);
    }
    {
        // The same with a short code: at p = 60, run 7 size 1.
        std::string bits = "000" + kZeroRun16 + kZeroRun16 + kZeroRun16;
        for (int i = 0; i < 11; ++i) bits += "00" + std::string("1");
        bits += Code(0x71, 0, true) + next;
        std::vector<Block> out = DecodeBoth(Pack(bits), 2, one.q);
        Block first(64, 0);
        for (int pos = 49; pos < 60; ++pos) first[ZigzagOrder[pos]] = 1;
        EXPECT_EQ(out[0], first);
        EXPECT_EQ(out[1][0], 3);
    }
    {
        // A fourth 16-zero run stops at position 63.
        std::string bits = "000" + kZeroRun16 + kZeroRun16 + kZeroRun16 + kZeroRun16 + next;
        std::vector<Block> out = DecodeBoth(Pack(bits), 2, one.q);
        EXPECT_EQ(out[0], Block(64, 0));
        EXPECT_EQ(out[1][0], 3);
    }
    {
        // Run 14 from position 49 lands on 63 and does take its value.
        std::string bits =
            "000" + kZeroRun16 + kZeroRun16 + kZeroRun16 + Code(0xE1, 0, true) + "0" + next;
        std::vector<Block> out = DecodeBoth(Pack(bits), 2, one.q);
        EXPECT_EQ(out[0], Zigzag({{63, -1}}));
        EXPECT_EQ(out[1][0], 3);
    }
}

// Random quantised blocks of all densities come back through both decoders.
TEST(BlockCoding, RandomBlocksRoundTrip) {
    std::mt19937 rng(2024);
    Tables one(1);
    for (int image = 0; image < 40; ++image) {
        const int count = 3 * 50;
        std::vector<Block> blocks;
        std::string bytes;
        StreamWriter w;
        ASSERT_TRUE(w.OpenMemory(&bytes));
        int32_t pred[3] = {0, 0, 0};
        const int density = image % 8;  // from nearly empty to full
        for (int i = 0; i < count; ++i) {
            Block b(64, 0);
            b[0] = static_cast<int32_t>(rng() % 511) - 256;  // -256..254
            for (int j = 1; j < 64; ++j) {
                if (static_cast<int>(rng() % 8) >= density) continue;
                int magnitudeBits = static_cast<int>(rng() % 10);  // categories 0..9
                int32_t v = static_cast<int32_t>(rng() & ((1u << magnitudeBits) - 1));
                b[j] = rng() & 1 ? -v : v;
            }
            if (i % 17 == 0) b[63] = 1;  // forces the block to end without end of block
            blocks.push_back(b);
            EncodeBlockSymbols(w, b.data(), kClassOf[i % 3], pred[i % 3]);
        }
        w.Flush();
        ASSERT_TRUE(w.Close());
        std::vector<Block> out = DecodeBoth(bytes, count, one.q);
        for (int i = 0; i < count; ++i) {
            Block expected = blocks[i];
            for (int32_t &v : expected) v = std::clamp(v, -256, 255);  // sizes up to 511 exist
            ASSERT_EQ(out[i], expected) << "image " << image << " block " << i;
        }
    }
}

// The fast coder writes exactly the plain coder's bits, also for values the
// quantiser never produces.
TEST(BlockCoding, FastEncoderMatchesReference) {
    std::mt19937 rng(31);
    const int32_t extremes[] = {512,    -512,      1023,      -1024, 65535,
                                -65536, INT32_MAX, INT32_MIN, 511,   -511};
    for (int round = 0; round < 200; ++round) {
        std::string fastBytes, slowBytes;
        StreamWriter fw, sw;
        ASSERT_TRUE(fw.OpenMemory(&fastBytes));
        ASSERT_TRUE(sw.OpenMemory(&slowBytes));
        int32_t pf[3] = {0, 0, 0}, ps[3] = {0, 0, 0};
        const int density = round % 9;
        for (int i = 0; i < 30; ++i) {
            Block b(64, 0);
            for (int j = 0; j < 64; ++j) {
                if (static_cast<int>(rng() % 8) >= density) continue;
                b[j] = static_cast<int32_t>(rng() % 1023) - 511;
                if (round % 4 == 3 && rng() % 40 == 0) b[j] = extremes[rng() % 10];
            }
            EncodeBlockSymbols(fw, b.data(), kClassOf[i % 3], pf[i % 3]);
            EncodeBlockSymbolsReference(sw, b.data(), kClassOf[i % 3], ps[i % 3]);
            ASSERT_EQ(pf[i % 3], ps[i % 3]);
        }
        fw.Flush();
        sw.Flush();
        ASSERT_TRUE(fw.Close());
        ASSERT_TRUE(sw.Close());
        ASSERT_EQ(fastBytes, slowBytes) << "round " << round;
    }
}

// Streams of several 64 KiB chunks: both coders and both decoders agree
// across every chunk boundary.
TEST(BlockCoding, LongStreamsCrossChunks) {
    std::mt19937 rng(8);
    std::vector<Block> blocks;
    for (int i = 0; i < 3 * 1200; ++i) {
        Block b(64, 0);
        for (int j = 0; j < 64; ++j)
            if (rng() % 4) b[j] = static_cast<int32_t>(rng() % 511) - 255;
        blocks.push_back(b);
    }
    std::string fastBytes, slowBytes;
    StreamWriter fw, sw;
    ASSERT_TRUE(fw.OpenMemory(&fastBytes));
    ASSERT_TRUE(sw.OpenMemory(&slowBytes));
    int32_t pf[3] = {0, 0, 0}, ps[3] = {0, 0, 0};
    for (size_t i = 0; i < blocks.size(); ++i) {
        EncodeBlockSymbols(fw, blocks[i].data(), kClassOf[i % 3], pf[i % 3]);
        EncodeBlockSymbolsReference(sw, blocks[i].data(), kClassOf[i % 3], ps[i % 3]);
    }
    fw.Flush();
    sw.Flush();
    ASSERT_TRUE(fw.Close());
    ASSERT_TRUE(sw.Close());
    ASSERT_GT(fastBytes.size(), 4 * kStreamChunk);
    ASSERT_EQ(fastBytes, slowBytes);

    Tables one(1);
    std::vector<Block> out = DecodeBoth(fastBytes, static_cast<int>(blocks.size()), one.q);
    for (size_t i = 0; i < blocks.size(); ++i) ASSERT_EQ(out[i], blocks[i]) << i;
}

// Arbitrary bytes, also past the end of the data, decode alike in both.
TEST(BlockCoding, FastDecoderMatchesReferenceOnRandomBits) {
    std::mt19937 rng(7);
    for (int round = 0; round < 300; ++round) {
        std::string bytes(1 + rng() % 600, '\0');
        for (char &c : bytes) c = static_cast<char>(rng());
        // Some streams lean on long codes and runs.
        if (round % 3 == 1)
            for (char &c : bytes) c = static_cast<char>(c | 0xE0);
        Tables q(1);
        for (int i = 0; i < 128; ++i) (&q.q[0][0])[i] = 1 + static_cast<int32_t>(rng() % 254);
        const int32_t start[3] = {static_cast<int32_t>(rng()), static_cast<int32_t>(rng() % 512),
                                  -static_cast<int32_t>(rng() % 512)};
        DecodeBoth(bytes, 90, q.q, start);
    }
}

// Long arbitrary streams: the decoders' paths away from the end of the data,
// where the refills do not look for it, on hostile symbols (DC escapes of up
// to 31 bits, value bits of unused sizes, runs past the end).
TEST(BlockCoding, FastDecoderMatchesReferenceOnLongRandomStreams) {
    std::mt19937 rng(17);
    for (int round = 0; round < 12; ++round) {
        std::string bytes(16384, '\0');
        for (char &c : bytes) c = static_cast<char>(rng());
        if (round % 2 == 1)
            for (char &c : bytes) c = static_cast<char>(c | 0xE0);
        Tables q(1);
        for (int i = 0; i < 128; ++i) (&q.q[0][0])[i] = 1 + static_cast<int32_t>(rng() % 254);
        const int32_t start[3] = {static_cast<int32_t>(rng()), 0, -1};
        DecodeBoth(bytes, 3 * 160, q.q, start);
    }
}

// A reader that has just filled its whole bit buffer (its own refill of a
// fresh chunk hands over 64 bits) gives the raw decoders and the scan the
// same blocks, predictors and notes as one whose buffer is filled later.
TEST(BlockCoding, AFullBitBufferDecodesAsAnyOther) {
    std::mt19937 rng(31);
    std::string bytes(32768, '\0');
    for (char &c : bytes) c = static_cast<char>(rng());
    Tables q(1);
    int32_t luma[kZigzagQuantEntries], chroma[kZigzagQuantEntries];
    ZigzagQuant(q.q[0], luma);
    ZigzagQuant(q.q[1], chroma);
    const auto open = [&](StreamReader &r, bool full) {
        EXPECT_TRUE(r.OpenMemory(bytes.data(), static_cast<int32_t>(bytes.size())));
        if (full) r.Refill();
        EXPECT_EQ(r.BitCount(), full ? 64 : 0);
    };
    for (const auto decodeRaw : {GetDsp().decodePositionsRaw, &DecodePositionsRaw}) {
        StreamReader plain, full;
        open(plain, false);
        open(full, true);
        // The second call onwards starts away from the chunk's start.
        int32_t pp[3] = {5, -7, 0}, pf[3] = {5, -7, 0};
        alignas(32) int32_t a[6][64], b[6][64];
        for (int call = 0; call < 40; ++call) {
            std::fill(&a[0][0], &a[0][0] + 6 * 64, 0x5A5A5A5A);
            std::fill(&b[0][0], &b[0][0] + 6 * 64, 0x5A5A5A5A);
            ASSERT_EQ(decodeRaw(plain, a, 2, luma, chroma, pp),
                      decodeRaw(full, b, 2, luma, chroma, pf));
            for (int j = 0; j < 6; ++j)
                ASSERT_EQ(Block(a[j], a[j] + 64), Block(b[j], b[j] + 64)) << "call " << call;
            ASSERT_EQ(std::vector<int32_t>(pp, pp + 3), std::vector<int32_t>(pf, pf + 3));
            ASSERT_EQ(plain.BitsTaken(), full.BitsTaken());
        }
    }
    StreamReader plain, full;
    open(plain, false);
    open(full, true);
    int32_t pp[3] = {0, 0, 0}, pf[3] = {0, 0, 0};
    std::vector<PositionNote> np(200), nf(200);
    ASSERT_EQ(ScanPositions(plain, pp, 0, UINT64_MAX, np.data(), np.size()), np.size());
    ASSERT_EQ(ScanPositions(full, pf, 0, UINT64_MAX, nf.data(), nf.size()), nf.size());
    for (size_t i = 0; i < np.size(); ++i) {
        EXPECT_EQ(np[i].at, nf[i].at) << i;
        EXPECT_EQ(std::vector<int32_t>(np[i].dc, np[i].dc + 3),
                  std::vector<int32_t>(nf[i].dc, nf[i].dc + 3))
            << i;
    }
    EXPECT_EQ(plain.BitsTaken(), full.BitsTaken());
}

// Streams made of valid symbols, mostly short runs, reach every position.
TEST(BlockCoding, FastDecoderMatchesReferenceOnSymbolStreams) {
    const HuffmanTables &t = GetHuffmanTables();
    std::mt19937 rng(99);
    for (int round = 0; round < 60; ++round) {
        std::string bits;
        for (int i = 0; i < 300; ++i) {
            const int cls = kClassOf[i % 3];
            auto put = [&](int symbol, bool ac) {
                uint16_t e = t.codeTable[cls * 512 + (ac ? 256 : 0) + symbol];
                for (int b = 0; b < (e & 15); ++b) bits += (e >> (15 - b)) & 1 ? '1' : '0';
            };
            auto value = [&](int n) {
                for (int b = 0; b < n; ++b) bits += rng() & 1 ? '1' : '0';
            };
            int dc = static_cast<int>(rng() % 10);
            if (cls == 0 && rng() % 20 == 0)
                dc = 0x0F + static_cast<int>(rng() % 17);  // 15..31 bits
            put(dc, false);
            value(dc);
            for (int n = static_cast<int>(rng() % 80); n > 0; --n) {
                int symbol;
                do {
                    int run =
                        rng() % 4 ? static_cast<int>(rng() % 3) : static_cast<int>(rng() % 16);
                    symbol = run * 16 + static_cast<int>(rng() % 10);
                    if (rng() % 30 == 0) symbol = 0x10;
                } while (t.codeTable[cls * 512 + 256 + symbol] == 0);
                put(symbol, true);
                value(symbol == 0x10 ? 0 : symbol & 15);
            }
        }
        Tables q(1 + round % 5);
        DecodeBoth(Pack(bits), 300, q.q);
    }
}

// Every 12-bit string as the first AC symbol, in both classes.
TEST(BlockCoding, FastDecoderMatchesReferenceForEveryAcPrefix) {
    std::mt19937 rng(5);
    Tables q(3);
    for (int k = 0; k < 2; ++k) {
        const std::string dc = k == 0 ? "000" : "00";
        for (uint32_t prefix = 0; prefix < 4096; ++prefix) {
            std::string bits = k == 0 ? dc : "000" + kEndOfBlock + dc;  // component 1 comes second
            for (int b = 11; b >= 0; --b) bits += (prefix >> b) & 1 ? '1' : '0';
            for (int b = 0; b < 60; ++b) bits += rng() & 1 ? '1' : '0';
            DecodeBoth(Pack(bits), 3, q.q);
        }
    }
}

// Every 12-bit prefix again where the block is nearly full (positions 62 and
// 63 open): the table's entries that end the block inside them, or run past
// its end, must take exactly the bits the symbols take.
TEST(BlockCoding, FastDecoderMatchesReferenceForEveryAcPrefixNearTheEnd) {
    std::mt19937 rng(6);
    Tables q(3);
    for (int filled : {61, 62}) {
        for (int k = 0; k < 2; ++k) {
            std::string bits = k == 0 ? "000" : "000" + kEndOfBlock + "00";
            for (int i = 0; i < filled; ++i) bits += Code(0x01, k, true) + "1";
            const size_t fixed = bits.size();
            for (uint32_t prefix = 0; prefix < 4096; ++prefix) {
                bits.resize(fixed);
                for (int b = 11; b >= 0; --b) bits += (prefix >> b) & 1 ? '1' : '0';
                for (int b = 0; b < 60; ++b) bits += rng() & 1 ? '1' : '0';
                DecodeBoth(Pack(bits), 3, q.q);
            }
        }
    }
}

// Each entry of the paired AC table against the symbols the decoding tree
// reads from the same 12 bits.
TEST(BlockCoding, PairedAcEntriesMatchTheTree) {
    const HuffmanTables &t = GetHuffmanTables();
    for (int cls = 0; cls < 2; ++cls) {
        for (uint32_t i = 0; i < 4096; ++i) {
            std::string bits;
            for (int b = 11; b >= 0; --b) bits += (i >> b) & 1 ? '1' : '0';
            const std::string packed = Pack(bits + std::string(32, '0'));
            StreamReader r;
            ASSERT_TRUE(r.OpenMemory(packed.data(), static_cast<int32_t>(packed.size())));
            const uint32_t e = t.acPairs[cls][i];
            const int run = static_cast<int>(e >> kAcRunShift & 15);
            const int advance = static_cast<int>(e >> kAcAdvanceShift & 127);
            const int skip = static_cast<int>(e & kAcSkipMask);
            const int first = DecodeSymbol(r, cls, true);
            const int firstRun = first == plix::kZeroRun16 ? 15 : first >> 4;
            const int firstSize = first == plix::kZeroRun16 ? 0 : first & 15;
            SCOPED_TRACE(testing::Message() << "class " << cls << " bits " << bits);
            if (first == plix::kEndOfBlock) {
                EXPECT_EQ(e >> kAcRunShift, kAcLoneEnd);
                EXPECT_EQ(static_cast<uint64_t>(skip), r.BitsTaken());
                continue;
            }
            EXPECT_EQ(run, firstRun);
            if (e & kAcSlow) {
                // The value is read after the code.
                EXPECT_EQ(static_cast<uint64_t>(skip), r.BitsTaken());
                EXPECT_EQ(static_cast<int>(e >> kAcSecondShift & 15), firstSize);
                EXPECT_EQ(advance, run + 1);
                continue;
            }
            EXPECT_EQ(static_cast<int32_t>(e) >> kAcFirstShift, r.ReadSigned(firstSize));
            const uint64_t afterFirst = r.BitsTaken();
            if (advance == run + 1) {
                EXPECT_EQ(static_cast<uint64_t>(skip), afterFirst);
                continue;
            }
            // A pair: the second symbol lies wholly within the 12 bits.
            const int second = DecodeSymbol(r, cls, true);
            if (second == plix::kEndOfBlock) {
                EXPECT_EQ(advance, run + 1 + static_cast<int>(kAcEndAdvance));
            } else {
                const int secondRun = second == plix::kZeroRun16 ? 15 : second >> 4;
                EXPECT_EQ(advance, run + 1 + secondRun + 1);
                const int secondSize = second == plix::kZeroRun16 ? 0 : second & 15;
                EXPECT_EQ(static_cast<int32_t>(e << 7) >> kAcFirstShift, r.ReadSigned(secondSize));
            }
            EXPECT_EQ(static_cast<uint64_t>(skip), r.BitsTaken());
            EXPECT_LE(r.BitsTaken(), 12u);
        }
    }
}

}  // namespace
}  // namespace plix
