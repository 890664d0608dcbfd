// What the vector block transforms share, whatever the lane type: the cosine
// multipliers, the first butterfly stages of the forward 8-point transform and
// the order of the inverse passes.
#pragma once

#include <cstdint>

namespace plix::dct_lanes {

// 4096 * sqrt(2) * cos(k * pi / 16), rounded.
inline constexpr int16_t kC1 = 5681, kC2 = 5352, kC3 = 4816, kC5 = 3218, kC6 = 2217, kC7 = 1130;

// The differences x[k] - x[7 - k] feed the odd outputs; e0..e3 are the sums
// and differences of the pair sums that feed the even ones.
template <class V>
struct ForwardSplit {
    V d07, d16, d25, d34;
    V e0, e1, e2, e3;
};

// add and sub are the lane-wise 16-bit sum and difference.
template <class V, class Add, class Sub>
inline ForwardSplit<V> SplitForward(const V x[8], Add add, Sub sub) {
    const V s07 = add(x[0], x[7]), s16 = add(x[1], x[6]);
    const V s25 = add(x[2], x[5]), s34 = add(x[3], x[4]);
    return {sub(x[0], x[7]), sub(x[1], x[6]), sub(x[2], x[5]), sub(x[3], x[4]),
            add(s07, s34),   add(s16, s25),   sub(s16, s25),   sub(s07, s34)};
}

// Rows of coefficients in, rows of samples 0..255 out: kernel(x, y) is one
// inverse 8-point transform of each lane, first and last limit the results of
// the first and second pass, transpose turns rows into columns.
template <class V, class Kernel, class First, class Last, class Transpose>
inline void InverseRowsWith(V r[8], Kernel kernel, First first, Last last, Transpose transpose) {
    V y[8];
    kernel(r, y);
    for (int i = 0; i < 8; ++i) r[i] = first(y[i]);
    transpose(r);
    kernel(r, y);
    for (int i = 0; i < 8; ++i) r[i] = last(y[i]);
    transpose(r);
}

}  // namespace plix::dct_lanes
