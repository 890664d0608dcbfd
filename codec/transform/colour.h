// Colour space conversion between RGB and YCbCr.
// Pixel bytes: 0 blue / Cr, 1 green / Cb, 2 red / Y, 3 no colour.
#pragma once

#include <cstdint>

namespace plix {

// Offsets added to Y, indexed by Cb * 256 + Cr (the little-endian 16-bit
// value of pixel bytes 0 and 1).
struct YccToRgbTables {
    int32_t red[65536];
    int32_t green[65536];
    int32_t blue[65536];
    // The same offsets as 16-bit lanes in pixel byte order (blue, green, red)
    // and -256 in the fourth, so that one packed add and an unsigned
    // saturating pack give a whole pixel with byte 3 zero.
    alignas(16) int16_t packed[65536][4];
};

// Built once per process on first use; thread-safe.
const YccToRgbTables &GetYccToRgbTables();

// One pixel: from (b, g, r) to out[0] = Cr, out[1] = Cb, out[2] = Y.
void RgbToYcc(uint8_t b, uint8_t g, uint8_t r, uint8_t out[3]);

// count pixels from src to dst (may be the same), RGB to YCbCr; byte 3 is copied.
void ConvertRgbToYccPixels(const uint8_t *src, uint8_t *dst, int32_t count);

// The image area (width x height) of a buffer with rows of paddedWidth pixels,
// in place; byte 3 of each converted pixel becomes 0.
void ConvertYccToRgb(uint8_t *pixels, int32_t paddedWidth, int32_t width, int32_t height,
                     const YccToRgbTables &tables);

}  // namespace plix
