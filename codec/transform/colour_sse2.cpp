// Colour conversion, four pixels per step.
#include <emmintrin.h>

#include <cstddef>
#include <cstring>

#include "transform/colour.h"
#include "transform/colour_x86.h"

namespace plix {

namespace {

// One pixel from its table entry: Y + offsets, saturated to bytes.
inline uint32_t ToRgb(const YccToRgbTables &t, const uint8_t *p) {
    const size_t i = static_cast<size_t>(p[1]) * 256 + p[0];
    const __m128i v = _mm_add_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(t.packed[i])),
                                    _mm_set1_epi16(p[2]));
    return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(v, v)));
}

}  // namespace

void ConvertRgbToYccPixelsSse2(const uint8_t *src, uint8_t *dst, int32_t count) {
    int32_t i = 0;
    for (; i + 4 <= count; i += 4, src += 16, dst += 16) {
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst), vec::ToYcc(p));
    }
    if (i < count) ConvertRgbToYccPixels(src, dst, count - i);
}

void ConvertYccToRgbMmx(uint8_t *pixels, int32_t paddedWidth, int32_t width, int32_t height,
                        const YccToRgbTables &tables) {
    const __m128i lumMask = _mm_set1_epi32(0x00FF0000);
    for (int32_t y = 0; y < height; ++y) {
        uint8_t *p = pixels + static_cast<size_t>(y) * static_cast<size_t>(paddedWidth) * 4;
        int32_t x = 0;
        for (; x + 4 <= width; x += 4, p += 16) {
            const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
            // The table index is the low 16-bit half of each pixel.
            const auto *e0 = tables.packed[_mm_extract_epi16(px, 0)];
            const auto *e1 = tables.packed[_mm_extract_epi16(px, 2)];
            const auto *e2 = tables.packed[_mm_extract_epi16(px, 4)];
            const auto *e3 = tables.packed[_mm_extract_epi16(px, 6)];
            const __m128i t01 =
                _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(e0)),
                                   _mm_loadl_epi64(reinterpret_cast<const __m128i *>(e1)));
            const __m128i t23 =
                _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(e2)),
                                   _mm_loadl_epi64(reinterpret_cast<const __m128i *>(e3)));
            // Y sits in 16-bit lane 1 of each pixel; doubling the pixels puts
            // two of them in each 64-bit half, whose lane 1 is then spread
            // over the half.
            const __m128i lum = _mm_and_si128(px, lumMask);
            const __m128i lum01 = _mm_unpacklo_epi32(lum, lum);
            const __m128i lum23 = _mm_unpackhi_epi32(lum, lum);
            const __m128i y01 = _mm_shufflehi_epi16(_mm_shufflelo_epi16(lum01, 0x55), 0x55);
            const __m128i y23 = _mm_shufflehi_epi16(_mm_shufflelo_epi16(lum23, 0x55), 0x55);
            const __m128i rgb = _mm_packus_epi16(_mm_add_epi16(y01, t01), _mm_add_epi16(y23, t23));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(p), rgb);
        }
        for (; x < width; ++x, p += 4) {
            const uint32_t v = ToRgb(tables, p);
            std::memcpy(p, &v, 4);
        }
    }
}

}  // namespace plix
