// YCbCr to RGB on 16-bit NEON lanes, computed rather than looked up, for the
// colour kernel and the inverse transform that converts on the way.
#pragma once

#include <arm_neon.h>

#include "transform/colour_fixed.h"

namespace plix::neon {

// colour_fixed::Offset of eight pixels from Cb - 128 and Cr - 128 (16-bit
// lanes, -128..127).
inline int16x8_t Offset8(int16x8_t cb, int16x8_t cr, const colour_fixed::OffsetWeights &w) {
    const int32x4_t k = vdupq_n_s32(w.k);
    int32x4_t lo = vmlaq_n_s32(vmlaq_n_s32(k, vmovl_s16(vget_low_s16(cr)), w.cr),
                               vmovl_s16(vget_low_s16(cb)), w.cb);
    int32x4_t hi = vmlaq_n_s32(vmlaq_n_s32(k, vmovl_high_s16(cr), w.cr), vmovl_high_s16(cb), w.cb);
    // Toward zero: a negative sum gets 2^shift - 1 added before the arithmetic
    // shift (|t| < 2^29, so nothing overflows).
    constexpr int kShift = colour_fixed::kOffsetShift;
    const auto bias = [](int32x4_t t) {
        return vreinterpretq_s32_u32(vsraq_n_u32(vreinterpretq_u32_s32(t),
                                                 vreinterpretq_u32_s32(vshrq_n_s32(t, 31)),
                                                 32 - kShift));
    };
    lo = bias(lo);
    hi = bias(hi);
    // The high halves are the sums >> 16; the rest of the shift in 16 bits.
    static_assert(kShift >= 16 && kShift < 32);
    return vshrq_n_s16(vuzp2q_s16(vreinterpretq_s16_s32(lo), vreinterpretq_s16_s32(hi)),
                       kShift - 16);
}

// The three offsets, in pixel byte order.
struct Offsets {
    int16x8_t blue, green, red;
};

inline Offsets Offsets8(int16x8_t cb, int16x8_t cr) {
    return {Offset8(cb, cr, colour_fixed::kBlueOffset), Offset8(cb, cr, colour_fixed::kGreenOffset),
            Offset8(cb, cr, colour_fixed::kRedOffset)};
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
