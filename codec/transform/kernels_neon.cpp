// The NEON kernel set, installed over the plain one on 64-bit ARM: every
// entry it makes faster, by name.
#include <arm_neon.h>

#include "kernel_table.h"
#include "transform/kernels.h"
#include "transform/kernels_neon.h"
#include "transform/pixel_order.h"

namespace plix {

namespace {

// Sixteen pixels a step: the structure loads and stores take the bytes
// apart into planes and put them back together in the other layout.
void PackPixels3Neon(const uint8_t *strip, uint8_t *out, size_t count, bool rgb) {
    size_t x = 0;
    for (; x + 16 <= count; x += 16) {
        const uint8x16x4_t p = vld4q_u8(strip + 4 * x);
        const uint8x16x3_t o = rgb ? uint8x16x3_t{{p.val[2], p.val[1], p.val[0]}}
                                   : uint8x16x3_t{{p.val[0], p.val[1], p.val[2]}};
        vst3q_u8(out + 3 * x, o);
    }
    PackPixels3(strip + 4 * x, out + 3 * x, count - x, rgb);
}

void UnpackPixels3Neon(const uint8_t *in, uint8_t *strip, size_t count, bool rgb) {
    size_t x = 0;
    for (; x + 16 <= count; x += 16) {
        const uint8x16x3_t p = vld3q_u8(in + 3 * x);
        const uint8x16x4_t o = rgb ? uint8x16x4_t{{p.val[2], p.val[1], p.val[0], vdupq_n_u8(0)}}
                                   : uint8x16x4_t{{p.val[0], p.val[1], p.val[2], vdupq_n_u8(0)}};
        vst4q_u8(strip + 4 * x, o);
    }
    UnpackPixels3(in + 3 * x, strip + 4 * x, count - x, rgb);
}

}  // namespace

void InstallNeonKernels(Dsp &dsp) {
    InstallNeonBlockKernels(dsp);
    dsp.rgbToYcc = ConvertRgbToYccPixelsNeon;
    dsp.yccToRgb = ConvertYccToRgbNeon;
    dsp.packPixels3 = PackPixels3Neon;
    dsp.unpackPixels3 = UnpackPixels3Neon;
}

}  // namespace plix
