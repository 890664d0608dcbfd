// Forward DCT and quantisation of one block.
#pragma once

#include <cstdint>

namespace plix {

// Level-shifted samples (-128..127) in, coefficients (-256..255) out, in place.
void ForwardDct(int32_t block[64]);

// Rounds each coefficient divided by its table entry, halves away from zero.
void QuantiseBlock(int32_t block[64], const int32_t table[64]);

// A quantisation table turned into multipliers, so that the fast paths divide
// without dividing: for n from 0 to 383 and q from 1 to 254,
// n / q == n * one + ((n * mul) >> 16), with mul + 65536 * one == ceil(65536 / q).
struct QuantDivisors {
    alignas(32) uint16_t mul[64];
    alignas(32) uint16_t one[64];   // 0xFFFF where q is 1 (mul is then 0), else 0
    alignas(32) uint16_t half[64];  // q >> 1
    alignas(32) int32_t mul32[64];  // ceil(65536 / q), for 32-bit lanes
    alignas(32) int32_t half32[64];
    int32_t table[64];  // the divisors themselves
};

// Entries of table must lie in 1..254.
void PrepareQuantDivisors(const int32_t table[64], QuantDivisors &out);

// ForwardDct then QuantiseBlock with the table the divisors were made from.
void ForwardDctQuantise(int32_t block[64], const QuantDivisors &div);

}  // namespace plix
