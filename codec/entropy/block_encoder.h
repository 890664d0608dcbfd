// The block encoder: one block's 64 quantised coefficients as a DC difference
// and AC run/size symbols.
#pragma once

#include <cstdint>

#include "coefficients.h"

namespace plix {

class StreamWriter;

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
void EncodeBlockSymbolsReference(StreamWriter &w, const int32_t block[64], int cls,
                                 int32_t &predictor);

// Writes the same bits as EncodeBlockSymbols for the block b was prepared
// from (PrepareBlock or a kernel), its entries in the given order. Each size
// must be at most 15; anything else is read out of bounds.
void EncodePreparedBlock(StreamWriter &w, const PreparedBlock &b, int cls, int32_t &predictor,
                         PreparedOrder order = PreparedOrder::kNatural);

}  // namespace plix
