// The WebAssembly SIMD-128 kernels, built for the WebAssembly module only
// and installed by InstallWasmKernels; each gives the plain kernel's results.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plix {

struct PreparedBlock;
struct QuantDivisors;
struct YccToRgbTables;

void ForwardBlocksWasm(const uint8_t *pixels, size_t rowBytes, const QuantDivisors &luma,
                       const QuantDivisors &chroma, int32_t blocks[3][64]);
void ForwardBlocks2PreparedWasm(const uint8_t *pixels, size_t rowBytes, const QuantDivisors &luma,
                                const QuantDivisors &chroma, PreparedBlock blocks[6]);
void InverseDctWasm(int32_t block[64]);
void InverseBlocksWasm(int32_t blocks[3][64], uint8_t *pixels, size_t rowBytes);
void InverseDecoded2Wasm(int32_t blocks[6][64], uint32_t dcOnly, uint8_t *pixels, size_t rowBytes,
                         const YccToRgbTables *tables);
void ConvertRgbToYccPixelsWasm(const uint8_t *src, uint8_t *dst, int32_t count);
void ConvertYccToRgbWasm(uint8_t *pixels, int32_t paddedWidth, int32_t width, int32_t height,
                         const YccToRgbTables &tables);

}  // namespace plix
