// Coding of one block's 64 coefficients: DC difference, AC run/size symbols.
#pragma once

#include <cstdint>

namespace plix {

class StreamReader;
class StreamWriter;

// Natural index (row * 8 + col) of each zigzag position 0..63.
extern const uint8_t ZigzagOrder[64];

// Number of significant bits of |v|.
int MagnitudeCategory(int32_t v);
void WriteValueBits(StreamWriter &w, int32_t v, int n);

// Writes a quantised block; predictor is the component's DC predictor.
void EncodeBlockSymbols(StreamWriter &w, const int32_t block[64], int cls, int32_t &predictor);

// Reads one block, dequantises with q and clamps to -256..255.
void DecodeBlock(StreamReader &r, int32_t block[64], const int32_t q[64], int cls,
                 int32_t &predictor);

} // namespace plix
