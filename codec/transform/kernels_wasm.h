// The WebAssembly SIMD-128 kernels, built for the WebAssembly module only
// and installed by InstallWasmKernels; each gives the plain kernel's results.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plix {

struct Dsp;
struct YccToRgbTables;

// The block transforms' entries (dct_wasm.cpp).
void InstallWasmBlockKernels(Dsp &dsp);
void ConvertRgbToYccPixelsWasm(const uint8_t *src, uint8_t *dst, int32_t count);
void ConvertYccToRgbWasm(uint8_t *pixels, int32_t paddedWidth, int32_t width, int32_t height,
                         const YccToRgbTables &tables);

}  // namespace plix
