// NEON colour conversion: eight pixels a step in both directions.
#include <arm_neon.h>

#include <cstddef>
#include <cstring>

#include "transform/colour.h"
#include "transform/colour_fixed.h"
#include "transform/colour_neon.h"
#include "transform/kernels_neon.h"

namespace plix {

namespace {

using namespace colour_fixed;

template <int32_t cb, int32_t cg, int32_t cr>
inline int32x4_t Channel(int16x4_t b, int16x4_t g, int16x4_t r) {
    int32x4_t hi = vmull_n_s16(b, Hi(cb));
    hi = vmlal_n_s16(hi, g, Hi(cg));
    hi = vmlal_n_s16(hi, r, Hi(cr));
    int32x4_t lo = vmull_n_s16(b, Lo(cb));
    lo = vmlal_n_s16(lo, g, Lo(cg));
    lo = vmlal_n_s16(lo, r, Lo(cr));
    return vshrq_n_s32(vaddq_s32(hi, vshrq_n_s32(lo, 14)), 13);
}

// Two groups of four values plus an offset, clamped to bytes.
inline uint8x8_t Bytes(int32x4_t lo, int32x4_t hi, int32_t offset) {
    const int32x4_t o = vdupq_n_s32(offset);
    return vqmovn_u16(vcombine_u16(vqmovun_s32(vaddq_s32(lo, o)), vqmovun_s32(vaddq_s32(hi, o))));
}

}  // namespace

void ConvertRgbToYccPixelsNeon(const uint8_t *src, uint8_t *dst, int32_t count) {
    int32_t i = 0;
    for (; i + 8 <= count; i += 8, src += 32, dst += 32) {
        uint8x8x4_t p = vld4_u8(src);
        const int16x8_t b = vreinterpretq_s16_u16(vmovl_u8(p.val[0]));
        const int16x8_t g = vreinterpretq_s16_u16(vmovl_u8(p.val[1]));
        const int16x8_t r = vreinterpretq_s16_u16(vmovl_u8(p.val[2]));
        const int16x4_t bl = vget_low_s16(b), gl = vget_low_s16(g), rl = vget_low_s16(r);
        const int16x4_t bh = vget_high_s16(b), gh = vget_high_s16(g), rh = vget_high_s16(r);
        const uint8x8_t y =
            Bytes(Channel<kYb, kYg, kYr>(bl, gl, rl), Channel<kYb, kYg, kYr>(bh, gh, rh), 0);
        const uint8x8_t cb = Bytes(Channel<kCbb, -kCbg, -kCbr>(bl, gl, rl),
                                   Channel<kCbb, -kCbg, -kCbr>(bh, gh, rh), 128);
        const uint8x8_t cr = Bytes(Channel<-kCrb, -kCrg, kCrr>(bl, gl, rl),
                                   Channel<-kCrb, -kCrg, kCrr>(bh, gh, rh), 128);
        p.val[0] = cr;
        p.val[1] = cb;
        p.val[2] = y;  // byte 3 stays as it came
        vst4_u8(dst, p);
    }
    if (i < count) ConvertRgbToYccPixels(src, dst, count - i);
}

void ConvertYccToRgbNeon(uint8_t *pixels, int32_t paddedWidth, int32_t width, int32_t height,
                         const YccToRgbTables &) {
    const uint8x8_t centre = vdup_n_u8(128);
    const neon::Weights weights = neon::LoadWeights();
    // Eight pixels in place.
    const auto step = [&](uint8_t *p) {
        const uint8x8x4_t px = vld4_u8(p);
        // Byte minus 128 wraps to the signed value in 16 bits.
        const int16x8_t cr = vreinterpretq_s16_u16(vsubl_u8(px.val[0], centre));
        const int16x8_t cb = vreinterpretq_s16_u16(vsubl_u8(px.val[1], centre));
        const int16x8_t lum = vreinterpretq_s16_u16(vmovl_u8(px.val[2]));
        vst4_u8(p, neon::Pixels8(lum, neon::Offsets8(cb, cr, weights)));
    };
    for (int32_t y = 0; y < height; ++y) {
        uint8_t *p = pixels + static_cast<size_t>(y) * static_cast<size_t>(paddedWidth) * 4;
        int32_t x = 0;
        for (; x + 8 <= width; x += 8, p += 32) step(p);
        if (x < width) {
            // The last few through a copy, so nothing past the image area is
            // read or written.
            uint8_t last[32] = {};
            const size_t bytes = static_cast<size_t>(width - x) * 4;
            std::memcpy(last, p, bytes);
            step(last);
            std::memcpy(p, last, bytes);
        }
    }
}

}  // namespace plix
