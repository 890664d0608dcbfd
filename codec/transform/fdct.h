// Forward DCT and quantisation of one block.
#pragma once

#include <cstdint>

namespace plix {

// Level-shifted samples (-128..127) in, coefficients (-256..255) out, in place.
void ForwardDct(int32_t block[64]);

// Rounds each coefficient divided by its table entry, halves away from zero.
void QuantiseBlock(int32_t block[64], const int32_t table[64]);

// A quantisation table turned into multipliers, so that the fast paths divide
// without dividing. With r = ceil(65536 / q), n / q == (n * r) >> 16 for every
// n from 0 to 383 (the largest |c| + q / 2) and q from 1 to 254; r fits 16
// bits except for q = 1, where it is 65536 and the quotient is n itself:
// n / q == (n & one) + ((n * mul) >> 16).
struct QuantDivisors {
    alignas(32) uint16_t mul[64];   // r, or 0 where q is 1
    alignas(32) uint16_t one[64];   // 0xFFFF where q is 1, else 0
    alignas(32) uint16_t half[64];  // q >> 1
    // The same three by column (entry c * 8 + r for row r, column c), for
    // kernels that quantise before turning columns back into rows.
    alignas(32) uint16_t mulByColumn[64];
    alignas(32) uint16_t oneByColumn[64];
    alignas(32) uint16_t halfByColumn[64];
    int32_t table[64];  // the divisors themselves
};

// Entries of table must lie in 1..254.
void PrepareQuantDivisors(const int32_t table[64], QuantDivisors &out);

// ForwardDct then QuantiseBlock with the table the divisors were made from.
void ForwardDctQuantise(int32_t block[64], const QuantDivisors &div);

}  // namespace plix
