// NEON colour conversion: eight pixels a step forward, four backward.
#include <arm_neon.h>

#include <cstddef>

#include "transform/colour.h"
#include "transform/colour_fixed.h"
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

// Pixel byte 2 (Y) of pixels 0 and 1, then 2 and 3, spread over their four
// 16-bit lanes; indices past the vector give 0.
constexpr uint8_t kLum01[16] = {2, 255, 2, 255, 2, 255, 2, 255, 6, 255, 6, 255, 6, 255, 6, 255};
constexpr uint8_t kLum23[16] = {10, 255, 10, 255, 10, 255, 10, 255,
                                14, 255, 14, 255, 14, 255, 14, 255};

inline int16x4_t Entry(const YccToRgbTables &t, const uint8_t *p) {
    return vld1_s16(t.packed[static_cast<size_t>(p[1]) * 256 + p[0]]);
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
                         const YccToRgbTables &tables) {
    const uint8x16_t lum01 = vld1q_u8(kLum01), lum23 = vld1q_u8(kLum23);
    for (int32_t y = 0; y < height; ++y) {
        uint8_t *p = pixels + static_cast<size_t>(y) * static_cast<size_t>(paddedWidth) * 4;
        int32_t x = 0;
        for (; x + 4 <= width; x += 4, p += 16) {
            // Each table entry is (blue, green, red, -256) as 16-bit lanes:
            // Y added and saturated to bytes gives the pixel, byte 3 zero.
            const int16x8_t t01 = vcombine_s16(Entry(tables, p), Entry(tables, p + 4));
            const int16x8_t t23 = vcombine_s16(Entry(tables, p + 8), Entry(tables, p + 12));
            const uint8x16_t px = vld1q_u8(p);
            const int16x8_t y01 = vreinterpretq_s16_u8(vqtbl1q_u8(px, lum01));
            const int16x8_t y23 = vreinterpretq_s16_u8(vqtbl1q_u8(px, lum23));
            vst1q_u8(
                p, vcombine_u8(vqmovun_s16(vaddq_s16(y01, t01)), vqmovun_s16(vaddq_s16(y23, t23))));
        }
        if (x < width) ConvertYccToRgb(p, 0, width - x, 1, tables);
    }
}

}  // namespace plix
