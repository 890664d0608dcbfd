// Rows between the caller's pixel formats and the codec's strips (blue,
// green, red, fourth byte).
#pragma once

#include <cstddef>
#include <cstdint>

#include "plix/codec.h"

namespace plix::api {

// 3 or 4; 0 for a value that names no format.
size_t BytesPerPixel(int format);

// width decoded pixels to the caller's format, alpha 255.
void PackRow(const uint8_t *strip, int format, uint8_t *out, uint32_t width);

// width of the caller's pixels to strip pixels as the classic SetPixel stores
// them: blue, green, red, 0.
void UnpackRow(const uint8_t *in, int format, uint8_t *strip, uint32_t width);

}  // namespace plix::api
