// What the block encoder and decoder share about symbols and value bits.
#pragma once

#include <cstdint>

namespace plix {

inline constexpr int kEndOfBlock = 0x00;
inline constexpr int kZeroRun16 = 0x10;

// n bits u read back as a value of category n (1..31), modulo 2^32.
inline uint32_t Extend(uint32_t u, int n) {
    const uint32_t negative = ((u >> (n - 1)) & 1u) - 1u;  // all ones when the top bit is 0
    return u + (negative & ((~0u << n) + 1u));
}

// The same for n from 0 to 31, 0 bits giving 0.
inline uint32_t ExtendOrZero(uint32_t u, int n) {
    const uint32_t negative = (((u << 1) >> n) & 1u) - 1u;
    return u + (negative & ((~0u << n) + 1u));
}

}  // namespace plix
