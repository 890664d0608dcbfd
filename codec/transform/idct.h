// Inverse DCT of one block: dequantised coefficients (-256..255) in, samples
// 0..255 out, in place. Both variants give identical results for such input.
#pragma once

#include <cstdint>

#include "transform/kernels.h"

namespace plix {

void InverseDct(int32_t block[64]);
// Packed 16-bit variant (SSE2 on x86-64; the plain one elsewhere).
void InverseDctMmx(int32_t block[64]);

}  // namespace plix
