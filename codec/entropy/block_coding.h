// Coding of one block's 64 coefficients: DC difference, AC run/size symbols.
#pragma once

#include <cstdint>

namespace plix {

class StreamReader;
class StreamWriter;

// Natural index (row * 8 + col) of each zigzag position 0..63.
inline constexpr uint8_t ZigzagOrder[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

// Number of significant bits of |v| (0..9 for |v| <= 511, at most 32).
int MagnitudeCategory(int32_t v);
// The n low bits of v, or of v - 1 when v is negative; n from 0 to 32.
void WriteValueBits(StreamWriter &w, int32_t v, int n);

// Writes a quantised block; predictor is the component's DC predictor.
// Coefficients and the DC difference are expected within -511..511, which the
// quantiser guarantees; anything else is written without memory faults (each
// symbol cut to a byte) but does not decode back.
void EncodeBlockSymbols(StreamWriter &w, const int32_t block[64], int cls, int32_t &predictor);

// The same, symbol by symbol through WriteSymbol: the plain form the fast one
// is checked against, and the path for blocks out of range.
void EncodeBlockSymbolsReference(StreamWriter &w, const int32_t block[64], int cls, int32_t &predictor);

// A quantised block made ready for the fast coder by a forward kernel: each
// coefficient's category and value bits, in natural order, so that coding
// only looks codes up. Entries 0 describe the DC coefficient itself, which the
// coder does not use (it codes the difference to the predictor from dc).
struct PreparedBlock {
    alignas(32) uint16_t bits[64];  // the low size bits of v, or of v - 1 when v < 0
    alignas(32) uint8_t size[64];   // MagnitudeCategory(v)
    uint64_t nonZero;               // bit i: the coefficient at zigzag position i is not 0
    int32_t dc;
};

// The plain form of the preparation. False, with out unusable, when an entry
// 1..63 lies outside -511..511.
bool PrepareBlock(const int32_t block[64], PreparedBlock &out);

// Writes the same bits as EncodeBlockSymbols for the block b was prepared
// from (PrepareBlock or a kernel that returned true). Each size must be at
// most 15; anything else is read out of bounds.
void EncodePreparedBlock(StreamWriter &w, const PreparedBlock &b, int cls, int32_t &predictor);

// positions block positions in a row, three prepared blocks each (classes 0, 1
// and 1, with predictors[0..2]): the same bits as EncodePreparedBlock block by
// block, with one hand-over of the writer's buffer for them all.
void EncodePreparedPositions(StreamWriter &w, const PreparedBlock *blocks, int positions,
                             int32_t predictors[3]);

// Reads one block, dequantises with q and clamps to -256..255. Any bit string
// decodes; the predictor sum and the products wrap at 32 bits.
void DecodeBlock(StreamReader &r, int32_t block[64], const int32_t q[64], int cls,
                 int32_t &predictor);

// A dequantisation table reordered for DecodePositions: zigzag[i] =
// natural[ZigzagOrder[i]].
void ZigzagQuant(const int32_t natural[64], int32_t zigzag[64]);

// positions block positions in a row, three blocks each (classes 0, 1 and 1,
// dequantised with luma, chroma and chroma, with predictors[0..2]): the same
// as DecodeBlock block by block, with the bit buffer held throughout. Here
// the tables are in zigzag order.
void DecodePositions(StreamReader &r, int32_t (*blocks)[64], int positions, const int32_t *luma,
                     const int32_t *chroma, int32_t predictors[3]);

// DecodePositions for a kernel that finishes the dequantisation
// (Dsp::inverseDecoded2): entry 0 is as there, entries 1..63 hold the
// products of value and table entry modulo 2^32, not yet limited to
// -256..255, and for each block without
// AC coefficients (bit 3 * position + component of the result set) only
// entry 0 is written. Positions up to 10.
uint32_t DecodePositionsRaw(StreamReader &r, int32_t (*blocks)[64], int positions, const int32_t *luma,
                            const int32_t *chroma, int32_t predictors[3]);

// DecodePositionsRaw without the BMI2 shifts it uses where the processor has
// them (for the tests, which check both).
uint32_t DecodePositionsRawBaseline(StreamReader &r, int32_t (*blocks)[64], int positions,
                                    const int32_t *luma, const int32_t *chroma, int32_t predictors[3]);

// The same as DecodeBlock, one bit at a time through the decoding trees: the
// plain form the fast ones are checked against.
void DecodeBlockReference(StreamReader &r, int32_t block[64], const int32_t q[64], int cls,
                          int32_t &predictor);

} // namespace plix
