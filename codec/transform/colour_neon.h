// YCbCr to RGB on 16-bit NEON lanes, computed rather than looked up, for the
// colour kernel and the inverse transform that converts on the way.
#pragma once

#include <arm_neon.h>

#include "transform/colour_fixed.h"

namespace plix::neon {

// The Cr and Cb weights of blue, green and red as vector lanes, loaded once
// before a loop so that it does not build them from immediates each time.
struct Weights {
    int32x4_t blueGreen;  // blue Cr, blue Cb, green Cr, green Cb
    int32x4_t red;        // red Cr, red Cb
};

inline Weights LoadWeights() {
    using namespace colour_fixed;
    alignas(16) static constexpr int32_t kBlueGreen[4] = {kBlueOffset.cr, kBlueOffset.cb,
                                                          kGreenOffset.cr, kGreenOffset.cb};
    alignas(16) static constexpr int32_t kRed[4] = {kRedOffset.cr, kRedOffset.cb, 0, 0};
    return {vld1q_s32(kBlueGreen), vld1q_s32(kRed)};
}

// t = Cr weight * (Cr - 128) + Cb weight * (Cb - 128) + k of four pixels, the
// weights in lanes L and L + 1 of w, plus 2^shift - 1 where t < 0: the
// arithmetic shift of that rounds t toward zero (|t| < 2^29, so nothing
// overflows).
template <int L>
inline int32x4_t BiasedSum(int32x4_t cb, int32x4_t cr, int32x4_t w) {
    using namespace colour_fixed;
    static_assert(kBlueOffset.k == kGreenOffset.k && kGreenOffset.k == kRedOffset.k);
    const int32x4_t t =
        vmlaq_laneq_s32(vmlaq_laneq_s32(vdupq_n_s32(kRedOffset.k), cr, w, L), cb, w, L + 1);
    return vreinterpretq_s32_u32(vsraq_n_u32(
        vreinterpretq_u32_s32(t), vreinterpretq_u32_s32(vshrq_n_s32(t, 31)), 32 - kOffsetShift));
}

// Eight biased sums shifted: their high halves are the sums >> 16, the rest
// of the shift is done in 16 bits.
inline int16x8_t Shift(int32x4_t lo, int32x4_t hi) {
    constexpr int kShift = colour_fixed::kOffsetShift;
    static_assert(kShift >= 16 && kShift < 32);
    return vshrq_n_s16(vuzp2q_s16(vreinterpretq_s16_s32(lo), vreinterpretq_s16_s32(hi)),
                       kShift - 16);
}

// The three offsets of colour_fixed, in pixel byte order.
struct Offsets {
    int16x8_t blue, green, red;
};

// The offsets of eight pixels from Cb - 128 and Cr - 128 (16-bit lanes,
// -128..127).
inline Offsets Offsets8(int16x8_t cb, int16x8_t cr, const Weights &w) {
    const int32x4_t cbLo = vmovl_s16(vget_low_s16(cb)), cbHi = vmovl_high_s16(cb);
    const int32x4_t crLo = vmovl_s16(vget_low_s16(cr)), crHi = vmovl_high_s16(cr);
    return {Shift(BiasedSum<0>(cbLo, crLo, w.blueGreen), BiasedSum<0>(cbHi, crHi, w.blueGreen)),
            Shift(BiasedSum<2>(cbLo, crLo, w.blueGreen), BiasedSum<2>(cbHi, crHi, w.blueGreen)),
            Shift(BiasedSum<0>(cbLo, crLo, w.red), BiasedSum<0>(cbHi, crHi, w.red))};
}

// Offsets the same for every pixel, from one Cb and Cr sample (0..255).
inline Offsets ConstantOffsets(int32_t cb, int32_t cr) {
    using colour_fixed::Offset;
    return {vdupq_n_s16(static_cast<int16_t>(Offset(colour_fixed::kBlueOffset, cb, cr))),
            vdupq_n_s16(static_cast<int16_t>(Offset(colour_fixed::kGreenOffset, cb, cr))),
            vdupq_n_s16(static_cast<int16_t>(Offset(colour_fixed::kRedOffset, cb, cr)))};
}

// Eight pixels: Y (0..255) plus each offset, limited to 0..255; byte 3 zero,
// as the plain conversion leaves it. Every sum fits 16 bits (|offset| < 256).
inline uint8x8x4_t Pixels8(int16x8_t y, const Offsets &o) {
    uint8x8x4_t p;
    p.val[0] = vqmovun_s16(vaddq_s16(y, o.blue));
    p.val[1] = vqmovun_s16(vaddq_s16(y, o.green));
    p.val[2] = vqmovun_s16(vaddq_s16(y, o.red));
    p.val[3] = vdup_n_u8(0);
    return p;
}

}  // namespace plix::neon
