// Forward DCT and quantisation of one block.
#pragma once

#include <cstdint>

namespace plix {

// Level-shifted samples (-128..127) in, coefficients (-256..255) out, in place.
void ForwardDct(int32_t block[64]);

// Rounds each coefficient divided by its table entry, halves away from zero.
void QuantiseBlock(int32_t block[64], const int32_t table[64]);

} // namespace plix
