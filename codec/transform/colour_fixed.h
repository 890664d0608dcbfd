// The RGB to YCbCr weights as exact fixed-point integers, shared by the
// vector colour kernels.
#pragma once

#include <cstdint>

namespace plix::colour_fixed {

// Each single-precision constant is an integer multiple of 2^-27 (all lie in
// [2^-4, 1)), and so is every product with a byte and every sum of three such
// products, well inside double precision. The double-precision formulas
// therefore compute exactly S / 2^27 with the integer
// S = sum of (constant * 2^27) * sample, and truncating is S >> 27 wherever
// the result is not negative; below zero both clamp to 0.
constexpr int32_t Fixed(float f) {
    return static_cast<int32_t>(static_cast<double>(f) * 134217728.0);
}

#define PLIX_FIXED(name, f)                   \
    inline constexpr int32_t name = Fixed(f); \
    static_assert(static_cast<double>(name) == static_cast<double>(f) * 134217728.0, #name)
PLIX_FIXED(kYb, 0.114f);
PLIX_FIXED(kYg, 0.587f);
PLIX_FIXED(kYr, 0.299f);
PLIX_FIXED(kCbb, 0.4997f);
PLIX_FIXED(kCbg, 0.3311f);
PLIX_FIXED(kCbr, 0.1686f);
PLIX_FIXED(kCrr, 0.4998f);
PLIX_FIXED(kCrg, 0.4185f);
PLIX_FIXED(kCrb, 0.0813f);
#undef PLIX_FIXED

// S does not fit 32 bits, so each multiplier c is split as hi * 2^14 + lo with
// 0 <= lo < 2^14; then S >> 27 == (sum(hi * x) + (sum(lo * x) >> 14)) >> 13,
// and both sums fit 32 bits with 16-bit multipliers.
constexpr int16_t Hi(int32_t c) {
    return static_cast<int16_t>(c >> 14);
}
constexpr int16_t Lo(int32_t c) {
    return static_cast<int16_t>(c & 16383);
}

}  // namespace plix::colour_fixed

namespace plix::colour_fixed {

// The way back: the table offsets red, green and blue (colour.cpp) as integer
// arithmetic, so that vector kernels need no table lookups. With c = Cb - 128
// and r = Cr - 128, each offset is t = a * r + b * c + k truncated toward zero
// after dividing by 2^21: (|t| >> 21) with the sign of t. The constants were
// found by intersecting, over all 65536 (Cb, Cr), the ranges of k that give
// each table entry; every one is checked against the tables in the tests.
// |t| stays below 2^29.
inline constexpr int kOffsetShift = 21;
struct OffsetWeights {
    int32_t cr, cb, k;
};
inline constexpr OffsetWeights kRedOffset = {2941426, 125, 1048576};
inline constexpr OffsetWeights kGreenOffset = {-1498222, -722193, 1048576};
inline constexpr OffsetWeights kBlueOffset = {-273, 3718341, 1048576};

constexpr int32_t Offset(const OffsetWeights &w, int32_t cb, int32_t cr) {
    const int32_t t = w.cr * (cr - 128) + w.cb * (cb - 128) + w.k;
    const int32_t m = (t < 0 ? -t : t) >> kOffsetShift;
    return t < 0 ? -m : m;
}

}  // namespace plix::colour_fixed
