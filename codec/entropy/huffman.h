// The format's four fixed Huffman codes (DC and AC for table classes 0 and 1).
#pragma once

#include <cstdint>

#include "coefficients.h"

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
    // AC arrays by class, indexed by the next 12 bits. An entry stands for one
    // symbol with its value, or for two when both lie wholly within the 12
    // bits (kAc* below give the fields). One table access then often yields
    // two coefficients, which halves the lookups of high-quality streams.
    uint32_t acPairs[2][1 << kMaxCodeLength];
    // The natural index of each position an acPairs entry can name: positions
    // from 64 on (a run past the end, or the one after an end of block) stand
    // for entry 0, which the decoder writes last, with the DC. From a position
    // of at most 63, a run of at most 15 and a step of at most 63 reach 141.
    uint8_t positionSlots[kZigzagQuantEntries];
};

// Fields of an acPairs entry. Positions count from the one after the last
// coefficient written; a value is written at position + run, and the next
// symbol starts after it.
//   bits 0..5    bits the entry takes: a shift count as it stands
//   bits 6..9    run of the first symbol (the 16-zero run: 15 and value 0)
//   bits 10..16  positions the entry advances by: the first value's run + 1
//                for a lone symbol (whose value is then written twice), that
//                plus the second's run + 1 for two, and 64 more when the
//                second symbol ends the block; a lone end of block is run 0,
//                value 0, advance 64
//   bit 17       the first value's bits still follow the code (a lone symbol
//                that does not fit); their count is then in bits 18..21
//   bits 18..24  second value, signed
//   bits 25..31  first value, signed
inline constexpr uint32_t kAcSkipMask = 63;
inline constexpr int kAcRunShift = 6;
inline constexpr int kAcAdvanceShift = 10;
inline constexpr uint32_t kAcEndAdvance = 64;
inline constexpr uint32_t kAcSlow = 1u << 17;
inline constexpr int kAcSecondShift = 18;
inline constexpr int kAcFirstShift = 25;
// Largest value size an entry carries: 7-bit fields.
inline constexpr int kAcInlineSize = 6;
// Everything above the skip of a lone end of block.
inline constexpr uint32_t kAcLoneEnd = kAcEndAdvance << (kAcAdvanceShift - kAcRunShift);

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
