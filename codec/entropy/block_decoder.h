// The block decoder: one block's DC difference and AC run/size symbols back to
// dequantised coefficients. DecodePositionsRaw, the form the kernels finish,
// is declared with the coder's other kernels (entropy/kernels.h).
#pragma once

#include <cstddef>
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

// A block position's start (base plus the reader's bits taken before it) and
// the DC predictors after it.
struct PositionNote {
    uint64_t at;
    int32_t dc[3];
};

// Reads block positions' codes without their values (three blocks each,
// classes 0, 1 and 1, with predictors[0..2]): the bits each takes and the
// predictors after it are those of DecodePositions, for any bits. Notes
// each into out; stops before a position that would start at or past stop,
// or after cap. Returns how many were read.
size_t ScanPositions(StreamReader &r, int32_t predictors[3], uint64_t base, uint64_t stop,
                     PositionNote *out, size_t cap);

}  // namespace plix
