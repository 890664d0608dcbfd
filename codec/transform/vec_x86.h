// Thin overloads over the 128-bit (SSE2) and, in files built with AVX2 or
// AVX-512, the 256-bit and 512-bit integer vectors, so that one kernel
// template serves every width. A wide vector holds independent 128-bit
// quarters or halves (blocks side by side); no operation here crosses
// between them.
//
// Everything is in an unnamed namespace: each kernel file gets its own copy
// compiled for its own instruction set, and no AVX2 code can be merged into
// the SSE2 paths by the linker.
#pragma once

#include <emmintrin.h>
#if defined(__AVX2__)
#include <immintrin.h>
#endif

#include <cstdint>

namespace plix::vec {
namespace {

// clang-format off
using V1 = __m128i;

inline V1 Add16(V1 a, V1 b) { return _mm_add_epi16(a, b); }
inline V1 Sub16(V1 a, V1 b) { return _mm_sub_epi16(a, b); }
inline V1 AddSat16(V1 a, V1 b) { return _mm_adds_epi16(a, b); }
inline V1 SubSat16(V1 a, V1 b) { return _mm_subs_epi16(a, b); }
inline V1 MulLo16(V1 a, V1 b) { return _mm_mullo_epi16(a, b); }
inline V1 MulHiU16(V1 a, V1 b) { return _mm_mulhi_epu16(a, b); }
inline V1 Max16(V1 a, V1 b) { return _mm_max_epi16(a, b); }
inline V1 Min16(V1 a, V1 b) { return _mm_min_epi16(a, b); }
inline V1 CmpGt16(V1 a, V1 b) { return _mm_cmpgt_epi16(a, b); }
inline V1 Add32(V1 a, V1 b) { return _mm_add_epi32(a, b); }
inline V1 Madd16(V1 a, V1 b) { return _mm_madd_epi16(a, b); }
inline V1 And(V1 a, V1 b) { return _mm_and_si128(a, b); }
inline V1 Or(V1 a, V1 b) { return _mm_or_si128(a, b); }
inline V1 Xor(V1 a, V1 b) { return _mm_xor_si128(a, b); }
inline V1 Packs32(V1 a, V1 b) { return _mm_packs_epi32(a, b); }
inline V1 UnpackLo16(V1 a, V1 b) { return _mm_unpacklo_epi16(a, b); }
inline V1 UnpackHi16(V1 a, V1 b) { return _mm_unpackhi_epi16(a, b); }
inline V1 UnpackLo32(V1 a, V1 b) { return _mm_unpacklo_epi32(a, b); }
inline V1 UnpackHi32(V1 a, V1 b) { return _mm_unpackhi_epi32(a, b); }
inline V1 UnpackLo64(V1 a, V1 b) { return _mm_unpacklo_epi64(a, b); }
inline V1 UnpackHi64(V1 a, V1 b) { return _mm_unpackhi_epi64(a, b); }
template <int N> inline V1 Sll16(V1 a) { return _mm_slli_epi16(a, N); }
template <int N> inline V1 Sra16(V1 a) { return _mm_srai_epi16(a, N); }
template <int N> inline V1 Sra32(V1 a) { return _mm_srai_epi32(a, N); }
template <int N> inline V1 Srl16(V1 a) { return _mm_srli_epi16(a, N); }
template <int N> inline V1 Srl32(V1 a) { return _mm_srli_epi32(a, N); }
template <int N> inline V1 Sll32(V1 a) { return _mm_slli_epi32(a, N); }

template <class V> V Splat16(int16_t v);
template <class V> V Splat32(int32_t v);
template <> inline V1 Splat16<V1>(int16_t v) { return _mm_set1_epi16(v); }
#if defined(__AVX2__)
// SSSE3, implied by AVX2.
inline V1 Abs16(V1 a) { return _mm_abs_epi16(a); }
inline V1 SignFrom16(V1 a, V1 s) { return _mm_sign_epi16(a, s); }
#endif
template <> inline V1 Splat32<V1>(int32_t v) { return _mm_set1_epi32(v); }

#if defined(__AVX2__)
using V2 = __m256i;

inline V2 Add16(V2 a, V2 b) { return _mm256_add_epi16(a, b); }
inline V2 Sub16(V2 a, V2 b) { return _mm256_sub_epi16(a, b); }
inline V2 AddSat16(V2 a, V2 b) { return _mm256_adds_epi16(a, b); }
inline V2 SubSat16(V2 a, V2 b) { return _mm256_subs_epi16(a, b); }
inline V2 MulLo16(V2 a, V2 b) { return _mm256_mullo_epi16(a, b); }
inline V2 MulHiU16(V2 a, V2 b) { return _mm256_mulhi_epu16(a, b); }
inline V2 Max16(V2 a, V2 b) { return _mm256_max_epi16(a, b); }
inline V2 Min16(V2 a, V2 b) { return _mm256_min_epi16(a, b); }
inline V2 CmpGt16(V2 a, V2 b) { return _mm256_cmpgt_epi16(a, b); }
inline V2 Add32(V2 a, V2 b) { return _mm256_add_epi32(a, b); }
inline V2 Madd16(V2 a, V2 b) { return _mm256_madd_epi16(a, b); }
inline V2 And(V2 a, V2 b) { return _mm256_and_si256(a, b); }
inline V2 Or(V2 a, V2 b) { return _mm256_or_si256(a, b); }
inline V2 Xor(V2 a, V2 b) { return _mm256_xor_si256(a, b); }
inline V2 Packs32(V2 a, V2 b) { return _mm256_packs_epi32(a, b); }
inline V2 UnpackLo16(V2 a, V2 b) { return _mm256_unpacklo_epi16(a, b); }
inline V2 UnpackHi16(V2 a, V2 b) { return _mm256_unpackhi_epi16(a, b); }
inline V2 UnpackLo32(V2 a, V2 b) { return _mm256_unpacklo_epi32(a, b); }
inline V2 UnpackHi32(V2 a, V2 b) { return _mm256_unpackhi_epi32(a, b); }
inline V2 UnpackLo64(V2 a, V2 b) { return _mm256_unpacklo_epi64(a, b); }
inline V2 UnpackHi64(V2 a, V2 b) { return _mm256_unpackhi_epi64(a, b); }
template <int N> inline V2 Sll16(V2 a) { return _mm256_slli_epi16(a, N); }
template <int N> inline V2 Sra16(V2 a) { return _mm256_srai_epi16(a, N); }
template <int N> inline V2 Sra32(V2 a) { return _mm256_srai_epi32(a, N); }
template <int N> inline V2 Srl16(V2 a) { return _mm256_srli_epi16(a, N); }
template <int N> inline V2 Srl32(V2 a) { return _mm256_srli_epi32(a, N); }
template <int N> inline V2 Sll32(V2 a) { return _mm256_slli_epi32(a, N); }

template <> inline V2 Splat16<V2>(int16_t v) { return _mm256_set1_epi16(v); }
inline V2 Abs16(V2 a) { return _mm256_abs_epi16(a); }
inline V2 SignFrom16(V2 a, V2 s) { return _mm256_sign_epi16(a, s); }
template <> inline V2 Splat32<V2>(int32_t v) { return _mm256_set1_epi32(v); }
#endif

#if defined(__AVX512BW__)
using V4 = __m512i;

inline V4 Add16(V4 a, V4 b) { return _mm512_add_epi16(a, b); }
inline V4 Sub16(V4 a, V4 b) { return _mm512_sub_epi16(a, b); }
inline V4 AddSat16(V4 a, V4 b) { return _mm512_adds_epi16(a, b); }
inline V4 SubSat16(V4 a, V4 b) { return _mm512_subs_epi16(a, b); }
inline V4 MulLo16(V4 a, V4 b) { return _mm512_mullo_epi16(a, b); }
inline V4 MulHiU16(V4 a, V4 b) { return _mm512_mulhi_epu16(a, b); }
inline V4 Max16(V4 a, V4 b) { return _mm512_max_epi16(a, b); }
inline V4 Min16(V4 a, V4 b) { return _mm512_min_epi16(a, b); }
// All ones where a > b, as the narrower compares give it.
inline V4 CmpGt16(V4 a, V4 b) { return _mm512_movm_epi16(_mm512_cmpgt_epi16_mask(a, b)); }
inline V4 Add32(V4 a, V4 b) { return _mm512_add_epi32(a, b); }
inline V4 Madd16(V4 a, V4 b) { return _mm512_madd_epi16(a, b); }
inline V4 And(V4 a, V4 b) { return _mm512_and_si512(a, b); }
inline V4 Or(V4 a, V4 b) { return _mm512_or_si512(a, b); }
inline V4 Xor(V4 a, V4 b) { return _mm512_xor_si512(a, b); }
inline V4 Packs32(V4 a, V4 b) { return _mm512_packs_epi32(a, b); }
inline V4 UnpackLo16(V4 a, V4 b) { return _mm512_unpacklo_epi16(a, b); }
inline V4 UnpackHi16(V4 a, V4 b) { return _mm512_unpackhi_epi16(a, b); }
inline V4 UnpackLo32(V4 a, V4 b) { return _mm512_unpacklo_epi32(a, b); }
inline V4 UnpackHi32(V4 a, V4 b) { return _mm512_unpackhi_epi32(a, b); }
inline V4 UnpackLo64(V4 a, V4 b) { return _mm512_unpacklo_epi64(a, b); }
inline V4 UnpackHi64(V4 a, V4 b) { return _mm512_unpackhi_epi64(a, b); }
template <int N> inline V4 Sll16(V4 a) { return _mm512_slli_epi16(a, N); }
template <int N> inline V4 Sra16(V4 a) { return _mm512_srai_epi16(a, N); }
template <int N> inline V4 Sra32(V4 a) { return _mm512_srai_epi32(a, N); }
template <int N> inline V4 Srl16(V4 a) { return _mm512_srli_epi16(a, N); }
template <int N> inline V4 Srl32(V4 a) { return _mm512_srli_epi32(a, N); }
template <int N> inline V4 Sll32(V4 a) { return _mm512_slli_epi32(a, N); }

template <> inline V4 Splat16<V4>(int16_t v) { return _mm512_set1_epi16(v); }
inline V4 Abs16(V4 a) { return _mm512_abs_epi16(a); }
// a negated where s is negative. Unlike the narrower sign instructions a
// stays as it is where s is 0; Quantise, the one user, has a == 0 there.
inline V4 SignFrom16(V4 a, V4 s) {
    return _mm512_mask_sub_epi16(a, _mm512_movepi16_mask(s), _mm512_setzero_si512(), a);
}
template <> inline V4 Splat32<V4>(int32_t v) { return _mm512_set1_epi32(v); }
#endif
// clang-format on

// acc + Madd16(a, b) (32-bit sums wrap alike): one instruction in files built
// with AVX-512 VNNI.
#if defined(__AVX512VNNI__) && defined(__AVX512VL__)
inline V1 MaddAdd(V1 acc, V1 a, V1 b) {
    return _mm_dpwssd_epi32(acc, a, b);
}
inline V2 MaddAdd(V2 acc, V2 a, V2 b) {
    return _mm256_dpwssd_epi32(acc, a, b);
}
#else
inline V1 MaddAdd(V1 acc, V1 a, V1 b) {
    return Add32(acc, Madd16(a, b));
}
#if defined(__AVX2__)
inline V2 MaddAdd(V2 acc, V2 a, V2 b) {
    return Add32(acc, Madd16(a, b));
}
#endif
#endif
#if defined(__AVX512BW__)
#if defined(__AVX512VNNI__)
inline V4 MaddAdd(V4 acc, V4 a, V4 b) {
    return _mm512_dpwssd_epi32(acc, a, b);
}
#else
inline V4 MaddAdd(V4 acc, V4 a, V4 b) {
    return Add32(acc, Madd16(a, b));
}
#endif
#endif

// Two 16-bit multipliers in one 32-bit lane for Madd16: lo multiplies the
// even (lower) 16-bit lane, hi the odd one.
template <class V>
inline V Pair(int16_t lo, int16_t hi) {
    return Splat32<V>(
        static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(lo)) |
                             (static_cast<uint32_t>(static_cast<uint16_t>(hi)) << 16)));
}

