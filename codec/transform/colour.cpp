#include "transform/colour.h"

#include <cstddef>

namespace plix {

namespace {

// The format's constants are single-precision values; every product and sum
// below is taken in double precision after widening them.
constexpr double W(float f) {
    return static_cast<double>(f);
}

constexpr double kYb = W(0.114f), kYg = W(0.587f), kYr = W(0.299f);
constexpr double kCbb = W(0.4997f), kCbg = W(0.3311f), kCbr = W(0.1686f);
constexpr double kCrr = W(0.4998f), kCrg = W(0.4185f), kCrb = W(0.0813f);

constexpr double kRedCr = W(1.40258121f), kRedCb = W(5.97349099e-05f);
constexpr double kGreenCr = W(0.714407086f), kGreenCb = W(0.344369203f);
constexpr double kBlueCb = W(1.77304268f), kBlueCr = W(0.000130061118f);

// Truncation toward zero; the arguments here all lie well inside int32.
inline int32_t Trunc(double v) {
    return static_cast<int32_t>(v);
}

inline uint8_t ClampByte(int32_t v) {
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

void BuildTables(YccToRgbTables &t) {
    for (int32_t cb = -128; cb < 128; ++cb) {
        for (int32_t cr = -128; cr < 128; ++cr) {
            const size_t i = static_cast<size_t>((cb + 128) * 256 + (cr + 128));
            // The 0.5 is added before truncation toward zero, so a negative
            // sum moves toward zero rather than to the nearest integer.
            t.red[i] = Trunc(kRedCr * cr + kRedCb * cb + 0.5);
            t.green[i] = Trunc(0.5 - kGreenCr * cr - kGreenCb * cb);
            t.blue[i] = Trunc(kBlueCb * cb - kBlueCr * cr + 0.5);
            t.packed[i][0] = static_cast<int16_t>(t.blue[i]);
            t.packed[i][1] = static_cast<int16_t>(t.green[i]);
            t.packed[i][2] = static_cast<int16_t>(t.red[i]);
            t.packed[i][3] = -256;
        }
    }
}

}  // namespace

const YccToRgbTables &GetYccToRgbTables() {
    // Static storage rather than the heap: programs unload the library, and
    // memory obtained here would be lost with every unload.
    static YccToRgbTables tables;
    static const bool built = (BuildTables(tables), true);
    (void)built;
    return tables;
}

void RgbToYcc(uint8_t b, uint8_t g, uint8_t r, uint8_t out[3]) {
    const double B = b, G = g, R = r;
    const int32_t y = Trunc((kYb * B + kYg * G) + kYr * R);
    const int32_t cb = Trunc((kCbb * B - (kCbg * G + kCbr * R)) + 128.0);
    const int32_t cr = Trunc(((kCrr * R - kCrg * G) - kCrb * B) + 128.0);
    out[0] = ClampByte(cr);
    out[1] = ClampByte(cb);
    out[2] = ClampByte(y);
}

void ConvertRgbToYccPixels(const uint8_t *src, uint8_t *dst, int32_t count) {
    for (int32_t i = 0; i < count; ++i, src += 4, dst += 4) {
        uint8_t ycc[3];
        RgbToYcc(src[0], src[1], src[2], ycc);
        dst[0] = ycc[0];
        dst[1] = ycc[1];
        dst[2] = ycc[2];
        dst[3] = src[3];
    }
}

void ConvertYccToRgb(uint8_t *pixels, int32_t paddedWidth, int32_t width, int32_t height,
                     const YccToRgbTables &tables) {
    for (int32_t y = 0; y < height; ++y) {
        uint8_t *p = pixels + static_cast<size_t>(y) * static_cast<size_t>(paddedWidth) * 4;
        for (int32_t x = 0; x < width; ++x, p += 4) {
            const size_t i = static_cast<size_t>(p[1]) * 256 + p[0];
            const int32_t lum = p[2];
            const uint8_t r = ClampByte(lum + tables.red[i]);
            const uint8_t g = ClampByte(lum + tables.green[i]);
            const uint8_t b = ClampByte(lum + tables.blue[i]);
            p[3] = 0;
            p[2] = r;
            p[1] = g;
            p[0] = b;
        }
    }
}

}  // namespace plix
