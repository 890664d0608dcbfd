// The format's four fixed Huffman codes (DC and AC for table classes 0 and 1).
#pragma once

#include <cstdint>

namespace plix {

class StreamReader;
class StreamWriter;

// Longest code of any table.
inline constexpr int kMaxCodeLength = 12;
inline constexpr int kDcLookupBits = 9;

struct HuffmanTables {
    // Index cls * 512 + (ac ? 256 : 0) + symbol; entry = code left-aligned in
    // bits 15.. | length in bits 3..0; 0 = no code.
    uint16_t codeTable[1024];
    // Node arrays in the order class 0 DC, class 0 AC, class 1 DC, class 1 AC;
    // node = {successor for bit 1, successor for bit 0}; below 256 a leaf
    // (the symbol), else internal node (value - 256). Internal nodes are
    // numbered in post-order (bit-1 subtree, bit-0 subtree, node), so the root
    // is the last node used.
    int16_t decodeTree[4][145][2];
    // Same arrays as decodeTree, indexed by the next 12 bits of the stream:
    // symbol | code length << 8. Every code is complete, so every entry is set.
    uint16_t lookup[4][1 << kMaxCodeLength];

    // Fast path of the block coder, same index as codeTable: the code shifted
    // left over the symbol's value bits, so that the value bits can be ORed
    // in, and the length of both: code << (size + 8) | (length + size), with
    // size = the symbol's value bits (symbol & 15 for AC, the symbol for DC).
    // 0 for symbols without a code and for DC symbols above 9.
    uint32_t packedCodes[1024];

    // Fast paths of the block decoder.
    // DC arrays by class, indexed by the next 9 bits (no DC code is longer):
    // symbol | code length << 8.
    uint16_t dcLookup[2][1 << kDcLookupBits];
    // AC arrays by class, indexed by the next 12 bits; each entry also carries
    // the value when its bits lie within those 12:
    //   bits 0..4   bits to skip for symbol and value (code length + size when
    //               the value is included, else code length)
    //   bits 5..8   code length alone
    //   bits 9..12  value bits still to read (0 when included)
    //   bits 13..18 zeros before the value: symbol >> 4; the 16-zero run is
    //               15 zeros and a 0 value; end of block is 63, which ends
    //               any block
    //   bits 22..31 the value, signed (0 when still to read)
    uint32_t acLookup[2][1 << kMaxCodeLength];
};

// Array number of decodeTree and lookup.
inline constexpr int HuffmanArray(int cls, bool ac) {
    return cls * 2 + (ac ? 1 : 0);
}

// Root node of each decodeTree array.
inline constexpr int kHuffmanRoot[4] = {25, 144, 8, 144};

// Constant data, built at compile time from the code listing.
extern const HuffmanTables kHuffmanTables;
const HuffmanTables &GetHuffmanTables();

// Writes the code of symbol; a symbol without a code writes nothing.
void WriteSymbol(StreamWriter &w, int symbol, int cls, bool ac);
// Reads one symbol by walking the tree a bit at a time (the readable form).
int DecodeSymbol(StreamReader &r, int cls, bool ac);

}  // namespace plix
