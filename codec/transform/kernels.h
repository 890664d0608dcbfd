// The transform's kernels for the table: the plain ones the plain level
// starts from, and each instruction set's installer, which overrides by field
// name only the entries that set speeds up.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plix {

struct Dsp;
struct PreparedBlock;
struct QuantDivisors;
struct YccToRgbTables;

// The plain Dsp::forwardBlocks, inverseBlocks, forwardBlocks2Prepared and
// inverseDecoded2 (kernels_plain.cpp). The other plain transform entries are
// InverseDct (idct.h), ConvertRgbToYccPixels and ConvertYccToRgb (colour.h).
void ForwardBlocksPlain(const uint8_t *pixels, size_t rowBytes, const QuantDivisors &luma,
                        const QuantDivisors &chroma, int32_t blocks[3][64]);
void InverseBlocksPlain(int32_t blocks[3][64], uint8_t *pixels, size_t rowBytes);
void ForwardBlocks2PreparedPlain(const uint8_t *pixels, size_t rowBytes, const QuantDivisors &luma,
                                 const QuantDivisors &chroma, PreparedBlock blocks[6]);
void InverseDecoded2Plain(int32_t blocks[6][64], uint32_t dcOnly, uint8_t *pixels,
                          size_t rowBytes, const YccToRgbTables *tables);

// Defined by the files of each instruction set, built only where the
// architecture has it; each overrides what it speeds up and leaves the rest.
void InstallSse2Kernels(Dsp &dsp);    // kernels_sse2.cpp, x86
void InstallAvx2Kernels(Dsp &dsp);    // kernels_avx2.cpp, x86, after the SSE2 set
void InstallAvx512Kernels(Dsp &dsp);  // kernels_avx512.cpp, x86-64, after the AVX2 set;
                                      // only with the coder's (entropy/kernels.h)
void InstallNeonKernels(Dsp &dsp);    // kernels_neon.cpp, aarch64
void InstallWasmKernels(Dsp &dsp);    // kernels_wasm.cpp, WebAssembly with SIMD-128

}  // namespace plix
