// Pixels between the strip's four bytes (blue, green, red, one more) and
// a caller's three or four: red first when rgb is set, else blue first.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plix {

// count pixels: strip's first three bytes, in the order asked, to out.
void PackPixels3(const uint8_t *strip, uint8_t *out, size_t count, bool rgb);

// count pixels: three bytes in the order given to strip's blue, green, red,
// and 0 in the fourth.
void UnpackPixels3(const uint8_t *in, uint8_t *strip, size_t count, bool rgb);

// The same with four bytes a pixel, 0xFF in the caller's fourth (alpha).
void PackPixels4(const uint8_t *strip, uint8_t *out, size_t count, bool rgb);
void UnpackPixels4(const uint8_t *in, uint8_t *strip, size_t count, bool rgb);

}  // namespace plix
