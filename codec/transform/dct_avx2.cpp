// AVX2 block transforms: two blocks side by side in each 256-bit vector
// (components 0 and 1 together), the third in a 128-bit one.
#include <immintrin.h>

#include "transform/dct_x86.h"
#include "transform/fdct.h"
#include "transform/kernels.h"

namespace plix {

namespace {

using vec::V1;
using vec::V2;

inline V2 Join(V1 lo, V1 hi) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
}

inline V1 Load(const uint16_t *p) {
    return _mm_load_si128(reinterpret_cast<const V1 *>(p));
}
}  // namespace

void ForwardBlocksAvx2(const uint8_t *pixels, size_t rowBytes, const QuantDivisors &luma,
                       const QuantDivisors &chroma, int32_t blocks[3][64]) {
    V2 yc[8];  // component 0 in the low half, component 1 in the high half
    V1 cr[8];
    const V2 mask = _mm256_set1_epi32(0xFF);
    const V2 shift = _mm256_set1_epi16(128);
    for (int r = 0; r < 8; ++r) {
        const V2 p = _mm256_loadu_si256(
            reinterpret_cast<const V2 *>(pixels + static_cast<size_t>(r) * rowBytes));
        // packs works per half: (y 0-3, cb 0-3 | y 4-7, cb 4-7); the permute
        // puts the four quarters in order.
        const V2 y = _mm256_and_si256(_mm256_srli_epi32(p, 16), mask);
        const V2 cb = _mm256_and_si256(_mm256_srli_epi32(p, 8), mask);
        yc[r] = _mm256_sub_epi16(_mm256_permute4x64_epi64(_mm256_packs_epi32(y, cb), 0xD8), shift);
        const V2 c = _mm256_and_si256(p, mask);
        cr[r] = _mm256_castsi256_si128(
            _mm256_sub_epi16(_mm256_permute4x64_epi64(_mm256_packs_epi32(c, c), 0x08), shift));
    }
    vec::ForwardRows(yc);
    vec::ForwardRows(cr);
    for (int i = 0; i < 8; ++i) {
        const V2 q = vec::Quantise(yc[i], Join(Load(luma.mul + 8 * i), Load(chroma.mul + 8 * i)),
                                   Join(Load(luma.one + 8 * i), Load(chroma.one + 8 * i)),
                                   Join(Load(luma.half + 8 * i), Load(chroma.half + 8 * i)));
        _mm256_storeu_si256(reinterpret_cast<V2 *>(blocks[0] + 8 * i),
                            _mm256_cvtepi16_epi32(_mm256_castsi256_si128(q)));
        _mm256_storeu_si256(reinterpret_cast<V2 *>(blocks[1] + 8 * i),
                            _mm256_cvtepi16_epi32(_mm256_extracti128_si256(q, 1)));
        const V1 c = vec::Quantise(cr[i], Load(chroma.mul + 8 * i), Load(chroma.one + 8 * i),
                                   Load(chroma.half + 8 * i));
        _mm256_storeu_si256(reinterpret_cast<V2 *>(blocks[2] + 8 * i), _mm256_cvtepi16_epi32(c));
    }
}

namespace {

// Samples of n blocks as rows of 16-bit lanes: DC-only blocks are filled
// directly, the others go two at a time through the wide kernel.
void InverseMany(int32_t *const *blocks, int n, V1 (*out)[8]) {
    int busy[6], m = 0;
    for (int k = 0; k < n; ++k) {
        if (vec::OnlyDc(blocks[k])) {
            const V1 s = _mm_set1_epi16(vec::DcSample(blocks[k][0]));
            for (int i = 0; i < 8; ++i) out[k][i] = s;
        } else {
            busy[m++] = k;
        }
    }
    int j = 0;
    for (; j + 2 <= m; j += 2) {
        const int32_t *a = blocks[busy[j]];
        const int32_t *b = blocks[busy[j + 1]];
        V2 r[8];
        for (int i = 0; i < 8; ++i) {
            const V1 *pa = reinterpret_cast<const V1 *>(a + 8 * i);
            const V1 *pb = reinterpret_cast<const V1 *>(b + 8 * i);
            r[i] = _mm256_packs_epi32(Join(_mm_loadu_si128(pa), _mm_loadu_si128(pb)),
                                      Join(_mm_loadu_si128(pa + 1), _mm_loadu_si128(pb + 1)));
        }
        vec::InverseRows(r);
        for (int i = 0; i < 8; ++i) {
            out[busy[j]][i] = _mm256_castsi256_si128(r[i]);
            out[busy[j + 1]][i] = _mm256_extracti128_si256(r[i], 1);
        }
    }
    if (j < m) {
        vec::LoadRows(blocks[busy[j]], out[busy[j]]);
        vec::InverseRows(out[busy[j]]);
    }
}

}  // namespace

