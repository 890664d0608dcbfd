#include "transform/fdct.h"

namespace plix {

namespace {

// 4096 * sqrt(2) * cos(k * pi / 16), rounded; entries 0 and 4 are not used.
constexpr int32_t C[8] = {0, 5681, 5352, 4816, 0, 3218, 2217, 1130};

// One 8-point transform over p[0], p[step], ... p[7 * step], in place. With
// inputs from the passes' ranges every intermediate fits in 32 bits.
template <int32_t R, int S>
void Kernel(int32_t *p, int step) {
    const int32_t x0 = p[0 * step], x1 = p[1 * step], x2 = p[2 * step], x3 = p[3 * step];
    const int32_t x4 = p[4 * step], x5 = p[5 * step], x6 = p[6 * step], x7 = p[7 * step];

    const int32_t s07 = x0 + x7, d07 = x0 - x7;
    const int32_t s16 = x1 + x6, d16 = x1 - x6;
    const int32_t s25 = x2 + x5, d25 = x2 - x5;
    const int32_t s34 = x3 + x4, d34 = x3 - x4;

    const int32_t e0 = s07 + s34, e3 = s07 - s34;
    const int32_t e1 = s16 + s25, e2 = s16 - s25;

    p[0 * step] = ((e0 + e1) * 4096 + R) >> S;
    p[4 * step] = ((e0 - e1) * 4096 + R) >> S;
    p[2 * step] = (e3 * C[2] + e2 * C[6] + R) >> S;
    p[6 * step] = (e3 * C[6] - e2 * C[2] + R) >> S;

    p[1 * step] = (d07 * C[1] + d16 * C[3] + d25 * C[5] + d34 * C[7] + R) >> S;
    p[3 * step] = (d07 * C[3] - d16 * C[7] - d25 * C[1] - d34 * C[5] + R) >> S;
    p[5 * step] = (d07 * C[5] - d16 * C[1] + d25 * C[7] + d34 * C[3] + R) >> S;
    p[7 * step] = (d07 * C[7] - d16 * C[5] + d25 * C[3] - d34 * C[1] + R) >> S;
}

}  // namespace

void ForwardDct(int32_t block[64]) {
    // All columns first, then all rows; the rounding terms belong to the
    // format, so the coefficients match other encoders to the last bit.
    for (int c = 0; c < 8; ++c) Kernel<256, 9>(block + c, 8);
    for (int r = 0; r < 8; ++r) Kernel<524288, 20>(block + r * 8, 1);
}

void QuantiseBlock(int32_t block[64], const int32_t table[64]) {
    for (int k = 0; k < 64; ++k) {
        const int32_t q = table[k];
        const int32_t h = q >> 1;
        const int32_t c = block[k];
        block[k] = c >= 0 ? (c + h) / q : -((-c + h) / q);
    }
}

void PrepareQuantDivisors(const int32_t table[64], QuantDivisors &out) {
    for (int k = 0; k < 64; ++k) {
        const int32_t q = table[k];
        const int32_t recip = (65536 + q - 1) / q;
        out.mul[k] = static_cast<uint16_t>(recip & 0xFFFF);
        out.one[k] = recip >= 65536 ? 0xFFFF : 0;
        out.half[k] = static_cast<uint16_t>(q >> 1);
        out.table[k] = q;
    }
    for (int k = 0; k < 64; ++k) {
        const int natural = (k % 8) * 8 + k / 8;
        out.mulByColumn[k] = out.mul[natural];
        out.oneByColumn[k] = out.one[natural];
        out.halfByColumn[k] = out.half[natural];
    }
}

void ForwardDctQuantise(int32_t block[64], const QuantDivisors &div) {
    ForwardDct(block);
    QuantiseBlock(block, div.table);
}

}  // namespace plix
