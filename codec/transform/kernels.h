// The instruction-set variants of the kernels. They exist on x86 (64- and
// 32-bit; on 32-bit even SSE2 is chosen at run time) and are reached through
// GetDsp(), or directly by the tests that prove them equal
// to the plain forms.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__x86_64__) || defined(_M_X64) || defined(__i386__)
#define PLIX_X86_KERNELS 1
#else
#define PLIX_X86_KERNELS 0
#endif

namespace plix {

struct PreparedBlock;
struct QuantDivisors;
struct YccToRgbTables;

#if PLIX_X86_KERNELS
// SSE2, the x86-64 floor. InverseDctMmx and ConvertYccToRgbMmx are declared
// with their plain forms.
void ForwardDctSse2(int32_t block[64]);
void ForwardDctQuantiseSse2(int32_t block[64], const QuantDivisors &div);
void ForwardBlocksSse2(const uint8_t *pixels, size_t rowBytes, const QuantDivisors &luma,
                       const QuantDivisors &chroma, int32_t blocks[3][64]);
void InverseBlocksSse2(int32_t blocks[3][64], uint8_t *pixels, size_t rowBytes);
void ConvertRgbToYccPixelsSse2(const uint8_t *src, uint8_t *dst, int32_t count);

// AVX2, chosen at run time; two blocks per 256-bit vector.
void ForwardBlocksAvx2(const uint8_t *pixels, size_t rowBytes, const QuantDivisors &luma,
                       const QuantDivisors &chroma, int32_t blocks[3][64]);
void InverseBlocksAvx2(int32_t blocks[3][64], uint8_t *pixels, size_t rowBytes);
void ForwardBlocks2Avx2(const uint8_t *pixels, size_t rowBytes, const QuantDivisors &luma,
                        const QuantDivisors &chroma, int32_t blocks[6][64]);
void InverseBlocks2Avx2(int32_t blocks[6][64], uint8_t *pixels, size_t rowBytes);
void InverseDecoded2Avx2(int32_t blocks[6][64], uint32_t dcOnly, uint8_t *pixels, size_t rowBytes,
                         const YccToRgbTables *tables);
void ForwardBlocks2PreparedAvx2(const uint8_t *pixels, size_t rowBytes, const QuantDivisors &luma,
                                const QuantDivisors &chroma, PreparedBlock blocks[6]);
void ConvertRgbToYccPixelsAvx2(const uint8_t *src, uint8_t *dst, int32_t count);
void ConvertYccToRgbAvx2(uint8_t *pixels, int32_t paddedWidth, int32_t width, int32_t height,
                         const YccToRgbTables &tables);
#endif

}  // namespace plix
