// YCbCr to RGB on WebAssembly SIMD-128 lanes, computed rather than looked
// up, for the colour kernel and the inverse transform that converts on the
// way (the arithmetic of colour_fixed.h).
#pragma once

#include <wasm_simd128.h>

#include <cstdint>

#include "transform/colour_fixed.h"

namespace plix::wasm {

// RGB to YCbCr: one channel of four pixels, S >> 27 of colour_fixed.h, not
// yet offset or limited. br holds bytes 0 and 2 of each pixel (blue and red)
// as pairs of 16-bit lanes, ga bytes 1 and 3 (green and the fourth), so that
// each dot product sums two of the split multipliers' products exactly (the
// fourth byte's weight is 0).
template <int32_t cb, int32_t cg, int32_t cr>
inline v128_t YccChannel(v128_t br, v128_t ga) {
    using colour_fixed::Hi;
    using colour_fixed::Lo;
    const v128_t hi = wasm_i32x4_add(
        wasm_i32x4_dot_i16x8(br, wasm_i16x8_make(Hi(cb), Hi(cr), Hi(cb), Hi(cr), Hi(cb), Hi(cr),
                                                 Hi(cb), Hi(cr))),
        wasm_i32x4_dot_i16x8(ga, wasm_i16x8_make(Hi(cg), 0, Hi(cg), 0, Hi(cg), 0, Hi(cg), 0)));
    const v128_t lo = wasm_i32x4_add(
        wasm_i32x4_dot_i16x8(br, wasm_i16x8_make(Lo(cb), Lo(cr), Lo(cb), Lo(cr), Lo(cb), Lo(cr),
                                                 Lo(cb), Lo(cr))),
        wasm_i32x4_dot_i16x8(ga, wasm_i16x8_make(Lo(cg), 0, Lo(cg), 0, Lo(cg), 0, Lo(cg), 0)));
    return wasm_i32x4_shr(wasm_i32x4_add(hi, wasm_i32x4_shr(lo, 14)), 13);
}

// One offset of four pixels from Cb - 128 and Cr - 128 in 32-bit lanes:
// t = Cr weight * cr + Cb weight * cb + k, plus 2^shift - 1 where t < 0 so
// that the arithmetic shift rounds toward zero (|t| < 2^29: no overflow).
inline v128_t Offset4(v128_t cb, v128_t cr, const colour_fixed::OffsetWeights &w) {
    constexpr int kShift = colour_fixed::kOffsetShift;
    const v128_t t = wasm_i32x4_add(wasm_i32x4_add(wasm_i32x4_mul(cr, wasm_i32x4_splat(w.cr)),
                                                   wasm_i32x4_mul(cb, wasm_i32x4_splat(w.cb))),
                                    wasm_i32x4_splat(w.k));
    const v128_t bias = wasm_u32x4_shr(wasm_i32x4_shr(t, 31), 32 - kShift);
    return wasm_i32x4_shr(wasm_i32x4_add(t, bias), kShift);
}

// The three offsets of eight pixels as 16-bit lanes, in pixel byte order.
struct Offsets {
    v128_t blue, green, red;
};

// From Cb - 128 and Cr - 128 in 16-bit lanes (-128..127).
inline Offsets Offsets8(v128_t cb, v128_t cr) {
    using namespace colour_fixed;
    const v128_t cbLo = wasm_i32x4_extend_low_i16x8(cb), cbHi = wasm_i32x4_extend_high_i16x8(cb);
    const v128_t crLo = wasm_i32x4_extend_low_i16x8(cr), crHi = wasm_i32x4_extend_high_i16x8(cr);
    auto eight = [&](const OffsetWeights &w) {
        return wasm_i16x8_narrow_i32x4(Offset4(cbLo, crLo, w), Offset4(cbHi, crHi, w));
    };
    return {eight(kBlueOffset), eight(kGreenOffset), eight(kRedOffset)};
}

// Offsets the same for every pixel, from one Cb and Cr sample (0..255).
inline Offsets ConstantOffsets(int32_t cb, int32_t cr) {
    using colour_fixed::Offset;
    return {wasm_i16x8_splat(static_cast<int16_t>(Offset(colour_fixed::kBlueOffset, cb, cr))),
            wasm_i16x8_splat(static_cast<int16_t>(Offset(colour_fixed::kGreenOffset, cb, cr))),
            wasm_i16x8_splat(static_cast<int16_t>(Offset(colour_fixed::kRedOffset, cb, cr)))};
}

// Three rows of eight bytes (16-bit lanes 0..255) into eight pixels of bytes
// b0, b1, b2, b3 at p (32 bytes).
inline void StoreInterleaved(uint8_t *p, v128_t b0, v128_t b1, v128_t b2, v128_t b3) {
    const v128_t lo = wasm_u8x16_narrow_i16x8(b0, b1);  // bytes 0 | bytes 1
    const v128_t hi = wasm_u8x16_narrow_i16x8(b2, b3);  // bytes 2 | bytes 3
    wasm_v128_store(p, wasm_i8x16_shuffle(lo, hi, 0, 8, 16, 24, 1, 9, 17, 25, 2, 10, 18, 26, 3, 11,
                                          19, 27));
    wasm_v128_store(p + 16, wasm_i8x16_shuffle(lo, hi, 4, 12, 20, 28, 5, 13, 21, 29, 6, 14, 22, 30,
                                               7, 15, 23, 31));
}

// Eight pixels: Y (16-bit lanes 0..255) plus each offset, limited to 0..255
// by the narrowing; byte 3 zero, as the plain conversion leaves it. Every sum
// fits 16 bits (|offset| < 256).
inline void StoreRgb8(uint8_t *p, v128_t y, const Offsets &o) {
    StoreInterleaved(p, wasm_i16x8_add(y, o.blue), wasm_i16x8_add(y, o.green),
                     wasm_i16x8_add(y, o.red), wasm_i16x8_splat(0));
}

}  // namespace plix::wasm
