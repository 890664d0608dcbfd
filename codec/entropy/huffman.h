// The format's four fixed Huffman codes (DC and AC for table classes 0 and 1).
#pragma once

#include <cstdint>

namespace plix {

class StreamReader;
class StreamWriter;

struct HuffmanTables {
    // Index cls * 512 + (ac ? 256 : 0) + symbol; entry = code left-aligned in
    // bits 15.. | length in bits 3..0; 0 = no code.
    uint16_t codeTable[1024];
    // Node arrays in the order class 0 DC, class 0 AC, class 1 DC, class 1 AC;
    // node = {successor for bit 1, successor for bit 0}; below 256 a leaf
    // (the symbol), else internal node (value - 256).
    int16_t decodeTree[4][145][2];
};

// Built once per process on first use; thread-safe.
const HuffmanTables &GetHuffmanTables();

void WriteSymbol(StreamWriter &w, int symbol, int cls, bool ac);
int DecodeSymbol(StreamReader &r, int cls, bool ac);

} // namespace plix
