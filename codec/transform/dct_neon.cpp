// NEON block transforms: one block per set of eight 128-bit rows of eight
// 16-bit lanes. The arithmetic is that of the plain kernels: products are
// summed exactly in 32 bits and rounded the same way, and where 16-bit lanes
// suffice the ranges below show that nothing is lost.
#include <arm_neon.h>

#include "coefficients.h"
#include "kernel_table.h"
#include "transform/colour.h"
#include "transform/colour_neon.h"
#include "transform/dct_lanes.h"
#include "transform/fdct.h"
#include "transform/kernels_neon.h"

namespace plix {

namespace {

using V = int16x8_t;

// Eight rows of eight lanes in, columns out.
inline void Transpose8x8(V r[8]) {
    const V t0 = vtrn1q_s16(r[0], r[1]), t1 = vtrn2q_s16(r[0], r[1]);
    const V t2 = vtrn1q_s16(r[2], r[3]), t3 = vtrn2q_s16(r[2], r[3]);
    const V t4 = vtrn1q_s16(r[4], r[5]), t5 = vtrn2q_s16(r[4], r[5]);
    const V t6 = vtrn1q_s16(r[6], r[7]), t7 = vtrn2q_s16(r[6], r[7]);
    auto w = [](V v) { return vreinterpretq_s32_s16(v); };
    const int32x4_t u0 = vtrn1q_s32(w(t0), w(t2)), u2 = vtrn2q_s32(w(t0), w(t2));
    const int32x4_t u1 = vtrn1q_s32(w(t1), w(t3)), u3 = vtrn2q_s32(w(t1), w(t3));
    const int32x4_t u4 = vtrn1q_s32(w(t4), w(t6)), u6 = vtrn2q_s32(w(t4), w(t6));
    const int32x4_t u5 = vtrn1q_s32(w(t5), w(t7)), u7 = vtrn2q_s32(w(t5), w(t7));
    auto d = [](int32x4_t v) { return vreinterpretq_s64_s32(v); };
    auto h = [](int64x2_t v) { return vreinterpretq_s16_s64(v); };
    r[0] = h(vtrn1q_s64(d(u0), d(u4)));
    r[4] = h(vtrn2q_s64(d(u0), d(u4)));
    r[1] = h(vtrn1q_s64(d(u1), d(u5)));
    r[5] = h(vtrn2q_s64(d(u1), d(u5)));
    r[2] = h(vtrn1q_s64(d(u2), d(u6)));
    r[6] = h(vtrn2q_s64(d(u2), d(u6)));
    r[3] = h(vtrn1q_s64(d(u3), d(u7)));
    r[7] = h(vtrn2q_s64(d(u3), d(u7)));
}

// ---- Forward ----

using namespace dct_lanes;

// (v + 2^(S-1)) >> S, the rounding of both passes, to 16 bits (the results
// are coefficients or first-pass values, well inside 16 bits).
template <int S>
inline int16x4_t Round(int32x4_t v) {
    if constexpr (S <= 16)
        return vrshrn_n_s32(v, S);
    else
        return vmovn_s32(vrshrq_n_s32(v, S));
}

template <int S>
inline V Dot2(V a, int16_t ca, V b, int16_t cb) {
    const int32x4_t lo = vmlal_n_s16(vmull_n_s16(vget_low_s16(a), ca), vget_low_s16(b), cb);
    const int32x4_t hi = vmlal_high_n_s16(vmull_high_n_s16(a, ca), b, cb);
    return vcombine_s16(Round<S>(lo), Round<S>(hi));
}

template <int S>
inline V Dot4(const V d[4], int16_t c0, int16_t c1, int16_t c2, int16_t c3) {
    int32x4_t lo = vmull_n_s16(vget_low_s16(d[0]), c0);
    lo = vmlal_n_s16(lo, vget_low_s16(d[1]), c1);
    lo = vmlal_n_s16(lo, vget_low_s16(d[2]), c2);
    lo = vmlal_n_s16(lo, vget_low_s16(d[3]), c3);
    int32x4_t hi = vmull_high_n_s16(d[0], c0);
    hi = vmlal_high_n_s16(hi, d[1], c1);
    hi = vmlal_high_n_s16(hi, d[2], c2);
    hi = vmlal_high_n_s16(hi, d[3], c3);
    return vcombine_s16(Round<S>(lo), Round<S>(hi));
}

// One forward 8-point transform of each lane. First pass: inputs -128..127
// (or 0..255, see ForwardRows), every sum fits 16 bits. Second pass: inputs
// within -8192..8160, so the pair sums stay within +-16384 and the four-term
// sums e0..e3 within -32768..32704; only e0 +- e1 needs 32 bits.
template <bool kFirst>
inline void ForwardPass(V x[8]) {
    constexpr int S = kFirst ? 9 : 20;
    const auto [d07, d16, d25, d34, e0, e1, e2, e3] = SplitForward(
        x, [](V a, V b) { return vaddq_s16(a, b); }, [](V a, V b) { return vsubq_s16(a, b); });

    if constexpr (kFirst) {
        // (e * 4096 + 256) >> 9 is exactly e * 8.
        x[0] = vshlq_n_s16(vaddq_s16(e0, e1), 3);
        x[4] = vshlq_n_s16(vsubq_s16(e0, e1), 3);
    } else {
        // (e * 4096 + 2^19) >> 20 is (e + 2^7) >> 8.
        const int16x4_t e0l = vget_low_s16(e0), e1l = vget_low_s16(e1);
        x[0] = vcombine_s16(vrshrn_n_s32(vaddl_s16(e0l, e1l), 8),
                            vrshrn_n_s32(vaddl_high_s16(e0, e1), 8));
        x[4] = vcombine_s16(vrshrn_n_s32(vsubl_s16(e0l, e1l), 8),
                            vrshrn_n_s32(vsubl_high_s16(e0, e1), 8));
    }
    x[2] = Dot2<S>(e3, kC2, e2, kC6);
    x[6] = Dot2<S>(e3, kC6, e2, -kC2);

    const V d[4] = {d07, d16, d25, d34};
    x[1] = Dot4<S>(d, kC1, kC3, kC5, kC7);
    x[3] = Dot4<S>(d, kC3, -kC7, -kC1, -kC5);
    x[5] = Dot4<S>(d, kC5, -kC1, kC7, kC3);
    x[7] = Dot4<S>(d, kC7, -kC5, kC3, -kC1);
}

// Rows of samples in, rows of coefficients out. With kRaw the samples are
// 0..255, not yet level-shifted: the shift only lowers each column's
// first-pass X0 by 8 * 8 * 128, and the unshifted sums (up to 8 * 2040)
// still fit 16 bits, so it is applied there.
template <bool kRaw = false>
inline void ForwardRows(V r[8]) {
    ForwardPass<true>(r);
    if constexpr (kRaw) r[0] = vsubq_s16(r[0], vdupq_n_s16(8192));
    Transpose8x8(r);
    ForwardPass<false>(r);
    Transpose8x8(r);
}

// Rounded division, halves away from zero, through the reciprocals of
// QuantDivisors: |c| + q / 2 is at most 383.
inline V Quantise(V c, const QuantDivisors &div, int row) {
    const uint16x8_t mul = vld1q_u16(div.mul + 8 * row);
    const uint16x8_t one = vld1q_u16(div.one + 8 * row);
    const uint16x8_t half = vld1q_u16(div.half + 8 * row);
    const uint16x8_t n = vaddq_u16(vreinterpretq_u16_s16(vabsq_s16(c)), half);
    const uint32x4_t lo = vmull_u16(vget_low_u16(n), vget_low_u16(mul));
    const uint32x4_t hi = vmull_high_u16(n, mul);
    // The high 16 bits of each product.
    uint16x8_t q = vuzp2q_u16(vreinterpretq_u16_u32(lo), vreinterpretq_u16_u32(hi));
    q = vaddq_u16(q, vandq_u16(n, one));
    const V s = vreinterpretq_s16_u16(q);
    return vbslq_s16(vcltzq_s16(c), vnegq_s16(s), s);
}

inline void QuantiseRows(V r[8], const QuantDivisors &div) {
    for (int i = 0; i < 8; ++i) r[i] = Quantise(r[i], div, i);
}

// ---- Inverse ----

// Every product and partial sum of each half fits 16 bits (inputs within
// -257..255 and multipliers of at most 44 keep each half below 31611 in
// magnitude); the lanes wrap, so the order of the sums does not matter. Only
// the sum of the two halves can leave 16 bits; saturating it keeps it beyond
// the limiters' thresholds, where the result is the same.
inline void InverseKernel(const V x[8], V y[8]) {
    const V a = vshlq_n_s16(vaddq_s16(x[0], x[4]), 5);
    const V b = vshlq_n_s16(vsubq_s16(x[0], x[4]), 5);
    const V t = vmlaq_n_s16(vmulq_n_s16(x[2], 42), x[6], 17);
    const V w = vmlsq_n_s16(vmulq_n_s16(x[2], 17), x[6], 42);
    const V e0 = vaddq_s16(a, t), e3 = vsubq_s16(a, t);
    const V e1 = vaddq_s16(b, w), e2 = vsubq_s16(b, w);

    const V o0 =
        vmlaq_n_s16(vmlaq_n_s16(vmlaq_n_s16(vmulq_n_s16(x[1], 44), x[3], 38), x[5], 25), x[7], 9);
    const V o1 =
        vmlsq_n_s16(vmlsq_n_s16(vmlsq_n_s16(vmulq_n_s16(x[1], 38), x[3], 9), x[5], 44), x[7], 25);
    const V o2 =
        vmlaq_n_s16(vmlaq_n_s16(vmlsq_n_s16(vmulq_n_s16(x[1], 25), x[3], 44), x[5], 9), x[7], 38);
    const V o3 =
        vmlsq_n_s16(vmlaq_n_s16(vmlsq_n_s16(vmulq_n_s16(x[1], 9), x[3], 25), x[5], 38), x[7], 44);

    y[0] = vqaddq_s16(e0, o0);
    y[7] = vqsubq_s16(e0, o0);
    y[1] = vqaddq_s16(e1, o1);
    y[6] = vqsubq_s16(e1, o1);
    y[2] = vqaddq_s16(e2, o2);
    y[5] = vqsubq_s16(e2, o2);
    y[3] = vqaddq_s16(e3, o3);
    y[4] = vqsubq_s16(e3, o3);
}

// Above 8176: 255; below -8208: -256; otherwise y >> 5. Clamping y at -8209
// first makes the shift give -257 for everything at or below -8193; the
// values below -8208 then move up by one.
inline V LimitFirst(V y) {
    const V v = vshrq_n_s16(vmaxq_s16(y, vdupq_n_s16(-8209)), 5);
    const V below = vreinterpretq_s16_u16(vcltq_s16(y, vdupq_n_s16(-8208)));  // -1 where true
    return vminq_s16(vsubq_s16(v, below), vdupq_n_s16(255));
}

inline V LimitOutput(V y) {
    const V v = vaddq_s16(vshrq_n_s16(y, 6), vdupq_n_s16(128));
    return vminq_s16(vmaxq_s16(v, vdupq_n_s16(0)), vdupq_n_s16(255));
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
        V v = vcombine_s16(vqmovn_s32(vld1q_s32(block + 8 * i)),
                           vqmovn_s32(vld1q_s32(block + 8 * i + 4)));
        if constexpr (kLimit) v = vmaxq_s16(vminq_s16(v, vdupq_n_s16(255)), vdupq_n_s16(-256));
        r[i] = v;
    }
}

inline void StoreRows(const V r[8], int32_t *block) {
    for (int i = 0; i < 8; ++i) {
        vst1q_s32(block + 8 * i, vmovl_s16(vget_low_s16(r[i])));
        vst1q_s32(block + 8 * i + 4, vmovl_high_s16(r[i]));
    }
}

// True when entries 1..63 are all zero. Such a block passes both inverse
// limiters unchanged: with DC d from -256 to 255 every sample is
// (d >> 1) + 128.
inline bool OnlyDc(const int32_t *block) {
    int32x4_t ac = vsetq_lane_s32(0, vld1q_s32(block), 0);
    for (int i = 1; i < 16; ++i) ac = vorrq_s32(ac, vld1q_s32(block + 4 * i));
    return vmaxvq_u32(vreinterpretq_u32_s32(ac)) == 0;
}

inline int16_t DcSample(int32_t dc) {
    const int32_t v = (dc >> 1) + 128;
    return static_cast<int16_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

inline void Fill(V r[8], int16_t s) {
    for (int i = 0; i < 8; ++i) r[i] = vdupq_n_s16(s);
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
        const uint8x8x4_t p = vld4_u8(pixels + static_cast<size_t>(r) * rowBytes);
        c[0][r] = vreinterpretq_s16_u16(vmovl_u8(p.val[2]));
        c[1][r] = vreinterpretq_s16_u16(vmovl_u8(p.val[1]));
        c[2][r] = vreinterpretq_s16_u16(vmovl_u8(p.val[0]));
    }
}

// Samples into pixel bytes 2, 1 and 0; byte 3 becomes 0xFF, the value a new
// image holds, so the pixels are stored without being read first.
inline void StorePixels(const V c[3][8], uint8_t *pixels, size_t rowBytes) {
    for (int r = 0; r < 8; ++r) {
        uint8x8x4_t p;
        p.val[0] = vmovn_u16(vreinterpretq_u16_s16(c[2][r]));
        p.val[1] = vmovn_u16(vreinterpretq_u16_s16(c[1][r]));
        p.val[2] = vmovn_u16(vreinterpretq_u16_s16(c[0][r]));
        p.val[3] = vdup_n_u8(0xFF);
        vst4_u8(pixels + static_cast<size_t>(r) * rowBytes, p);
    }
}

// The rows of one quantised block (every entry within -256..256) in the form
// of PrepareBlock: the category n of v is 16 minus the leading zeros of |v|,
// and the value bits are v, or v - 1 below zero, masked by 2^n - 1.
inline void Prepare(const V q[8], PreparedBlock &out) {
    for (int i = 0; i < 8; ++i) {
        const V v = q[i];
        const int16x8_t zeros =
            vreinterpretq_s16_u16(vclzq_u16(vreinterpretq_u16_s16(vabsq_s16(v))));
        const uint16x8_t mask = vshlq_u16(vdupq_n_u16(0xFFFF), vnegq_s16(zeros));  // 0 for v = 0
        const uint16x8_t bits =
            vandq_u16(vreinterpretq_u16_s16(vaddq_s16(v, vshrq_n_s16(v, 15))), mask);
        vst1q_u16(out.bits + 8 * i, bits);
        vst1_u8(out.size + 8 * i,
                vmovn_u16(vreinterpretq_u16_s16(vsubq_s16(vdupq_n_s16(16), zeros))));
    }
    // The categories in zigzag order, sixteen at a time; one bit per byte
    // that is not zero.
    const uint8x16x4_t sizes = vld1q_u8_x4(out.size);
    constexpr uint8_t kWeights[16] = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
    const uint8x16_t weights = vld1q_u8(kWeights);
    uint64_t nonZero = 0;
    for (int k = 0; k < 4; ++k) {
        const uint8x16_t z = vqtbl4q_u8(sizes, vld1q_u8(ZigzagOrder + 16 * k));
        uint8x16_t m = vandq_u8(vtstq_u8(z, z), weights);
        m = vpaddq_u8(m, m);
        m = vpaddq_u8(m, m);
        m = vpaddq_u8(m, m);
        nonZero |= static_cast<uint64_t>(vgetq_lane_u16(vreinterpretq_u16_u8(m), 0)) << (16 * k);
    }
    out.nonZero = nonZero;
    out.dc = vgetq_lane_s16(q[0], 0);
}

// The colour stores the shared entries call.
inline void StoreRgbFlatChroma(const V y[8], int16_t cb, int16_t cr, uint8_t *p, size_t rowBytes) {
    const neon::Offsets o = neon::ConstantOffsets(cb, cr);
    for (int r = 0; r < 8; ++r)
        vst4_u8(p + static_cast<size_t>(r) * rowBytes, neon::Pixels8(y[r], o));
}

inline void StoreRgb(const V c[3][8], uint8_t *p, size_t rowBytes) {
    const V centre = vdupq_n_s16(128);
    const neon::Weights weights = neon::LoadWeights();
    for (int r = 0; r < 8; ++r) {
        const neon::Offsets o =
            neon::Offsets8(vsubq_s16(c[1][r], centre), vsubq_s16(c[2][r], centre), weights);
        vst4_u8(p + static_cast<size_t>(r) * rowBytes, neon::Pixels8(c[0][r], o));
    }
}

#include "transform/lane_entries.h"

}  // namespace

void InstallNeonBlockKernels(Dsp &dsp) {
    lane_entries::InstallInto(dsp);
}

}  // namespace plix
