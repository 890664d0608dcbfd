// Two-position kernels made of one-position ones, for the kernel sets that
// have no wider forms of their own. In an unnamed namespace, like the vector
// helpers: each kernel file gets a copy built for its own instruction set.
#pragma once

#include <cstddef>
#include <cstdint>

#include "coefficients.h"
#include "transform/colour.h"
#include "transform/fdct.h"
#include "transform/idct.h"

namespace plix {
namespace {

// Dsp::forwardBlocks2Prepared from a forwardBlocks. The quantised
// coefficients lie within -256..256: every preparation succeeds.
template <auto ForwardBlocks>
void ForwardPairPrepared(const uint8_t *pixels, size_t rowBytes, const QuantDivisors &luma,
                         const QuantDivisors &chroma, PreparedBlock blocks[6]) {
    int32_t coefficients[6][64];
    ForwardBlocks(pixels, rowBytes, luma, chroma, coefficients);
    ForwardBlocks(pixels + 32, rowBytes, luma, chroma, coefficients + 3);
    for (int k = 0; k < 6; ++k) PrepareBlock(coefficients[k], blocks[k]);
}

// Dsp::inverseDecoded2 from an inverseBlocks and a yccToRgb.
template <auto InverseBlocks, auto YccToRgb>
void InverseDecodedPair(int32_t blocks[6][64], uint32_t dcOnly, uint8_t *pixels, size_t rowBytes,
                        const YccToRgbTables *tables) {
    LimitDecodedBlocks(blocks, 6, dcOnly);
    InverseBlocks(blocks, pixels, rowBytes);
    InverseBlocks(blocks + 3, pixels + 32, rowBytes);
    if (tables) YccToRgb(pixels, static_cast<int32_t>(rowBytes / 4), 16, 8, *tables);
}

}  // namespace
}  // namespace plix
