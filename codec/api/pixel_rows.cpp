#include "api/pixel_rows.h"

#include "dsp/dsp.h"
#include "transform/pixel_order.h"

namespace plix::api {

size_t BytesPerPixel(int format) {
    switch (format) {
        case PLIX_RGB:
        case PLIX_BGR:
            return 3;
        case PLIX_RGBA:
        case PLIX_BGRA:
            return 4;
        default:
            return 0;
    }
}

void PackRow(const uint8_t *strip, int format, uint8_t *out, uint32_t width) {
    switch (format) {
        case PLIX_RGB:
            return GetDsp().packPixels3(strip, out, width, true);
        case PLIX_RGBA:
            return PackPixels4(strip, out, width, true);
        case PLIX_BGR:
            return GetDsp().packPixels3(strip, out, width, false);
        case PLIX_BGRA:
            return PackPixels4(strip, out, width, false);
        default:
            return;
    }
}

void UnpackRow(const uint8_t *in, int format, uint8_t *strip, uint32_t width) {
    switch (format) {
        case PLIX_RGB:
            return GetDsp().unpackPixels3(in, strip, width, true);
        case PLIX_RGBA:
            return UnpackPixels4(in, strip, width, true);
        case PLIX_BGR:
            return GetDsp().unpackPixels3(in, strip, width, false);
        case PLIX_BGRA:
            return UnpackPixels4(in, strip, width, false);
        default:
            return;
    }
}

}  // namespace plix::api
