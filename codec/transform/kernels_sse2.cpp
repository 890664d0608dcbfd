// SSE2 kernels: block transforms with one block per 128-bit vector of eight
// 16-bit lanes, and colour conversion four pixels per step.
#include <emmintrin.h>

#include <cstddef>
#include <cstring>

#include "coefficients.h"
#include "kernel_table.h"
#include "transform/colour.h"
#include "transform/colour_x86.h"
#include "transform/dct_x86.h"
#include "transform/fdct.h"
#include "transform/idct.h"
#include "transform/kernels.h"
#include "transform/pair_kernels.h"

namespace plix {

namespace {

namespace {

using vec::V1;

inline void QuantiseRows(V1 r[8], const QuantDivisors &div) {
    const V1 *mul = reinterpret_cast<const V1 *>(div.mul);
    const V1 *one = reinterpret_cast<const V1 *>(div.one);
    const V1 *half = reinterpret_cast<const V1 *>(div.half);
    for (int i = 0; i < 8; ++i)
        r[i] = vec::Quantise(r[i], _mm_load_si128(mul + i), _mm_load_si128(one + i),
                             _mm_load_si128(half + i));
}

// Samples of one block as rows; a DC-only block is filled directly.
inline void InverseToRows(const int32_t block[64], V1 r[8]) {
    if (vec::OnlyDc(block)) {
        const V1 s = _mm_set1_epi16(vec::DcSample(block[0]));
        for (int i = 0; i < 8; ++i) r[i] = s;
        return;
    }
    vec::LoadRows(block, r);
    vec::InverseRows(r);
}

}  // namespace

void ForwardBlocksSse2(const uint8_t *pixels, size_t rowBytes, const QuantDivisors &luma,
                       const QuantDivisors &chroma, int32_t blocks[3][64]) {
    V1 c[3][8];
    vec::LoadPixels(pixels, rowBytes, c[0], c[1], c[2]);
    for (int k = 0; k < 3; ++k) {
        vec::ForwardRows<V1, true>(c[k]);
        QuantiseRows(c[k], k == 0 ? luma : chroma);
        vec::StoreRows(c[k], blocks[k]);
    }
}

void InverseDctSse2(int32_t block[64]) {
    V1 r[8];
    InverseToRows(block, r);
    const V1 zero = _mm_setzero_si128();
    V1 *p = reinterpret_cast<V1 *>(block);
    for (int i = 0; i < 8; ++i) {
        _mm_storeu_si128(p + 2 * i, _mm_unpacklo_epi16(r[i], zero));
        _mm_storeu_si128(p + 2 * i + 1, _mm_unpackhi_epi16(r[i], zero));
    }
}

void InverseBlocksSse2(int32_t blocks[3][64], uint8_t *pixels, size_t rowBytes) {
    V1 c[3][8];
    for (int k = 0; k < 3; ++k) InverseToRows(blocks[k], c[k]);
    vec::StorePixels(c[0], c[1], c[2], pixels, rowBytes);
}

void ConvertYccToRgbSse2(uint8_t *pixels, int32_t paddedWidth, int32_t width, int32_t height,
                         const YccToRgbTables &tables) {
    const __m128i lumMask = _mm_set1_epi32(0x00FF0000);
    vec::YccToRgbRows<4>(
        pixels, paddedWidth, width, height,
        [&](uint8_t *p) {
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
        },
        [&](uint8_t *p, int32_t n) {
            for (int32_t i = 0; i < n; ++i) vec::ToRgbPixel(tables, p + 4 * i);
        });
}

}  // namespace

void InstallSse2Kernels(Dsp &dsp) {
    dsp.inverseDct = InverseDctSse2;
    dsp.forwardBlocks = ForwardBlocksSse2;
    dsp.inverseBlocks = InverseBlocksSse2;
    dsp.forwardBlocks2Prepared = ForwardPairPrepared<ForwardBlocksSse2>;
    dsp.inverseDecoded2 = InverseDecodedPair<InverseBlocksSse2, ConvertYccToRgbSse2>;
    dsp.rgbToYcc = vec::RgbToYccPixels<__m128i>;
    dsp.yccToRgb = ConvertYccToRgbSse2;
}

}  // namespace plix
