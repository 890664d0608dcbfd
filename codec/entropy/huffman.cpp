#include "entropy/huffman.h"

#include "streams.h"

namespace plix {

const HuffmanTables &GetHuffmanTables() {
    static const HuffmanTables tables{};
    return tables;
}

void WriteSymbol(StreamWriter &, int, int, bool) {}
int DecodeSymbol(StreamReader &, int, bool) { return 0; }

} // namespace plix
