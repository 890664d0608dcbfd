// What the transforms and the entropy coder exchange: the zigzag order, blocks
// prepared for the coder, and the decoder's entry for the kernel table.
#pragma once

#include <cstdint>

namespace plix {

class StreamReader;
class StreamWriter;

// Natural index (row * 8 + col) of each zigzag position 0..63.
inline constexpr uint8_t ZigzagOrder[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

// Entries of a dequantisation table in zigzag order as the block decoder takes
// it: the 64 positions, then zeros for positions past the block.
inline constexpr int kZigzagQuantEntries = 144;

// A quantised block made ready for the fast coder by a forward kernel: each
// coefficient's category and value bits, so that coding only looks codes up.
// The entries are in natural order, or in zigzag order (the order of coding,
// which spares the coder a lookup per symbol) where the kernel level says so
// (Dsp::preparedZigzag). Entries 0 describe the DC coefficient itself, which the
// coder does not use (it codes the difference to the predictor from dc).
struct PreparedBlock {
    alignas(32) uint16_t bits[64];  // the low size bits of v, or of v - 1 when v < 0
    alignas(32) uint8_t size[64];   // MagnitudeCategory(v)
    uint64_t nonZero;               // bit i: the coefficient at zigzag position i is not 0
    int32_t dc;
};

// The plain form of the preparation (in the encoder). False, with out
// unusable, when an entry 1..63 lies outside -511..511.
bool PrepareBlock(const int32_t block[64], PreparedBlock &out);

// positions block positions in a row (up to 10), three blocks each (classes
// 0, 1 and 1, with predictors[0..2], tables in zigzag order with
// kZigzagQuantEntries entries), for a kernel
// that finishes the dequantisation (Dsp::inverseDecoded2): entry 0 is
// dequantised and limited, entries 1..63 hold the products of value and table
// entry modulo 2^32, not yet limited to -256..255, and for each block without
// AC coefficients (bit 3 * position + component of the result set) only entry
// 0 is written. The plain form, in the decoder; Dsp::decodePositionsRaw holds
// the one to use.
uint32_t DecodePositionsRaw(StreamReader &r, int32_t (*blocks)[64], int positions,
                            const int32_t *luma, const int32_t *chroma, int32_t predictors[3]);

// The encoder's entry for the kernel table: positions block positions in a
// row, three prepared blocks each (classes 0, 1 and 1, with predictors[0..2]):
// the same bits as EncodePreparedBlock block by block, with one hand-over of
// the writer's buffer for them all. The plain form, in the block encoder;
// Dsp::encodePreparedPositions holds the one to use.
void EncodePreparedPositions(StreamWriter &w, const PreparedBlock *blocks, int positions,
                             int32_t predictors[3]);

}  // namespace plix
