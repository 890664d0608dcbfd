// RGB to YCbCr, eight pixels per step.
#include <immintrin.h>

#include "transform/colour.h"
#include "transform/colour_x86.h"
#include "transform/kernels.h"

namespace plix {

void ConvertRgbToYccPixelsAvx2(const uint8_t *src, uint8_t *dst, int32_t count) {
    int32_t i = 0;
    for (; i + 8 <= count; i += 8, src += 32, dst += 32) {
        const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst), vec::ToYcc(p));
    }
    if (i < count) ConvertRgbToYccPixels(src, dst, count - i);
}

} // namespace plix
