// SSE2 block transforms: one block per 128-bit vector of eight 16-bit lanes.
#include "transform/dct_x86.h"
#include "transform/fdct.h"
#include "transform/idct.h"
#include "transform/kernels.h"

namespace plix {

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

void ForwardDctSse2(int32_t block[64]) {
    V1 r[8];
    vec::LoadRows(block, r);
    vec::ForwardRows(r);
    vec::StoreRows(r, block);
}

void ForwardDctQuantiseSse2(int32_t block[64], const QuantDivisors &div) {
    V1 r[8];
    vec::LoadRows(block, r);
    vec::ForwardRows(r);
    QuantiseRows(r, div);
    vec::StoreRows(r, block);
}

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

void InverseDctMmx(int32_t block[64]) {
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

}  // namespace plix
