// Colour conversion, eight pixels per step.
#include <immintrin.h>

#include <cstddef>
#include <cstring>

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

void ConvertYccToRgbAvx2(uint8_t *pixels, int32_t paddedWidth, int32_t width, int32_t height,
                         const YccToRgbTables &tables) {
    const auto *entries = reinterpret_cast<const long long *>(tables.packed);
    const __m256i indexMask = _mm256_set1_epi32(0xFFFF);
    const __m256i lumMask = _mm256_set1_epi32(0x00FF0000);
    for (int32_t y = 0; y < height; ++y) {
        uint8_t *p = pixels + static_cast<size_t>(y) * static_cast<size_t>(paddedWidth) * 4;
        int32_t x = 0;
        for (; x + 8 <= width; x += 8, p += 32) {
            const __m256i px = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
            // The table index is the low 16-bit half of each pixel; each entry
            // is one 64-bit (blue, green, red, -256) group.
            const __m256i index = _mm256_and_si256(px, indexMask);
            const __m256i e03 = _mm256_i32gather_epi64(entries, _mm256_castsi256_si128(index), 8);
            const __m256i e47 =
                _mm256_i32gather_epi64(entries, _mm256_extracti128_si256(index, 1), 8);
            // Y (16-bit lane 1 of each pixel) widened to one pixel per 64 bits
            // and spread over its four lanes.
            const __m256i lum = _mm256_and_si256(px, lumMask);
            __m256i y03 = _mm256_cvtepu32_epi64(_mm256_castsi256_si128(lum));
            __m256i y47 = _mm256_cvtepu32_epi64(_mm256_extracti128_si256(lum, 1));
            y03 = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(y03, 0x55), 0x55);
            y47 = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(y47, 0x55), 0x55);
            // packus interleaves the halves: (0 1 4 5 | 2 3 6 7); the permute
            // restores pixel order.
            const __m256i rgb =
                _mm256_packus_epi16(_mm256_add_epi16(y03, e03), _mm256_add_epi16(y47, e47));
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(p),
                                _mm256_permute4x64_epi64(rgb, 0xD8));
        }
        for (; x < width; ++x, p += 4) {
            const size_t i = static_cast<size_t>(p[1]) * 256 + p[0];
            const __m128i v =
                _mm_add_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(tables.packed[i])),
                              _mm_set1_epi16(p[2]));
            const uint32_t rgb = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(v, v)));
            std::memcpy(p, &rgb, 4);
        }
    }
}

}  // namespace plix
