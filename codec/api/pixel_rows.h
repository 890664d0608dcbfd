// Rows between the caller's pixel formats and the codec's strips (blue,
// green, red, fourth byte).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "plix/codec.h"

namespace plix::api {

// The number a caller passed as a format. C callers may pass any int, which
// C++ must not read as the enum: it is read as its bytes.
inline int FormatNumber(const plix_format &format) {
    std::underlying_type_t<plix_format> n;
    static_assert(sizeof n == sizeof format);
    std::memcpy(&n, &format, sizeof n);
    return static_cast<int>(n);
}

// 3 or 4; 0 for a value that names no format.
size_t BytesPerPixel(int format);

// width decoded pixels to the caller's format, alpha 255.
void PackRow(const uint8_t *strip, int format, uint8_t *out, uint32_t width);

// width of the caller's pixels to strip pixels as the classic SetPixel stores
// them: blue, green, red, 0.
void UnpackRow(const uint8_t *in, int format, uint8_t *strip, uint32_t width);

}  // namespace plix::api
