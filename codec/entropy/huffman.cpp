#include "entropy/huffman.h"

#include "streams.h"

namespace plix {

namespace {

// Stops compilation when the code listing below is not a complete prefix code.
constexpr void Require(bool ok) {
    if (!ok) throw "Huffman code listing is inconsistent";
}

struct CodeWord {
    int symbol;
    int length;
    uint32_t bits;  // right-aligned
};

struct CodeList {
    CodeWord words[146] = {};
    int count = 0;

    constexpr void Add(int symbol, int length, uint32_t bits) {
        Require(count < 146 && length >= 1 && length <= kMaxCodeLength);
        words[count++] = {symbol, length, bits};
    }
    // Code given as a string of '0' and '1'.
    constexpr void Add(int symbol, const char *code) {
        uint32_t bits = 0;
        int length = 0;
        for (; code[length] != '\0'; ++length) bits = bits * 2 + (code[length] == '1' ? 1 : 0);
        Add(symbol, length, bits);
    }
};

constexpr CodeList DcCodes(int cls) {
    CodeList list;
    if (cls == 0) {
        list.Add(0x00, "000");
        list.Add(0x01, "1110");
        list.Add(0x02, "001");
        list.Add(0x03, "010");
        list.Add(0x04, "011");
        list.Add(0x05, "100");
        list.Add(0x06, "101");
        list.Add(0x07, "110");
        list.Add(0x08, "111100");
        list.Add(0x09, "1111010");
        // Never written by the encoder; a decoder reads them as categories.
        list.Add(0x0F, "1111011");
        for (int s = 0x10; s <= 0x1F; ++s) list.Add(s, 9, 0x1F0u + static_cast<uint32_t>(s - 0x10));
    } else {
        list.Add(0x00, "00");
        list.Add(0x01, "01");
        list.Add(0x02, "10");
        list.Add(0x03, "110");
        list.Add(0x04, "1110");
        list.Add(0x05, "11110");
        list.Add(0x06, "111110");
        list.Add(0x07, "1111110");
        list.Add(0x08, "11111110");
        list.Add(0x09, "11111111");
    }
    return list;
}

// AC symbols with a code shorter than 11 bits; "" = in the 12-bit group of
// that class.
struct ShortAcCode {
    int symbol;
    const char *code[2];
};

constexpr ShortAcCode kShortAcCodes[] = {
    {0x00, {"11111", "11111"}},  // end of block
    {0x01, {"00", "00"}},           {0x02, {"01", "01"}},
    {0x03, {"100", "1010"}},        {0x04, {"1010", "11000"}},
    {0x05, {"11000", "1110010"}},   {0x06, {"110110", ""}},
    {0x07, {"111011100", ""}},      {0x11, {"1011", "100"}},
    {0x12, {"11001", "11001"}},     {0x13, {"1110100", "1110011"}},
    {0x21, {"11010", "1011"}},      {0x22, {"1110101", "1110100"}},
    {0x31, {"110111", "11010"}},    {0x32, {"", "111011100"}},
    {0x41, {"111000", "11011"}},    {0x51, {"111001", "111000"}},
    {0x61, {"1110110", "1110101"}}, {0x71, {"111011101", "1110110"}},
    {0x81, {"", "111011101"}},
};

constexpr bool HasShortAcCode(int cls, int symbol) {
    for (const ShortAcCode &c : kShortAcCodes)
        if (c.symbol == symbol) return c.code[cls][0] != '\0';
    return false;
}

constexpr CodeList AcCodes(int cls) {
    CodeList list;
    for (const ShortAcCode &c : kShortAcCodes)
        if (c.code[cls][0] != '\0') list.Add(c.symbol, c.code[cls]);
    // Size 9: eleven bits, the run in the low four.
    for (int run = 0; run < 16; ++run)
        list.Add(run * 16 + 9, 11, 0x778u + static_cast<uint32_t>(run));
    // Every other run/size symbol of sizes 1..8, in increasing symbol order,
    // then the 16-zero run last.
    uint32_t next = 0xF10;
    for (int symbol = 0; symbol < 256; ++symbol) {
        int size = symbol & 15;
        if (size < 1 || size > 8 || HasShortAcCode(cls, symbol)) continue;
        list.Add(symbol, 12, next++);
    }
    Require(next == 0xF7F);
    list.Add(0x10, 12, 0xF7F);
    return list;
}

constexpr CodeList CodesOf(int array) {
    int cls = array / 2;
    return array % 2 ? AcCodes(cls) : DcCodes(cls);
}

// Returns the successor value for the subtree of codes starting with prefix
// (depth bits): the symbol for a leaf, else 256 + the post-order node number.
constexpr int BuildNode(HuffmanTables &t, int array, uint32_t prefix, int depth, int &next) {
    uint16_t entry = t.lookup[array][prefix << (kMaxCodeLength - depth)];
    int length = entry >> 8;
    Require(length >= depth);
    if (length == depth) return entry & 0xFF;
    int one = BuildNode(t, array, prefix * 2 + 1, depth + 1, next);
    int zero = BuildNode(t, array, prefix * 2, depth + 1, next);
    Require(next < 145);
    int node = next++;
    t.decodeTree[array][node][0] = static_cast<int16_t>(one);
    t.decodeTree[array][node][1] = static_cast<int16_t>(zero);
    return 256 + node;
}

// The value of size bits u (JPEG-style: a clear top bit means negative).
constexpr int32_t ValueOf(uint32_t u, int size) {
    if (size == 0) return 0;
    return (u >> (size - 1)) ? static_cast<int32_t>(u) : static_cast<int32_t>(u) + 1 - (1 << size);
}

// The acPairs entry for the 12 bits i (see kAc* in the header).
constexpr uint32_t AcPairEntry(const uint16_t *ac, uint32_t i) {
    const auto field = [](int32_t v, int shift) {
        return (static_cast<uint32_t>(v) & 127u) << shift;
    };
    const auto entry = [](int skip, int run, int advance) {
        return static_cast<uint32_t>(skip) | static_cast<uint32_t>(run) << kAcRunShift |
               static_cast<uint32_t>(advance) << kAcAdvanceShift;
    };
    const int symbol = ac[i] & 0xFF;
    const int length = ac[i] >> 8;
    if (symbol == 0x00) return entry(length, 0, kAcEndAdvance);
    const int run = symbol == 0x10 ? 15 : symbol >> 4;
    const int size = symbol == 0x10 ? 0 : symbol & 15;
    const int used = length + size;
    if (used > kMaxCodeLength || size > kAcInlineSize)
        return entry(length, run, run + 1) | kAcSlow |
               static_cast<uint32_t>(size) << kAcSecondShift;
    const int32_t value = ValueOf((i >> (kMaxCodeLength - used)) & ((1u << size) - 1), size);
    const uint32_t lone = entry(used, run, run + 1) | field(value, kAcFirstShift);
    // A second symbol whose code (and value) the rest of the 12 bits hold.
    const int left = kMaxCodeLength - used;
    if (left == 0) return lone;
    const uint16_t next = ac[(i << used) & ((1u << kMaxCodeLength) - 1)];
    const int symbol2 = next & 0xFF;
    const int length2 = next >> 8;
    if (length2 > left) return lone;
    if (symbol2 == 0x00)
        return entry(used + length2, run, run + 1 + static_cast<int>(kAcEndAdvance)) |
               field(value, kAcFirstShift);
    const int run2 = symbol2 == 0x10 ? 15 : symbol2 >> 4;
    const int size2 = symbol2 == 0x10 ? 0 : symbol2 & 15;
    const int used2 = length2 + size2;
    if (used2 > left || size2 > kAcInlineSize) return lone;
    const int32_t value2 = ValueOf((i >> (left - used2)) & ((1u << size2) - 1), size2);
    return entry(used + used2, run, run + 1 + run2 + 1) | field(value2, kAcSecondShift) |
           field(value, kAcFirstShift);
}

constexpr HuffmanTables BuildTables() {
    HuffmanTables t{};
    for (int array = 0; array < 4; ++array) {
        const CodeList list = CodesOf(array);
        const int base = (array / 2) * 512 + (array % 2) * 256;
        for (int i = 0; i < list.count; ++i) {
            const CodeWord &w = list.words[i];
            Require(w.symbol >= 0 && w.symbol < 256 && t.codeTable[base + w.symbol] == 0);
            t.codeTable[base + w.symbol] = static_cast<uint16_t>((w.bits << (16 - w.length)) |
                                                                 static_cast<uint32_t>(w.length));
            const int size = array % 2 ? (w.symbol & 15) : w.symbol;
            if (size <= 9)
                t.packedCodes[base + w.symbol] =
                    (w.bits << (size + 8)) | static_cast<uint32_t>(w.length + size);
            // Every 12-bit string that starts with this code.
            const int shift = kMaxCodeLength - w.length;
            for (uint32_t k = 0; k < (1u << shift); ++k) {
                uint16_t &slot = t.lookup[array][(w.bits << shift) | k];
                Require(slot == 0);  // prefix-free
                slot = static_cast<uint16_t>(w.symbol | (w.length << 8));
            }
        }
        for (uint16_t slot : t.lookup[array]) Require(slot != 0);  // complete
        int next = 0;
        int root = BuildNode(t, array, 0, 0, next);
        Require(root == 256 + kHuffmanRoot[array] && next == list.count - 1);
    }
    for (int cls = 0; cls < 2; ++cls) {
        const uint16_t *dc = t.lookup[HuffmanArray(cls, false)];
        for (uint32_t i = 0; i < (1u << kDcLookupBits); ++i) {
            uint16_t entry = dc[i << (kMaxCodeLength - kDcLookupBits)];
            Require((entry >> 8) <= kDcLookupBits);
            t.dcLookup[cls][i] = entry;
        }
        const uint16_t *ac = t.lookup[HuffmanArray(cls, true)];
        for (uint32_t i = 0; i < (1u << kMaxCodeLength); ++i)
            t.acPairs[cls][i] = AcPairEntry(ac, i);
    }
    for (int i = 0; i < 64; ++i) t.positionSlots[i] = ZigzagOrder[i];
    return t;
}

}  // namespace

constexpr HuffmanTables kHuffmanTables = BuildTables();

const HuffmanTables &GetHuffmanTables() {
    return kHuffmanTables;
}

void WriteSymbol(StreamWriter &w, int symbol, int cls, bool ac) {
    if (symbol < 0 || symbol > 255 || (cls != 0 && cls != 1)) return;
    uint16_t entry = kHuffmanTables.codeTable[cls * 512 + (ac ? 256 : 0) + symbol];
    int length = entry & 15;
    if (length == 0) return;
    w.WriteBits(static_cast<uint32_t>(entry) >> (16 - length), length);
}

int DecodeSymbol(StreamReader &r, int cls, bool ac) {
    const int array = HuffmanArray(cls & 1, ac);
    const int16_t(*tree)[2] = kHuffmanTables.decodeTree[array];
    int node = kHuffmanRoot[array];
    for (;;) {
        int next = tree[node][r.ReadBit() ? 0 : 1];
        if (next < 256) return next;
        node = next - 256;
    }
}

}  // namespace plix
