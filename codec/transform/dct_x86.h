// The block transforms on 16-bit lanes, for either vector width of
// vec_x86.h. x[k] holds input k of eight lines (per 128-bit half); the lines
// are the columns of a block in the vertical pass and its rows, after a
// transpose, in the horizontal one.
#pragma once

#include "transform/dct_lanes.h"
#include "transform/vec_x86.h"

namespace plix::vec {
namespace {

// ---- Forward ----

using namespace dct_lanes;

// a * ca + b * cb for lanes interleaved as (a, b) pairs, rounded and shifted.
// The rounding term starts each sum, so that sets with a multiply-accumulate
// take one instruction per product pair.
template <class V, int32_t R, int S>
inline V Rotate(V lo, V hi, V c) {
    const V round = Splat32<V>(R);
    return Packs32(Sra32<S>(MaddAdd(round, lo, c)), Sra32<S>(MaddAdd(round, hi, c)));
}

// d07 * c0 + d16 * c1 + d25 * c2 + d34 * c3 from the pairs (d07, d16) in a
// and (d25, d34) in b.
template <class V, int32_t R, int S>
inline V OddSum(const V a[2], const V b[2], V ca, V cb) {
    const V round = Splat32<V>(R);
    return Packs32(Sra32<S>(MaddAdd(MaddAdd(round, a[0], ca), b[0], cb)),
                   Sra32<S>(MaddAdd(MaddAdd(round, a[1], ca), b[1], cb)));
}

// One forward 8-point transform of each line; the products are summed
// exactly in 32 bits and rounded as in the plain kernel. Value ranges: in the
// first pass inputs are -128..127 and every sum fits 16 bits with room to
// spare; in the second pass inputs lie within -8192..8160, so the pair sums
// stay within +-16384 and the four-term sums within -32768..32640.
template <class V, bool kFirst>
inline void ForwardPass(V x[8]) {
    constexpr int32_t R = kFirst ? 256 : 524288;
    constexpr int S = kFirst ? 9 : 20;

    const auto [d07, d16, d25, d34, e0, e1, e2, e3] = SplitForward(
        x, [](V a, V b) { return Add16(a, b); }, [](V a, V b) { return Sub16(a, b); });

    if constexpr (kFirst) {
        // (e * 4096 + 256) >> 9 is exactly e * 8, which fits 16 bits here.
        x[0] = Sll16<3>(Add16(e0, e1));
        x[4] = Sll16<3>(Sub16(e0, e1));
    } else {
        const V lo = UnpackLo16(e0, e1), hi = UnpackHi16(e0, e1);
        x[0] = Rotate<V, R, S>(lo, hi, Pair<V>(4096, 4096));
        x[4] = Rotate<V, R, S>(lo, hi, Pair<V>(4096, -4096));
    }
    const V lo = UnpackLo16(e3, e2), hi = UnpackHi16(e3, e2);
    x[2] = Rotate<V, R, S>(lo, hi, Pair<V>(kC2, kC6));
    x[6] = Rotate<V, R, S>(lo, hi, Pair<V>(kC6, -kC2));

    const V a[2] = {UnpackLo16(d07, d16), UnpackHi16(d07, d16)};
    const V b[2] = {UnpackLo16(d25, d34), UnpackHi16(d25, d34)};
    x[1] = OddSum<V, R, S>(a, b, Pair<V>(kC1, kC3), Pair<V>(kC5, kC7));
    x[3] = OddSum<V, R, S>(a, b, Pair<V>(kC3, -kC7), Pair<V>(-kC1, -kC5));
    x[5] = OddSum<V, R, S>(a, b, Pair<V>(kC5, -kC1), Pair<V>(kC7, kC3));
    x[7] = OddSum<V, R, S>(a, b, Pair<V>(kC7, -kC5), Pair<V>(kC3, -kC1));
}

// Rows of samples in, rows of coefficients out. With kRaw the samples are
// 0..255, not yet level-shifted: the shift by -128 only lowers each column's
// first-pass X0 by 8 * 8 * 128, and the unshifted sums still fit 16 bits
// (X0 reaches 8 * 2040 = 16320), so it is applied there.
template <class V, bool kRaw = false>
inline void ForwardRows(V r[8]) {
    ForwardPass<V, true>(r);
    if constexpr (kRaw) r[0] = Sub16(r[0], Splat16<V>(8192));
    Transpose8x8(r);
    ForwardPass<V, false>(r);
    Transpose8x8(r);
}

// Rounded division, halves away from zero: |c| + q / 2 is at most 383 and is
// divided through the reciprocal (see QuantDivisors).
template <class V>
inline V Quantise(V c, V mul, V one, V half) {
#if defined(__AVX2__)
    const V n = Add16(Abs16(c), half);
    const V q = Add16(MulHiU16(n, mul), And(n, one));
    return SignFrom16(q, c);  // c == 0 gives 0, as the quotient is then 0 too
#else
    const V sign = Sra16<15>(c);
    const V n = Add16(Sub16(Xor(c, sign), sign), half);
    const V q = Add16(MulHiU16(n, mul), And(n, one));
    return Sub16(Xor(q, sign), sign);
#endif
}

// ---- Inverse ----

// Every product and partial sum of each half fits 16 bits (inputs within
// -257..255 and multipliers of at most 44 keep each half below 31611 in
// magnitude), so they are formed with 16-bit multiplies. Only the sum of the
// two halves can leave 16 bits; saturating it keeps it beyond the limiters'
// thresholds, where the result is the same.
template <class V>
inline V Mul(V x, int16_t k) {
    return MulLo16(x, Splat16<V>(k));
}

// kLow: inputs 4..7 are zero. They only ever enter wrapping sums and
// products, where a zero changes nothing, so leaving them out (which the
// compiler does once they are constant) gives the same results.
template <class V, bool kLow = false>
inline void InverseKernel(const V in[8], V y[8]) {
    const V zero = Xor(in[0], in[0]);
    const V x[8] = {in[0],
                    in[1],
                    in[2],
                    in[3],
                    kLow ? zero : in[4],
                    kLow ? zero : in[5],
                    kLow ? zero : in[6],
                    kLow ? zero : in[7]};
    const V a = Sll16<5>(Add16(x[0], x[4]));
    const V b = Sll16<5>(Sub16(x[0], x[4]));
    const V t = Add16(Mul(x[2], 42), Mul(x[6], 17));
    const V w = Sub16(Mul(x[2], 17), Mul(x[6], 42));
    const V e0 = Add16(a, t), e3 = Sub16(a, t);
    const V e1 = Add16(b, w), e2 = Sub16(b, w);

    V o0, o1, o2, o3;
    if (kLow) {
        o0 = Add16(Mul(x[1], 44), Mul(x[3], 38));
        o1 = Sub16(Mul(x[1], 38), Mul(x[3], 9));
        o2 = Sub16(Mul(x[1], 25), Mul(x[3], 44));
        o3 = Sub16(Mul(x[1], 9), Mul(x[3], 25));
    } else {
        // The odd part as four rotations of three products each instead of
        // sixteen products: the same sums modulo 2^16, and so the same values.
        const V s17 = Add16(x[1], x[7]), s35 = Add16(x[3], x[5]);
        const V m17 = Mul(s17, 9), n17 = Mul(s17, 38), m35 = Mul(s35, 38), n35 = Mul(s35, 9);
        o0 = Add16(Add16(m17, Mul(x[1], 35)), Sub16(m35, Mul(x[5], 13)));  // 44 38 25 9
        o3 = Add16(Sub16(m17, Mul(x[7], 53)), Sub16(m35, Mul(x[3], 63)));  // 9 -25 38 -44
        o1 = Sub16(Sub16(n17, Mul(x[7], 63)), Add16(n35, Mul(x[5], 35)));  // 38 -9 -44 -25
        o2 = Add16(Sub16(n17, Mul(x[1], 13)), Sub16(n35, Mul(x[3], 53)));  // 25 -44 9 38
    }

    y[0] = AddSat16(e0, o0);
    y[7] = SubSat16(e0, o0);
    y[1] = AddSat16(e1, o1);
    y[6] = SubSat16(e1, o1);
    y[2] = AddSat16(e2, o2);
    y[5] = SubSat16(e2, o2);
    y[3] = AddSat16(e3, o3);
    y[4] = SubSat16(e3, o3);
}

// Above 8176: 255; below -8208: -256; otherwise y >> 5. Clamping y at -8209
// first makes the shift give -257 for everything at or below -8193; the
// values below -8208 then move up by one.
template <class V>
inline V LimitFirst(V y) {
    const V v = Sra16<5>(Max16(y, Splat16<V>(-8209)));
    const V below = CmpGt16(Splat16<V>(-8208), y);
    return Min16(Sub16(v, below), Splat16<V>(255));
}

template <class V>
inline V LimitOutput(V y) {
    const V v = Add16(Sra16<6>(y), Splat16<V>(128));
    return Min16(Max16(v, Splat16<V>(0)), Splat16<V>(255));
}

// Rows of coefficients in, rows of samples 0..255 out. lowRows: rows 4..7
// are zero; lowCols: columns 4..7 are, and so they stay through the first
// pass, which works within columns (a zero column gives 0, limited to 0).
template <class V>
inline void InverseRows(V r[8], bool lowRows = false, bool lowCols = false) {
    bool low = lowRows;
    InverseRowsWith(
        r,
        [&](const V x[8], V y[8]) {
            if (low)
                InverseKernel<V, true>(x, y);
            else
                InverseKernel<V>(x, y);
            low = lowCols;
        },
        [](V y) { return LimitFirst(y); }, [](V y) { return LimitOutput(y); },
        [](V x[8]) { Transpose8x8(x); });
}

// ---- The decoder's pair kernels ----

// Coefficients as 16-bit lanes limited to -256..255. Saturating to 16 bits
// first keeps the order, so this is the limit of the 32-bit values.
template <class V>
inline V Limit(V v) {
    return Max16(Min16(v, Splat16<V>(255)), Splat16<V>(-256));
}

#if defined(__AVX2__)
// Whether a and b have no set bit in common.
inline bool NoneCommon(V2 a, V2 b) {
    return _mm256_testz_si256(a, b) != 0;
}
// Lanes 4..7 of each 128-bit part.
template <class V> V RightLanes();
template <> inline V2 RightLanes<V2>() {
    return _mm256_setr_epi64x(0, -1, 0, -1);
}
#endif
#if defined(__AVX512BW__)
inline bool NoneCommon(V4 a, V4 b) {
    return _mm512_test_epi64_mask(a, b) == 0;
}
template <> inline V4 RightLanes<V4>() {
    return _mm512_setr_epi64(0, -1, 0, -1, 0, -1, 0, -1);
}
#endif

#if defined(__AVX2__)
// Rows of blocks side by side, transformed with the shorter passes where
// rows 4..7 of every block are zero, or columns 4..7 (lanes 4..7 of each
// part): common in chroma and at coarse quantisation.
template <class V>
inline void InverseSparse(V r[8]) {
    const V top = Or(Or(r[0], r[1]), Or(r[2], r[3]));
    const V bottom = Or(Or(r[4], r[5]), Or(r[6], r[7]));
    InverseRows(r, NoneCommon(bottom, bottom), NoneCommon(Or(top, bottom), RightLanes<V>()));
}
#endif

// ---- 128-bit block helpers ----

// 64 int32 entries (each within int16) to eight rows of 16-bit lanes.
inline void LoadRows(const int32_t *block, V1 r[8]) {
    const V1 *p = reinterpret_cast<const V1 *>(block);
    for (int i = 0; i < 8; ++i)
        r[i] = _mm_packs_epi32(_mm_loadu_si128(p + 2 * i), _mm_loadu_si128(p + 2 * i + 1));
}

inline void StoreRows(const V1 r[8], int32_t *block) {
    V1 *p = reinterpret_cast<V1 *>(block);
    for (int i = 0; i < 8; ++i) {
        const V1 sign = _mm_srai_epi16(r[i], 15);
        _mm_storeu_si128(p + 2 * i, _mm_unpacklo_epi16(r[i], sign));
        _mm_storeu_si128(p + 2 * i + 1, _mm_unpackhi_epi16(r[i], sign));
    }
}

// True when entries 1..63 are all zero. Such a block (common at coarse
// quantisation) passes both inverse limiters unchanged: with DC d from -256
// to 255 every sample is (d >> 1) + 128.
inline bool OnlyDc(const int32_t *block) {
    const V1 *p = reinterpret_cast<const V1 *>(block);
    V1 ac = _mm_andnot_si128(_mm_cvtsi32_si128(-1), _mm_loadu_si128(p));
    for (int i = 1; i < 16; ++i) ac = _mm_or_si128(ac, _mm_loadu_si128(p + i));
    return _mm_movemask_epi8(_mm_cmpeq_epi32(ac, _mm_setzero_si128())) == 0xFFFF;
}

inline int16_t DcSample(int32_t dc) {
    const int32_t v = (dc >> 1) + 128;
    return static_cast<int16_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// Rows of samples (Y, Cb, Cr or R, G, B) into pixel bytes 2, 1 and 0 of eight
// rows of eight pixels; byte 3 becomes 0xFF, the value a new image holds, so
// the pixels are stored without being read first.
inline void StorePixels(const V1 c0[8], const V1 c1[8], const V1 c2[8], uint8_t *pixels,
                        size_t rowBytes) {
    const V1 opaque = _mm_set1_epi32(static_cast<int32_t>(0xFF000000u));
    for (int r = 0; r < 8; ++r) {
        V1 *p = reinterpret_cast<V1 *>(pixels + static_cast<size_t>(r) * rowBytes);
        const V1 low = _mm_or_si128(c2[r], _mm_slli_epi16(c1[r], 8));  // bytes 0 and 1
        const V1 lo = _mm_unpacklo_epi16(low, c0[r]);
        const V1 hi = _mm_unpackhi_epi16(low, c0[r]);
        _mm_storeu_si128(p, _mm_or_si128(lo, opaque));
        _mm_storeu_si128(p + 1, _mm_or_si128(hi, opaque));
    }
}

// Eight rows of eight pixels to rows of the samples (0..255, not
// level-shifted) of component 0 (byte 2), 1 (byte 1) and 2 (byte 0).
inline void LoadPixels(const uint8_t *pixels, size_t rowBytes, V1 c0[8], V1 c1[8], V1 c2[8]) {
    const V1 mask = _mm_set1_epi32(0xFF);
    for (int r = 0; r < 8; ++r) {
        const V1 *p = reinterpret_cast<const V1 *>(pixels + static_cast<size_t>(r) * rowBytes);
        const V1 a = _mm_loadu_si128(p), b = _mm_loadu_si128(p + 1);
        c0[r] = _mm_packs_epi32(_mm_and_si128(_mm_srli_epi32(a, 16), mask),
                                _mm_and_si128(_mm_srli_epi32(b, 16), mask));
        c1[r] = _mm_packs_epi32(_mm_and_si128(_mm_srli_epi32(a, 8), mask),
                                _mm_and_si128(_mm_srli_epi32(b, 8), mask));
        c2[r] = _mm_packs_epi32(_mm_and_si128(a, mask), _mm_and_si128(b, mask));
    }
}

}  // namespace
}  // namespace plix::vec
