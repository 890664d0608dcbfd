// The fixed Huffman codes: code words and table entries, the decoding trees,
// and the table-driven decoder against the tree walk.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "entropy/huffman.h"
#include "bit_strings.h"
#include "streams.h"

namespace plix {
namespace {

using test::Pack;
using test::SymbolBits;
using test::WrittenBits;

// Code of an entry of the code table as a bit string ("" for none).
std::string EntryBits(uint16_t entry) {
    std::string bits;
    for (int i = 0; i < (entry & 15); ++i) bits += ((entry >> (15 - i)) & 1) ? '1' : '0';
    return bits;
}

uint16_t Entry(int cls, bool ac, int symbol) {
    return GetHuffmanTables().codeTable[cls * 512 + (ac ? 256 : 0) + symbol];
}

TEST(Huffman, WorkedCodeWords) {
    for (int cls = 0; cls < 2; ++cls) {
        SCOPED_TRACE(cls);
        EXPECT_EQ(SymbolBits(0x00, cls, true), "11111");
        EXPECT_EQ(SymbolBits(0x10, cls, true), "111101111111");
        EXPECT_EQ(SymbolBits(0xF9, cls, true), "11110000111");
        EXPECT_EQ(SymbolBits(0x89, cls, true), "11110000000");
        EXPECT_EQ(SymbolBits(0x09, cls, true), "11101111000");
        EXPECT_EQ(SymbolBits(0xF8, cls, true), "111101111110");
        EXPECT_EQ(SymbolBits(0x01, cls, true), "00");
        // Symbols without a code write nothing.
        for (int symbol : {0x20, 0x30, 0xF0, 0x0A, 0x1F, 0xFF})
            EXPECT_EQ(SymbolBits(symbol, cls, true), "");
        for (int symbol : {0x20, 0x30, 0xF0, 0x0A, 0x1F, 0xFF})
            EXPECT_EQ(Entry(cls, true, symbol), 0);
    }
    EXPECT_EQ(SymbolBits(9, 1, false), "11111111");
    EXPECT_EQ(SymbolBits(9, 0, false), "1111010");
    EXPECT_EQ(SymbolBits(0, 0, false), "000");
    EXPECT_EQ(SymbolBits(0, 1, false), "00");
    EXPECT_EQ(SymbolBits(0x0F, 0, false), "1111011");
    EXPECT_EQ(SymbolBits(0x10, 0, false), "111110000");
    EXPECT_EQ(SymbolBits(0x1F, 0, false), "111111111");
    EXPECT_EQ(SymbolBits(0x0F, 1, false), "");
    EXPECT_EQ(SymbolBits(0x0A, 0, false), "");

    // The first members of each class's 12-bit group.
    EXPECT_EQ(SymbolBits(0x08, 0, true), "111100010000");
    EXPECT_EQ(SymbolBits(0x14, 0, true), "111100010001");
    EXPECT_EQ(SymbolBits(0x15, 0, true), "111100010010");
    EXPECT_EQ(SymbolBits(0x06, 1, true), "111100010000");
    EXPECT_EQ(SymbolBits(0x07, 1, true), "111100010001");
    EXPECT_EQ(SymbolBits(0x08, 1, true), "111100010010");
    // Short codes that differ between the classes.
    EXPECT_EQ(SymbolBits(0x03, 0, true), "100");
    EXPECT_EQ(SymbolBits(0x03, 1, true), "1010");
    EXPECT_EQ(SymbolBits(0x81, 1, true), "111011101");
    EXPECT_EQ(SymbolBits(0x71, 0, true), "111011101");

    EXPECT_EQ(Entry(1, false, 0x02), 0x8002);
    EXPECT_EQ(Entry(0, true, 0x00), 0xF805);
}

TEST(Huffman, AcGroupsFollowTheirRules) {
    for (int cls = 0; cls < 2; ++cls) {
        SCOPED_TRACE(cls);
        int twelve = 0;
        uint32_t previous = 0;
        for (int symbol = 0; symbol < 256; ++symbol) {
            uint16_t e = Entry(cls, true, symbol);
            int size = symbol & 15;
            if (size == 9) {
                // Eleven bits: 11101111000 + run.
                EXPECT_EQ(e & 15, 11) << symbol;
                EXPECT_EQ(e >> 5, 0x778u + (symbol >> 4)) << symbol;
            }
            if (size >= 1 && size <= 8 && (e & 15) == 12) {
                // Consecutive in increasing symbol order.
                uint32_t code = e >> 4;
                if (twelve > 0) {
                    EXPECT_EQ(code, previous + 1) << symbol;
                }
                previous = code;
                ++twelve;
            }
            if (size > 9 || (size == 0 && symbol != 0x00 && symbol != 0x10)) {
                EXPECT_EQ(e, 0) << symbol;
            }
        }
        EXPECT_EQ(twelve, 111);
        EXPECT_EQ(previous, 0xF7Eu);
    }
}

// Every code walks the tree to its symbol in exactly its length; nodes are
// numbered in post-order and only the used ones are non-zero.
TEST(Huffman, TreesHoldTheCodesInPostOrder) {
    const HuffmanTables &t = GetHuffmanTables();
    const int used[4] = {26, 145, 9, 145};
    for (int array = 0; array < 4; ++array) {
        SCOPED_TRACE(array);
        const int cls = array / 2;
        const bool ac = array % 2;
        EXPECT_EQ(kHuffmanRoot[array], used[array] - 1);
        for (int node = used[array]; node < 145; ++node) {
            EXPECT_EQ(t.decodeTree[array][node][0], 0);
            EXPECT_EQ(t.decodeTree[array][node][1], 0);
        }
        for (int symbol = 0; symbol < 256; ++symbol) {
            std::string code = EntryBits(Entry(cls, ac, symbol));
            if (code.empty()) continue;
            int node = kHuffmanRoot[array];
            for (size_t i = 0; i < code.size(); ++i) {
                ASSERT_GE(node, 0);
                ASSERT_LT(node, used[array]);
                int next = t.decodeTree[array][node][code[i] == '1' ? 0 : 1];
                if (i + 1 == code.size()) {
                    EXPECT_EQ(next, symbol);
                } else {
                    ASSERT_GE(next, 256) << "leaf before the code ends";
                    node = next - 256;
                }
            }
        }
        // Post-order: the bit-1 subtree's nodes come before the bit-0
        // subtree's, and both before their parent.
        struct Range {
            int lo, hi;
        };
        auto walk = [&](auto &self, int node) -> Range {
            Range r{node, node};
            int one = t.decodeTree[array][node][0];
            int zero = t.decodeTree[array][node][1];
            Range a{-1, -1}, b{-1, -1};
            if (one >= 256) a = self(self, one - 256);
            if (zero >= 256) b = self(self, zero - 256);
            if (a.hi >= 0) {
                EXPECT_EQ(a.hi, (b.lo >= 0 ? b.lo : node) - 1);
            }
            if (b.hi >= 0) {
                EXPECT_EQ(b.hi, node - 1);
            }
            r.lo = a.lo >= 0 ? a.lo : (b.lo >= 0 ? b.lo : node);
            return r;
        };
        Range whole = walk(walk, kHuffmanRoot[array]);
        EXPECT_EQ(whole.lo, 0);
    }
}

TEST(Huffman, WorkedDecodes) {
    struct Case {
        const char *bits;
        int cls;
        bool ac;
        int symbol;
    };
    const Case cases[] = {
        {"00", 0, true, 0x01},           {"00", 1, true, 0x01},
        {"1111011", 0, false, 0x0F},     {"111111111", 0, false, 0x1F},
        {"111110000", 0, false, 0x10},   {"11111", 0, true, 0x00},
        {"111101111111", 1, true, 0x10}, {"11111111", 1, false, 0x09},
        {"11110000111", 0, true, 0xF9},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.bits);
        // A marker follows the code so the bits taken can be checked.
        const std::string bytes = Pack(std::string(c.bits) + "1011");
        StreamReader r;
        ASSERT_TRUE(r.OpenMemory(bytes.data(), static_cast<int32_t>(bytes.size())));
        EXPECT_EQ(DecodeSymbol(r, c.cls, c.ac), c.symbol);
        EXPECT_EQ(r.ReadBit(), 1u);
        EXPECT_EQ(r.ReadBit(), 0u);
        EXPECT_EQ(r.ReadBit(), 1u);
        EXPECT_EQ(r.ReadBit(), 1u);
    }
}

// Every 12-bit string, followed by random bits, gives the same symbol and
// length through the lookup as through the tree.
TEST(Huffman, LookupEqualsTreeWalkForEveryPrefix) {
    std::mt19937 rng(12);
    for (int array = 0; array < 4; ++array) {
        SCOPED_TRACE(array);
        const int cls = array / 2;
        const bool ac = array % 2;
        for (uint32_t prefix = 0; prefix < 4096; ++prefix) {
            uint32_t tail = rng();
            uint8_t bytes[6] = {static_cast<uint8_t>(prefix >> 4),
                                static_cast<uint8_t>((prefix << 4) | (tail >> 28)),
                                static_cast<uint8_t>(tail >> 20),
                                static_cast<uint8_t>(tail >> 12),
                                static_cast<uint8_t>(tail >> 4),
                                static_cast<uint8_t>(tail << 4)};
            StreamReader slow;
            ASSERT_TRUE(slow.OpenMemory(bytes, 6));
            const int expected = DecodeSymbol(slow, cls, ac);
            const uint16_t entry = GetHuffmanTables().lookup[array][prefix];
            ASSERT_EQ(entry & 0xFF, expected);
            ASSERT_EQ(entry >> 8, Entry(cls, ac, expected) & 15);
        }
    }
}

}  // namespace
}  // namespace plix
