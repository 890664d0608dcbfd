// WebAssembly SIMD-128 colour conversion: four pixels a step from RGB, eight
// to RGB.
#include <wasm_simd128.h>

#include <cstddef>
#include <cstring>

#include "transform/colour.h"
#include "transform/colour_fixed.h"
#include "transform/colour_wasm.h"
#include "transform/kernels_wasm.h"

namespace plix {

namespace {

using namespace colour_fixed;

inline v128_t Byte(v128_t v, int32_t offset) {
    return wasm_i32x4_min(wasm_i32x4_max(wasm_i32x4_add(v, wasm_i32x4_splat(offset)),
                                         wasm_i32x4_splat(0)),
                          wasm_i32x4_splat(255));
}

}  // namespace

void ConvertRgbToYccPixelsWasm(const uint8_t *src, uint8_t *dst, int32_t count) {
    int32_t i = 0;
    for (; i + 4 <= count; i += 4, src += 16, dst += 16) {
        const v128_t p = wasm_v128_load(src);
        // Bytes 0 and 2 of each pixel as 16-bit lanes, then bytes 1 and 3.
        const v128_t br = wasm_v128_and(p, wasm_i16x8_splat(0xFF));
        const v128_t ga = wasm_u16x8_shr(p, 8);
        const v128_t y = Byte(wasm::YccChannel<kYb, kYg, kYr>(br, ga), 0);
        const v128_t cb = Byte(wasm::YccChannel<kCbb, -kCbg, -kCbr>(br, ga), 128);
        const v128_t cr = Byte(wasm::YccChannel<-kCrb, -kCrg, kCrr>(br, ga), 128);
        // Byte 3 stays as it came.
        const v128_t out = wasm_v128_or(
            wasm_v128_or(cr, wasm_i32x4_shl(cb, 8)),
            wasm_v128_or(wasm_i32x4_shl(y, 16), wasm_v128_and(p, wasm_i32x4_splat(-16777216))));
        wasm_v128_store(dst, out);
    }
    if (i < count) ConvertRgbToYccPixels(src, dst, count - i);
}

void ConvertYccToRgbWasm(uint8_t *pixels, int32_t paddedWidth, int32_t width, int32_t height,
                         const YccToRgbTables &) {
    const v128_t centre = wasm_i16x8_splat(128);
    // Eight pixels in place.
    const auto step = [&](uint8_t *p) {
        const v128_t a = wasm_v128_load(p), b = wasm_v128_load(p + 16);
        const v128_t crCb = wasm_i8x16_shuffle(a, b, 0, 4, 8, 12, 16, 20, 24, 28, 1, 5, 9, 13, 17,
                                               21, 25, 29);
        const v128_t lum = wasm_i8x16_shuffle(a, b, 2, 6, 10, 14, 18, 22, 26, 30, 2, 6, 10, 14,
                                              18, 22, 26, 30);
        const v128_t cr = wasm_i16x8_sub(wasm_u16x8_extend_low_u8x16(crCb), centre);
        const v128_t cb = wasm_i16x8_sub(wasm_u16x8_extend_high_u8x16(crCb), centre);
        wasm::StoreRgb8(p, wasm_u16x8_extend_low_u8x16(lum), wasm::Offsets8(cb, cr));
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
