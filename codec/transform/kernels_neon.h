// The NEON (Advanced SIMD) kernels of 64-bit ARM, built there only and
// installed by InstallNeonKernels; each gives the plain kernel's results.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plix {

struct PreparedBlock;
struct QuantDivisors;
struct YccToRgbTables;

void ForwardBlocksNeon(const uint8_t *pixels, size_t rowBytes, const QuantDivisors &luma,
                       const QuantDivisors &chroma, int32_t blocks[3][64]);
void ForwardBlocks2PreparedNeon(const uint8_t *pixels, size_t rowBytes, const QuantDivisors &luma,
                                const QuantDivisors &chroma, PreparedBlock blocks[6]);
void InverseDctNeon(int32_t block[64]);
void InverseBlocksNeon(int32_t blocks[3][64], uint8_t *pixels, size_t rowBytes);
void InverseDecoded2Neon(int32_t blocks[6][64], uint32_t dcOnly, uint8_t *pixels, size_t rowBytes,
                         const YccToRgbTables *tables);
void ConvertRgbToYccPixelsNeon(const uint8_t *src, uint8_t *dst, int32_t count);
void ConvertYccToRgbNeon(uint8_t *pixels, int32_t paddedWidth, int32_t width, int32_t height,
                         const YccToRgbTables &tables);

}  // namespace plix