void InverseBlocksAvx2(int32_t blocks[3][64], uint8_t *pixels, size_t rowBytes) {
    int32_t *const list[3] = {blocks[0], blocks[1], blocks[2]};
    V1 c[3][8];
    InverseMany(list, 3, c);
    vec::StorePixels(c[0], c[1], c[2], pixels, rowBytes);
}

void InverseBlocks2Avx2(int32_t blocks[6][64], uint8_t *pixels, size_t rowBytes) {
    int32_t *const list[6] = {blocks[0], blocks[1], blocks[2], blocks[3], blocks[4], blocks[5]};
    V1 c[6][8];
    InverseMany(list, 6, c);
    vec::StorePixels(c[0], c[1], c[2], pixels, rowBytes);
    vec::StorePixels(c[3], c[4], c[5], pixels + 32, rowBytes);
}

void ForwardBlocks2Avx2(const uint8_t *pixels, size_t rowBytes, const QuantDivisors &luma,
                        const QuantDivisors &chroma, int32_t blocks[6][64]) {
    V2 ycA[8], ycB[8], cr[8];  // (Y, Cb) of each position; (Cr, Cr) of both
    const V2 mask = _mm256_set1_epi32(0xFF);
    const V2 shift = _mm256_set1_epi16(128);
    for (int r = 0; r < 8; ++r) {
        const V2 *row = reinterpret_cast<const V2 *>(pixels + static_cast<size_t>(r) * rowBytes);
        const V2 a = _mm256_loadu_si256(row), b = _mm256_loadu_si256(row + 1);
        ycA[r] = _mm256_sub_epi16(
            _mm256_permute4x64_epi64(
                _mm256_packs_epi32(_mm256_and_si256(_mm256_srli_epi32(a, 16), mask),
                                   _mm256_and_si256(_mm256_srli_epi32(a, 8), mask)),
                0xD8),
            shift);
        ycB[r] = _mm256_sub_epi16(
            _mm256_permute4x64_epi64(
                _mm256_packs_epi32(_mm256_and_si256(_mm256_srli_epi32(b, 16), mask),
                                   _mm256_and_si256(_mm256_srli_epi32(b, 8), mask)),
                0xD8),
            shift);
        cr[r] = _mm256_sub_epi16(
            _mm256_permute4x64_epi64(
                _mm256_packs_epi32(_mm256_and_si256(a, mask), _mm256_and_si256(b, mask)), 0xD8),
            shift);
    }
    vec::ForwardRows(ycA);
    vec::ForwardRows(ycB);
    vec::ForwardRows(cr);
    for (int i = 0; i < 8; ++i) {
        const V2 lcMul = Join(Load(luma.mul + 8 * i), Load(chroma.mul + 8 * i));
        const V2 lcOne = Join(Load(luma.one + 8 * i), Load(chroma.one + 8 * i));
        const V2 lcHalf = Join(Load(luma.half + 8 * i), Load(chroma.half + 8 * i));
        const V1 cMul = Load(chroma.mul + 8 * i), cOne = Load(chroma.one + 8 * i),
                 cHalf = Load(chroma.half + 8 * i);
        const V2 qa = vec::Quantise(ycA[i], lcMul, lcOne, lcHalf);
        const V2 qb = vec::Quantise(ycB[i], lcMul, lcOne, lcHalf);
        const V2 qc = vec::Quantise(cr[i], Join(cMul, cMul), Join(cOne, cOne), Join(cHalf, cHalf));
        const V2 *const q[3] = {&qa, &qb, &qc};
        int32_t *const dst[6] = {blocks[0], blocks[1], blocks[3], blocks[4], blocks[2], blocks[5]};
        for (int j = 0; j < 3; ++j) {
            _mm256_storeu_si256(reinterpret_cast<V2 *>(dst[2 * j] + 8 * i),
                                _mm256_cvtepi16_epi32(_mm256_castsi256_si128(*q[j])));
            _mm256_storeu_si256(reinterpret_cast<V2 *>(dst[2 * j + 1] + 8 * i),
                                _mm256_cvtepi16_epi32(_mm256_extracti128_si256(*q[j], 1)));
        }
    }
}

}  // namespace plix
