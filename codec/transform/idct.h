// Inverse DCT of one block: dequantised coefficients (-256..255) in, samples
// 0..255 out, in place. Both variants give identical results.
#pragma once

#include <cstdint>

namespace plix {

void InverseDct(int32_t block[64]);
// Packed 16-bit multiply-add variant (SSE2 on x86-64; the plain one elsewhere).
void InverseDctMmx(int32_t block[64]);

} // namespace plix
