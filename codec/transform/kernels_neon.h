// The NEON (Advanced SIMD) variants of the kernels, for 64-bit ARM. Advanced
// SIMD is part of every AArch64 processor, so they need no probe. They are
// reached through GetDsp(), or by the tests through their level.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__aarch64__) && defined(__ARM_NEON)
#define PLIX_NEON_KERNELS 1
#else
#define PLIX_NEON_KERNELS 0
#endif

namespace plix {

struct Dsp;
struct PreparedBlock;
struct QuantDivisors;
struct YccToRgbTables;

#if PLIX_NEON_KERNELS
// Overrides the entries of d that the NEON kernels make faster.
void InstallNeonKernels(Dsp &d);

void ForwardDctNeon(int32_t block[64]);
void ForwardDctQuantiseNeon(int32_t block[64], const QuantDivisors &div);
void ForwardBlocksNeon(const uint8_t *pixels, size_t rowBytes, const QuantDivisors &luma,
                       const QuantDivisors &chroma, int32_t blocks[3][64]);
void ForwardBlocks2Neon(const uint8_t *pixels, size_t rowBytes, const QuantDivisors &luma,
                        const QuantDivisors &chroma, int32_t blocks[6][64]);
void ForwardBlocks2PreparedNeon(const uint8_t *pixels, size_t rowBytes, const QuantDivisors &luma,
                                const QuantDivisors &chroma, PreparedBlock blocks[6]);
void InverseDctNeon(int32_t block[64]);
void InverseBlocksNeon(int32_t blocks[3][64], uint8_t *pixels, size_t rowBytes);
void InverseBlocks2Neon(int32_t blocks[6][64], uint8_t *pixels, size_t rowBytes);
void InverseDecoded2Neon(int32_t blocks[6][64], uint32_t dcOnly, uint8_t *pixels, size_t rowBytes,
                         const YccToRgbTables *tables);
void ConvertRgbToYccPixelsNeon(const uint8_t *src, uint8_t *dst, int32_t count);
void ConvertYccToRgbNeon(uint8_t *pixels, int32_t paddedWidth, int32_t width, int32_t height,
                         const YccToRgbTables &tables);
#endif

}  // namespace plix
