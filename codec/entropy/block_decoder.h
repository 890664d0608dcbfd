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

// A block position decoded ahead of knowing its DC predictors: which of
// entries 1..63 of its blocks are not 0 (none for a block the decoder found
// DC-only), and where their values begin (Dsp::keepPosition). Its DCs are
// those its note gives.
struct KeptPosition {
    uint64_t masks[3];
    uint64_t first;
};

// Most values one position keeps, and the room past them a kernel may
// write or read.
inline constexpr size_t kPositionKeptValues = 3 * 63 + 16;

// ScanPositions that also decodes each position (as DecodePositionsRaw) and
// keeps it with keep: kept[i] for out[i], the values from values + used on
// (used advanced), while used + kPositionKeptValues is at most room. The plain
// form; Dsp::keepPositions holds the one to use.
size_t KeepPositions(StreamReader &r, int32_t predictors[3], uint64_t base, uint64_t stop,
                     PositionNote *out, KeptPosition *kept, size_t cap, int16_t *values,
                     size_t &used, size_t room, const int32_t *luma, const int32_t *chroma,
                     size_t (*keep)(const int32_t (*)[64], uint32_t, uint64_t *, int16_t *));

}  // namespace plix
