// Block and colour kernels, chosen once per process for this processor.
// Every variant gives the same results as the plain one.
#pragma once

#include <cstdint>

namespace plix {

struct YccToRgbTables;

struct Dsp {
    // Dequantised coefficients in, samples 0..255 out, in place.
    void (*inverseDct)(int32_t block[64]);
    // Level-shifted samples in, coefficients out, in place.
    void (*forwardDct)(int32_t block[64]);
    // Image area of a pixel buffer from YCbCr to RGB, in place.
    void (*yccToRgb)(uint8_t *pixels, int32_t paddedWidth, int32_t width, int32_t height,
                     const YccToRgbTables &tables);
    // True when the packed-integer variants are in use.
    bool packed;
};

// Thread-safe; the choice is made on the first call.
const Dsp &GetDsp();

} // namespace plix
