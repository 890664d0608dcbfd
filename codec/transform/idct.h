// Inverse DCT of one block: dequantised coefficients (-256..255) in, samples
// 0..255 out, in place. Every kernel level gives identical results for such input.
#pragma once

#include <cstdint>

namespace plix {

void InverseDct(int32_t block[64]);

// count blocks from the decoder's raw form (DecodePositionsRaw) made ready
// for the transform: entries 1..63 limited to -256..255, or cleared in each
// block whose bit is set in dcOnly.
void LimitDecodedBlocks(int32_t (*blocks)[64], int count, uint32_t dcOnly);

}  // namespace plix
