// The NEON (Advanced SIMD) kernels of 64-bit ARM, built there only and
// installed by InstallNeonKernels; each gives the plain kernel's results.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plix {

struct Dsp;
struct YccToRgbTables;

// The block transforms' entries (dct_neon.cpp).
void InstallNeonBlockKernels(Dsp &dsp);
void ConvertRgbToYccPixelsNeon(const uint8_t *src, uint8_t *dst, int32_t count);
void ConvertYccToRgbNeon(uint8_t *pixels, int32_t paddedWidth, int32_t width, int32_t height,
                         const YccToRgbTables &tables);

}  // namespace plix
