// WebAssembly SIMD-128 block transforms: one block per set of eight 128-bit
// rows of eight 16-bit lanes, as the NEON kernels hold them. The arithmetic
// is that of the plain kernels: products are summed exactly in 32 bits and
// rounded the same way, and where 16-bit lanes suffice the ranges below show
// that nothing is lost.
#include <wasm_simd128.h>

#include "coefficients.h"
#include "kernel_table.h"
#include "transform/colour.h"
#include "transform/colour_fixed.h"
#include "transform/colour_wasm.h"
#include "transform/dct_lanes.h"
#include "transform/fdct.h"
#include "transform/kernels_wasm.h"

namespace plix {

namespace {

using V = v128_t;

// Eight rows of eight lanes in, columns out.
inline void Transpose8x8(V r[8]) {
    const V t0 = wasm_i16x8_shuffle(r[0], r[1], 0, 8, 1, 9, 2, 10, 3, 11);
    const V t1 = wasm_i16x8_shuffle(r[0], r[1], 4, 12, 5, 13, 6, 14, 7, 15);
    const V t2 = wasm_i16x8_shuffle(r[2], r[3], 0, 8, 1, 9, 2, 10, 3, 11);
    const V t3 = wasm_i16x8_shuffle(r[2], r[3], 4, 12, 5, 13, 6, 14, 7, 15);
    const V t4 = wasm_i16x8_shuffle(r[4], r[5], 0, 8, 1, 9, 2, 10, 3, 11);
    const V t5 = wasm_i16x8_shuffle(r[4], r[5], 4, 12, 5, 13, 6, 14, 7, 15);
    const V t6 = wasm_i16x8_shuffle(r[6], r[7], 0, 8, 1, 9, 2, 10, 3, 11);
    const V t7 = wasm_i16x8_shuffle(r[6], r[7], 4, 12, 5, 13, 6, 14, 7, 15);
    const V u0 = wasm_i32x4_shuffle(t0, t2, 0, 4, 1, 5),
            u1 = wasm_i32x4_shuffle(t0, t2, 2, 6, 3, 7);
    const V u2 = wasm_i32x4_shuffle(t1, t3, 0, 4, 1, 5),
            u3 = wasm_i32x4_shuffle(t1, t3, 2, 6, 3, 7);
    const V u4 = wasm_i32x4_shuffle(t4, t6, 0, 4, 1, 5),
            u5 = wasm_i32x4_shuffle(t4, t6, 2, 6, 3, 7);
    const V u6 = wasm_i32x4_shuffle(t5, t7, 0, 4, 1, 5),
            u7 = wasm_i32x4_shuffle(t5, t7, 2, 6, 3, 7);
    r[0] = wasm_i64x2_shuffle(u0, u4, 0, 2);
    r[1] = wasm_i64x2_shuffle(u0, u4, 1, 3);
    r[2] = wasm_i64x2_shuffle(u1, u5, 0, 2);
    r[3] = wasm_i64x2_shuffle(u1, u5, 1, 3);
    r[4] = wasm_i64x2_shuffle(u2, u6, 0, 2);
    r[5] = wasm_i64x2_shuffle(u2, u6, 1, 3);
    r[6] = wasm_i64x2_shuffle(u3, u7, 0, 2);
    r[7] = wasm_i64x2_shuffle(u3, u7, 1, 3);
}

// ---- Forward ----

using namespace dct_lanes;

// (v + 2^(S-1)) >> S of both halves, the rounding of both passes, to 16 bits
// (the results are coefficients or first-pass values, well inside 16 bits).
template <int S>
inline V Round(V lo, V hi) {
    const V half = wasm_i32x4_splat(1 << (S - 1));
    return wasm_i16x8_narrow_i32x4(wasm_i32x4_shr(wasm_i32x4_add(lo, half), S),
                                   wasm_i32x4_shr(wasm_i32x4_add(hi, half), S));
}

// a * ca + b * cb of each lane, exactly in 32 bits: the lanes of a and b
// interleaved, then one dot product per four lanes.
inline V Pairs(int16_t ca, int16_t cb) {
    return wasm_i16x8_make(ca, cb, ca, cb, ca, cb, ca, cb);
}

template <int S>
inline V Dot2(V a, int16_t ca, V b, int16_t cb) {
    const V c = Pairs(ca, cb);
    const V lo = wasm_i32x4_dot_i16x8(wasm_i16x8_shuffle(a, b, 0, 8, 1, 9, 2, 10, 3, 11), c);
    const V hi = wasm_i32x4_dot_i16x8(wasm_i16x8_shuffle(a, b, 4, 12, 5, 13, 6, 14, 7, 15), c);
    return Round<S>(lo, hi);
}

// The four differences interleaved in pairs, made once for the four odd
// outputs.
struct OddPairs {
    V lo01, hi01, lo23, hi23;
};

inline OddPairs Interleave(const V d[4]) {
    return {wasm_i16x8_shuffle(d[0], d[1], 0, 8, 1, 9, 2, 10, 3, 11),
            wasm_i16x8_shuffle(d[0], d[1], 4, 12, 5, 13, 6, 14, 7, 15),
            wasm_i16x8_shuffle(d[2], d[3], 0, 8, 1, 9, 2, 10, 3, 11),
            wasm_i16x8_shuffle(d[2], d[3], 4, 12, 5, 13, 6, 14, 7, 15)};
}

// Every product is below 2^15 * 5681 in magnitude, so the four-term sums fit
// 32 bits.
template <int S>
inline V Dot4(const OddPairs &d, int16_t c0, int16_t c1, int16_t c2, int16_t c3) {
    const V p01 = Pairs(c0, c1), p23 = Pairs(c2, c3);
    const V lo =
        wasm_i32x4_add(wasm_i32x4_dot_i16x8(d.lo01, p01), wasm_i32x4_dot_i16x8(d.lo23, p23));
    const V hi =
        wasm_i32x4_add(wasm_i32x4_dot_i16x8(d.hi01, p01), wasm_i32x4_dot_i16x8(d.hi23, p23));
    return Round<S>(lo, hi);
}

// One forward 8-point transform of each lane. First pass: inputs -128..127
// (or 0..255, see ForwardRows), every sum fits 16 bits. Second pass: inputs
// within -8192..8160, so the pair sums stay within +-16384 and the four-term
// sums e0..e3 within -32768..32704; only e0 +- e1 needs 32 bits.
template <bool kFirst>
inline void ForwardPass(V x[8]) {
    constexpr int S = kFirst ? 9 : 20;
    const auto [d07, d16, d25, d34, e0, e1, e2, e3] = SplitForward(
        x, [](V a, V b) { return wasm_i16x8_add(a, b); },
        [](V a, V b) { return wasm_i16x8_sub(a, b); });

    if constexpr (kFirst) {
        // (e * 4096 + 256) >> 9 is exactly e * 8.
        x[0] = wasm_i16x8_shl(wasm_i16x8_add(e0, e1), 3);
        x[4] = wasm_i16x8_shl(wasm_i16x8_sub(e0, e1), 3);
    } else {
        // (e * 4096 + 2^19) >> 20 is (e + 2^7) >> 8.
        const V e0l = wasm_i32x4_extend_low_i16x8(e0), e0h = wasm_i32x4_extend_high_i16x8(e0);
        const V e1l = wasm_i32x4_extend_low_i16x8(e1), e1h = wasm_i32x4_extend_high_i16x8(e1);
        x[0] = Round<8>(wasm_i32x4_add(e0l, e1l), wasm_i32x4_add(e0h, e1h));
        x[4] = Round<8>(wasm_i32x4_sub(e0l, e1l), wasm_i32x4_sub(e0h, e1h));
    }
    x[2] = Dot2<S>(e3, kC2, e2, kC6);
    x[6] = Dot2<S>(e3, kC6, e2, -kC2);

    const V d[4] = {d07, d16, d25, d34};
    const OddPairs p = Interleave(d);
    x[1] = Dot4<S>(p, kC1, kC3, kC5, kC7);
    x[3] = Dot4<S>(p, kC3, -kC7, -kC1, -kC5);
    x[5] = Dot4<S>(p, kC5, -kC1, kC7, kC3);
    x[7] = Dot4<S>(p, kC7, -kC5, kC3, -kC1);
}

// Rows of samples in, rows of coefficients out (without kRows: columns,
// the last transposition left out). With kRaw the samples are 0..255, not
// yet level-shifted: the shift only lowers each column's first-pass X0 by
// 8 * 8 * 128, and the unshifted sums (up to 8 * 2040) still fit 16 bits,
// so it is applied there.
template <bool kRaw = false, bool kRows = true>
inline void ForwardRows(V r[8]) {
    ForwardPass<true>(r);
    if constexpr (kRaw) r[0] = wasm_i16x8_sub(r[0], wasm_i16x8_splat(8192));
    Transpose8x8(r);
    ForwardPass<false>(r);
    if constexpr (kRows) Transpose8x8(r);
}

// Rounded division, halves away from zero, through the reciprocals of
// QuantDivisors: |c| + q / 2 is at most 383. The magnitude of the quotient
// of c, row (or with kColumns column) i of a block; *sign is all ones where
// c < 0.
template <bool kColumns = false>
inline V QuotientMagnitude(V c, const QuantDivisors &div, int i, V *sign) {
    const V mul = wasm_v128_load((kColumns ? div.mulByColumn : div.mul) + 8 * i);
    const V one = wasm_v128_load((kColumns ? div.oneByColumn : div.one) + 8 * i);
    const V half = wasm_v128_load((kColumns ? div.halfByColumn : div.half) + 8 * i);
    const V n = wasm_i16x8_add(wasm_i16x8_abs(c), half);
    // The high 16 bits of each product n * mul, from 32-bit products of the
    // even lanes and of the odd ones (each below 2^26): engines turn lane
    // shuffles into the instructions fewest units run.
    const V low = wasm_i32x4_splat(0xFFFF);
    const V even = wasm_i32x4_mul(wasm_v128_and(n, low), wasm_v128_and(mul, low));
    const V odd = wasm_i32x4_mul(wasm_u32x4_shr(n, 16), wasm_u32x4_shr(mul, 16));
    const V q = wasm_v128_or(wasm_u32x4_shr(even, 16), wasm_v128_andnot(odd, low));
    *sign = wasm_i16x8_shr(c, 15);
    return wasm_i16x8_add(q, wasm_v128_and(n, one));
}

inline V Quantise(V c, const QuantDivisors &div, int row) {
    V s;
    const V q = QuotientMagnitude(c, div, row, &s);
    // Negated where c < 0: (q ^ s) - s with s all ones there.
    return wasm_i16x8_sub(wasm_v128_xor(q, s), s);
}

inline void QuantiseRows(V r[8], const QuantDivisors &div) {
    for (int i = 0; i < 8; ++i) r[i] = Quantise(r[i], div, i);
}

// ---- Inverse ----

inline V MulN(V x, int16_t c) {
    return wasm_i16x8_mul(x, wasm_i16x8_splat(c));
}

// Every product and partial sum of each half fits 16 bits (inputs within
// -257..255 and multipliers of at most 44 keep each half below 31611 in
// magnitude); the lanes wrap, so the order of the sums does not matter. Only
// the sum of the two halves can leave 16 bits; saturating it keeps it beyond
// the limiters' thresholds, where the result is the same.
inline void InverseKernel(const V x[8], V y[8]) {
    const V a = wasm_i16x8_shl(wasm_i16x8_add(x[0], x[4]), 5);
    const V b = wasm_i16x8_shl(wasm_i16x8_sub(x[0], x[4]), 5);
    const V t = wasm_i16x8_add(MulN(x[2], 42), MulN(x[6], 17));
    const V w = wasm_i16x8_sub(MulN(x[2], 17), MulN(x[6], 42));
    const V e0 = wasm_i16x8_add(a, t), e3 = wasm_i16x8_sub(a, t);
    const V e1 = wasm_i16x8_add(b, w), e2 = wasm_i16x8_sub(b, w);

    const V o0 = wasm_i16x8_add(wasm_i16x8_add(MulN(x[1], 44), MulN(x[3], 38)),
                                wasm_i16x8_add(MulN(x[5], 25), MulN(x[7], 9)));
    const V o1 = wasm_i16x8_sub(wasm_i16x8_sub(MulN(x[1], 38), MulN(x[3], 9)),
                                wasm_i16x8_add(MulN(x[5], 44), MulN(x[7], 25)));
    const V o2 = wasm_i16x8_add(wasm_i16x8_sub(MulN(x[1], 25), MulN(x[3], 44)),
                                wasm_i16x8_add(MulN(x[5], 9), MulN(x[7], 38)));
    const V o3 = wasm_i16x8_sub(
        wasm_i16x8_add(wasm_i16x8_sub(MulN(x[1], 9), MulN(x[3], 25)), MulN(x[5], 38)),
        MulN(x[7], 44));

    y[0] = wasm_i16x8_add_sat(e0, o0);
    y[7] = wasm_i16x8_sub_sat(e0, o0);
    y[1] = wasm_i16x8_add_sat(e1, o1);
    y[6] = wasm_i16x8_sub_sat(e1, o1);
    y[2] = wasm_i16x8_add_sat(e2, o2);
    y[5] = wasm_i16x8_sub_sat(e2, o2);
    y[3] = wasm_i16x8_add_sat(e3, o3);
    y[4] = wasm_i16x8_sub_sat(e3, o3);
}

// Above 8176: 255; below -8208: -256; otherwise y >> 5. Clamping y at -8209
// first makes the shift give -257 for everything at or below -8193; the
// values below -8208 then move up by one.
inline V LimitFirst(V y) {
    const V v = wasm_i16x8_shr(wasm_i16x8_max(y, wasm_i16x8_splat(-8209)), 5);
    const V below = wasm_i16x8_lt(y, wasm_i16x8_splat(-8208));  // -1 where true
    return wasm_i16x8_min(wasm_i16x8_sub(v, below), wasm_i16x8_splat(255));
}

inline V LimitOutput(V y) {
    const V v = wasm_i16x8_add(wasm_i16x8_shr(y, 6), wasm_i16x8_splat(128));
    return wasm_i16x8_min(wasm_i16x8_max(v, wasm_i16x8_splat(0)), wasm_i16x8_splat(255));
}

// Rows of coefficients in, rows of samples 0..255 out.
inline void InverseRows(V r[8]) {
    InverseRowsWith(
        r, [](const V x[8], V y[8]) { InverseKernel(x, y); }, [](V y) { return LimitFirst(y); },
        [](V y) { return LimitOutput(y); }, [](V x[8]) { Transpose8x8(x); });
}

// ---- Blocks ----

// 64 int32 entries to eight rows of 16-bit lanes, saturated; with kLimit
// also limited to -256..255 (saturation keeps the order, so this is the limit
// of the 32-bit values).
template <bool kLimit = false>
inline void LoadRows(const int32_t *block, V r[8]) {
    for (int i = 0; i < 8; ++i) {
        V v = wasm_i16x8_narrow_i32x4(wasm_v128_load(block + 8 * i),
                                      wasm_v128_load(block + 8 * i + 4));
        if constexpr (kLimit)
            v = wasm_i16x8_max(wasm_i16x8_min(v, wasm_i16x8_splat(255)), wasm_i16x8_splat(-256));
        r[i] = v;
    }
}

inline void StoreRows(const V r[8], int32_t *block) {
    for (int i = 0; i < 8; ++i) {
        wasm_v128_store(block + 8 * i, wasm_i32x4_extend_low_i16x8(r[i]));
        wasm_v128_store(block + 8 * i + 4, wasm_i32x4_extend_high_i16x8(r[i]));
    }
}

// True when entries 1..63 are all zero. Such a block passes both inverse
// limiters unchanged: with DC d from -256 to 255 every sample is
// (d >> 1) + 128.
inline bool OnlyDc(const int32_t *block) {
    V ac = wasm_i32x4_replace_lane(wasm_v128_load(block), 0, 0);
    for (int i = 1; i < 16; ++i) ac = wasm_v128_or(ac, wasm_v128_load(block + 4 * i));
    return !wasm_v128_any_true(ac);
}

inline int16_t DcSample(int32_t dc) {
    const int32_t v = (dc >> 1) + 128;
    return static_cast<int16_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

inline void Fill(V r[8], int16_t s) {
    for (int i = 0; i < 8; ++i) r[i] = wasm_i16x8_splat(s);
}

// Samples of one block as rows; a DC-only block is filled directly.
inline void InverseToRows(const int32_t block[64], V r[8]) {
    if (OnlyDc(block)) return Fill(r, DcSample(block[0]));
    LoadRows(block, r);
    InverseRows(r);
}

// Eight rows of eight pixels to rows of the samples (0..255) of component 0
// (byte 2), 1 (byte 1) and 2 (byte 0).
inline void LoadPixels(const uint8_t *pixels, size_t rowBytes, V c[3][8]) {
    for (int r = 0; r < 8; ++r) {
        const uint8_t *p = pixels + static_cast<size_t>(r) * rowBytes;
        const V a = wasm_v128_load(p), b = wasm_v128_load(p + 16);
        // Bytes 2 | bytes 1 of the eight pixels, then bytes 0.
        const V c01 =
            wasm_i8x16_shuffle(a, b, 2, 6, 10, 14, 18, 22, 26, 30, 1, 5, 9, 13, 17, 21, 25, 29);
        const V c2 =
            wasm_i8x16_shuffle(a, b, 0, 4, 8, 12, 16, 20, 24, 28, 0, 4, 8, 12, 16, 20, 24, 28);
        c[0][r] = wasm_u16x8_extend_low_u8x16(c01);
        c[1][r] = wasm_u16x8_extend_high_u8x16(c01);
        c[2][r] = wasm_u16x8_extend_low_u8x16(c2);
    }
}

// LoadPixels of pixels still in RGB: each row of eight converted to YCbCr
// in the lanes as ConvertRgbToYccPixelsWasm converts it. The channels lie
// well inside 16 bits, so narrowing before the limits changes nothing.
inline void LoadPixelsYcc(const uint8_t *pixels, size_t rowBytes, V c[3][8]) {
    using namespace colour_fixed;
    const V mask = wasm_i16x8_splat(0xFF), centre = wasm_i16x8_splat(128);
    const V zero = wasm_i16x8_splat(0), top = wasm_i16x8_splat(255);
    const auto limit = [&](V v) { return wasm_i16x8_min(wasm_i16x8_max(v, zero), top); };
    for (int r = 0; r < 8; ++r) {
        const uint8_t *p = pixels + static_cast<size_t>(r) * rowBytes;
        const V a = wasm_v128_load(p), b = wasm_v128_load(p + 16);
        const V brA = wasm_v128_and(a, mask), gaA = wasm_u16x8_shr(a, 8);
        const V brB = wasm_v128_and(b, mask), gaB = wasm_u16x8_shr(b, 8);
        c[0][r] = limit(wasm_i16x8_narrow_i32x4(wasm::YccChannel<kYb, kYg, kYr>(brA, gaA),
                                                wasm::YccChannel<kYb, kYg, kYr>(brB, gaB)));
        c[1][r] = limit(wasm_i16x8_add(
            wasm_i16x8_narrow_i32x4(wasm::YccChannel<kCbb, -kCbg, -kCbr>(brA, gaA),
                                    wasm::YccChannel<kCbb, -kCbg, -kCbr>(brB, gaB)),
            centre));
        c[2][r] = limit(wasm_i16x8_add(
            wasm_i16x8_narrow_i32x4(wasm::YccChannel<-kCrb, -kCrg, kCrr>(brA, gaA),
                                    wasm::YccChannel<-kCrb, -kCrg, kCrr>(brB, gaB)),
            centre));
    }
}

// Samples into pixel bytes 2, 1 and 0; byte 3 becomes 0xFF, the value a new
// image holds, so the pixels are stored without being read first.
inline void StorePixels(const V c[3][8], uint8_t *pixels, size_t rowBytes) {
    const V opaque = wasm_i16x8_splat(0xFF);
    for (int r = 0; r < 8; ++r)
        wasm::StoreInterleaved(pixels + static_cast<size_t>(r) * rowBytes, c[2][r], c[1][r],
                               c[0][r], opaque);
}

// Bits of the natural (or transposed) order to bits of the zigzag order, a
// byte of the mask at a time: entry [j][b] holds the zigzag bits of the
// positions 8j + i for the bits i set in b. A block's mask then costs eight
// lookups, whatever the number of its coefficients.
struct ZigzagSpread {
    uint64_t bits[8][256];
};

constexpr ZigzagSpread BuildZigzagSpread(bool transposed) {
    int position[64] = {};
    for (int k = 0; k < 64; ++k)
        position[transposed ? ZigzagTransposed.at[k] : ZigzagOrder[k]] = k;
    ZigzagSpread t{};
    for (int j = 0; j < 8; ++j)
        for (int b = 0; b < 256; ++b)
            for (int i = 0; i < 8; ++i)
                if (b & (1 << i)) t.bits[j][b] |= uint64_t{1} << position[8 * j + i];
    return t;
}

constexpr ZigzagSpread kZigzagSpread[2] = {BuildZigzagSpread(false), BuildZigzagSpread(true)};

// The rows of one quantised block (every entry within -256..256) in the form
// of PrepareBlock. For |v| = a: m = 2^n - 1 with n the category (a smeared
// right), the value bits are v, or v - 1 below zero, masked by m, and n is
// the number of bits m has set. Row i from the magnitudes a and, for the
// bits, x: v, or v - 1 below zero.
inline V PrepareRow(V a, V x, PreparedBlock &out, int i) {
    V m = wasm_v128_or(a, wasm_u16x8_shr(a, 1));
    m = wasm_v128_or(m, wasm_u16x8_shr(m, 2));
    m = wasm_v128_or(m, wasm_u16x8_shr(m, 4));
    m = wasm_v128_or(m, wasm_u16x8_shr(m, 8));
    wasm_v128_store(out.bits + 8 * i, wasm_v128_and(x, m));
    return wasm_u16x8_extadd_pairwise_u8x16(wasm_i8x16_popcnt(m));
}

// The categories of rows 2j and 2j + 1 (n), stored; the block's mask of
// categories not 0 and its first entry are set by FinishPrepared.
inline V StoreSizes(V n0, V n1, PreparedBlock &out, int j) {
    const V sizes = wasm_u8x16_narrow_i16x8(n0, n1);
    wasm_v128_store(out.size + 16 * j, sizes);
    return sizes;
}

template <bool kTransposed = false>
inline void FinishPrepared(const V sizes[4], int32_t dc, PreparedBlock &out) {
    // The categories that are not 0, in the block's order, then in zigzag
    // order.
    uint64_t natural = 0;
    for (int j = 0; j < 4; ++j)
        natural |= static_cast<uint64_t>(
                       ~wasm_i8x16_bitmask(wasm_i8x16_eq(sizes[j], wasm_i8x16_splat(0))) & 0xFFFF)
                   << (16 * j);
    uint64_t nonZero = 0;
    for (int j = 0; j < 8; ++j)
        nonZero |= kZigzagSpread[kTransposed].bits[j][(natural >> (8 * j)) & 0xFF];
    out.nonZero = nonZero;
    out.dc = dc;
}

inline void Prepare(const V q[8], PreparedBlock &out) {
    V sizes[4];
    for (int j = 0; j < 4; ++j) {
        V n[2];
        for (int k = 0; k < 2; ++k) {
            const V v = q[2 * j + k];
            n[k] = PrepareRow(wasm_i16x8_abs(v), wasm_i16x8_add(v, wasm_i16x8_shr(v, 15)), out,
                              2 * j + k);
        }
        sizes[j] = StoreSizes(n[0], n[1], out, j);
    }
    FinishPrepared(sizes, wasm_i16x8_extract_lane(q[0], 0), out);
}

// QuantiseRows and Prepare in one, for the columns ForwardRows leaves
// without its last transposition: the block comes out transposed. The
// quotients' magnitudes give the categories at once, and where v < 0,
// v - 1 is q ^ s (s all ones).
inline void QuantisePrepareColumns(const V c[8], const QuantDivisors &div, PreparedBlock &out) {
    V sizes[4];
    int32_t dc = 0;
    for (int j = 0; j < 4; ++j) {
        V n[2];
        for (int k = 0; k < 2; ++k) {
            const int i = 2 * j + k;
            V s;
            const V q = QuotientMagnitude<true>(c[i], div, i, &s);
            const V x = wasm_v128_xor(q, s);
            if (i == 0) dc = wasm_i16x8_extract_lane(wasm_i16x8_sub(x, s), 0);
            n[k] = PrepareRow(q, x, out, i);
        }
        sizes[j] = StoreSizes(n[0], n[1], out, j);
    }
    FinishPrepared<true>(sizes, dc, out);
}

// The colour stores the shared entries call.
inline void StoreRgbFlatChroma(const V y[8], int16_t cb, int16_t cr, uint8_t *p, size_t rowBytes) {
    const wasm::Offsets o = wasm::ConstantOffsets(cb, cr);
    for (int r = 0; r < 8; ++r) wasm::StoreRgb8(p + static_cast<size_t>(r) * rowBytes, y[r], o);
}

inline void StoreRgb(const V c[3][8], uint8_t *p, size_t rowBytes) {
    const V centre = wasm_i16x8_splat(128);
    for (int r = 0; r < 8; ++r) {
        const wasm::Offsets o =
            wasm::Offsets8(wasm_i16x8_sub(c[1][r], centre), wasm_i16x8_sub(c[2][r], centre));
        wasm::StoreRgb8(p + static_cast<size_t>(r) * rowBytes, c[0][r], o);
    }
}

#include "transform/lane_entries.h"

// Dsp::forwardBlocks2Prepared and forwardRgbBlocks2Prepared (kYcc: the
// conversion in the loads): lane_entries' form with the blocks transposed.
template <bool kYcc>
void ForwardPrepared(const uint8_t *pixels, size_t rowBytes, const QuantDivisors &luma,
                     const QuantDivisors &chroma, PreparedBlock blocks[6]) {
    for (int half = 0; half < 2; ++half) {
        V c[3][8];
        if constexpr (kYcc)
            LoadPixelsYcc(pixels + 32 * half, rowBytes, c);
        else
            LoadPixels(pixels + 32 * half, rowBytes, c);
        for (int k = 0; k < 3; ++k) {
            ForwardRows<true, false>(c[k]);
            QuantisePrepareColumns(c[k], k == 0 ? luma : chroma, blocks[3 * half + k]);
        }
    }
}

}  // namespace

void InstallWasmBlockKernels(Dsp &dsp) {
    lane_entries::InstallInto(dsp);
    dsp.forwardBlocks2Prepared = ForwardPrepared<false>;
    dsp.forwardRgbBlocks2Prepared = ForwardPrepared<true>;
    // Read by the coder block_encoder_wasm.cpp, installed with this set.
    dsp.preparedOrder = PreparedOrder::kTransposed;
}

}  // namespace plix
