#include "entropy/block_coding.h"

#include "streams.h"

namespace plix {

const uint8_t ZigzagOrder[64] = {};

int MagnitudeCategory(int32_t) { return 0; }
void WriteValueBits(StreamWriter &, int32_t, int) {}
void EncodeBlockSymbols(StreamWriter &, const int32_t[64], int, int32_t &) {}
void DecodeBlock(StreamReader &, int32_t block[64], const int32_t[64], int, int32_t &) {
    for (int i = 0; i < 64; ++i) block[i] = 0;
}

} // namespace plix
