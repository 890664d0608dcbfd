// The block decoder: one block's DC difference and AC run/size symbols back to
// dequantised coefficients. DecodePositionsRaw, the form the kernels finish,
// is declared with the coder's other kernels (entropy/kernels.h).
#pragma once

#include <cstdint>

#include "coefficients.h"

namespace plix {

class StreamReader;

// Reads one block, dequantises with q and clamps to -256..255. Any bit string
// decodes; the predictor sum and the products wrap at 32 bits.
void DecodeBlock(StreamReader &r, int32_t block[64], const int32_t q[64], int cls,
                 int32_t &predictor);

// A dequantisation table reordered for DecodePositions: zigzag[i] =
// natural[ZigzagOrder[i]], then zeros for the positions past the block that
// the decoder's table entries can name.
void ZigzagQuant(const int32_t natural[64], int32_t zigzag[kZigzagQuantEntries]);

// positions block positions in a row, three blocks each (classes 0, 1 and 1,
// dequantised with luma, chroma and chroma, with predictors[0..2]): the same
// as DecodeBlock block by block, with the bit buffer held throughout. Here
// the tables are in zigzag order.
void DecodePositions(StreamReader &r, int32_t (*blocks)[64], int positions, const int32_t *luma,
                     const int32_t *chroma, int32_t predictors[3]);

}  // namespace plix