// Eight rows of eight 16-bit lanes (per 128-bit half) in, columns out.
template <class V>
inline void Transpose8x8(V r[8]) {
    const V a0 = UnpackLo16(r[0], r[1]), a1 = UnpackHi16(r[0], r[1]);
    const V a2 = UnpackLo16(r[2], r[3]), a3 = UnpackHi16(r[2], r[3]);
    const V a4 = UnpackLo16(r[4], r[5]), a5 = UnpackHi16(r[4], r[5]);
    const V a6 = UnpackLo16(r[6], r[7]), a7 = UnpackHi16(r[6], r[7]);
    const V b0 = UnpackLo32(a0, a2), b1 = UnpackHi32(a0, a2);
    const V b2 = UnpackLo32(a1, a3), b3 = UnpackHi32(a1, a3);
    const V b4 = UnpackLo32(a4, a6), b5 = UnpackHi32(a4, a6);
    const V b6 = UnpackLo32(a5, a7), b7 = UnpackHi32(a5, a7);
    r[0] = UnpackLo64(b0, b4);
    r[1] = UnpackHi64(b0, b4);
    r[2] = UnpackLo64(b1, b5);
    r[3] = UnpackHi64(b1, b5);
    r[4] = UnpackLo64(b2, b6);
    r[5] = UnpackHi64(b2, b6);
    r[6] = UnpackLo64(b3, b7);
    r[7] = UnpackHi64(b3, b7);
}

}  // namespace
}  // namespace plix::vec
