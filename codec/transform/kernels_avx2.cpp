// AVX2 kernels: block transforms with two blocks side by side in each 256-bit
// vector, and colour conversion eight pixels per step. For one position components 0 and 1 share a
// vector and 2 takes a 128-bit one; for two neighbouring positions each component has a vector of
// its own, the left position in the low half.
#include <immintrin.h>

#include <cstddef>
#include <cstring>

#include "coefficients.h"
#include "kernel_table.h"
#include "transform/colour.h"
#include "transform/colour_x86.h"
#include "transform/dct_x86.h"
#include "transform/fdct.h"
#include "transform/kernels.h"
#include "transform/pixel_order.h"

namespace plix {

namespace {

namespace {

using vec::InverseSparse;
using vec::Limit;
using vec::V1;
using vec::V2;

inline V2 Join(V1 lo, V1 hi) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
}

inline V1 Load(const uint16_t *p) {
    return _mm_load_si128(reinterpret_cast<const V1 *>(p));
}

// True when entries 1..63 are all zero.
inline bool OnlyDcWide(const int32_t *block) {
    const V2 *p = reinterpret_cast<const V2 *>(block);
    V2 ac = _mm256_andnot_si256(_mm256_setr_epi32(-1, 0, 0, 0, 0, 0, 0, 0), _mm256_loadu_si256(p));
    for (int i = 1; i < 8; ++i) ac = _mm256_or_si256(ac, _mm256_loadu_si256(p + i));
    return _mm256_testz_si256(ac, ac) != 0;
}
}  // namespace

void ForwardBlocksAvx2(const uint8_t *pixels, size_t rowBytes, const QuantDivisors &luma,
                       const QuantDivisors &chroma, int32_t blocks[3][64]) {
    V2 yc[8];  // component 0 in the low half, component 1 in the high half
    V1 cr[8];
    const V2 mask = _mm256_set1_epi32(0xFF);
    for (int r = 0; r < 8; ++r) {
        const V2 p = _mm256_loadu_si256(
            reinterpret_cast<const V2 *>(pixels + static_cast<size_t>(r) * rowBytes));
        // packs works per half: (y 0-3, cb 0-3 | y 4-7, cb 4-7); the permute
        // puts the four quarters in order.
        const V2 y = _mm256_and_si256(_mm256_srli_epi32(p, 16), mask);
        const V2 cb = _mm256_and_si256(_mm256_srli_epi32(p, 8), mask);
        yc[r] = _mm256_permute4x64_epi64(_mm256_packs_epi32(y, cb), 0xD8);
        const V2 c = _mm256_and_si256(p, mask);
        cr[r] = _mm256_castsi256_si128(_mm256_permute4x64_epi64(_mm256_packs_epi32(c, c), 0x08));
    }
    vec::ForwardRows<V2, true>(yc);
    vec::ForwardRows<V1, true>(cr);
    for (int i = 0; i < 8; ++i) {
        const V2 q = vec::Quantise(yc[i], Join(Load(luma.mul + 8 * i), Load(chroma.mul + 8 * i)),
                                   Join(Load(luma.one + 8 * i), Load(chroma.one + 8 * i)),
                                   Join(Load(luma.half + 8 * i), Load(chroma.half + 8 * i)));
        _mm256_storeu_si256(reinterpret_cast<V2 *>(blocks[0] + 8 * i),
                            _mm256_cvtepi16_epi32(_mm256_castsi256_si128(q)));
        _mm256_storeu_si256(reinterpret_cast<V2 *>(blocks[1] + 8 * i),
                            _mm256_cvtepi16_epi32(_mm256_extracti128_si256(q, 1)));
        const V1 c = vec::Quantise(cr[i], Load(chroma.mul + 8 * i), Load(chroma.one + 8 * i),
                                   Load(chroma.half + 8 * i));
        _mm256_storeu_si256(reinterpret_cast<V2 *>(blocks[2] + 8 * i), _mm256_cvtepi16_epi32(c));
    }
}

namespace {

// Samples of n blocks as rows of 16-bit lanes: DC-only blocks are filled
// directly, the others go two at a time through the wide kernel.
void InverseMany(int32_t *const *blocks, int n, V1 (*out)[8]) {
    int busy[6], m = 0;
    for (int k = 0; k < n; ++k) {
        if (OnlyDcWide(blocks[k])) {
            const V1 s = _mm_set1_epi16(vec::DcSample(blocks[k][0]));
            for (int i = 0; i < 8; ++i) out[k][i] = s;
        } else {
            busy[m++] = k;
        }
    }
    int j = 0;
    for (; j + 2 <= m; j += 2) {
        const int32_t *a = blocks[busy[j]];
        const int32_t *b = blocks[busy[j + 1]];
        V2 r[8];
        for (int i = 0; i < 8; ++i) {
            const V1 *pa = reinterpret_cast<const V1 *>(a + 8 * i);
            const V1 *pb = reinterpret_cast<const V1 *>(b + 8 * i);
            r[i] = _mm256_packs_epi32(Join(_mm_loadu_si128(pa), _mm_loadu_si128(pb)),
                                      Join(_mm_loadu_si128(pa + 1), _mm_loadu_si128(pb + 1)));
        }
        vec::InverseRows(r);
        for (int i = 0; i < 8; ++i) {
            out[busy[j]][i] = _mm256_castsi256_si128(r[i]);
            out[busy[j + 1]][i] = _mm256_extracti128_si256(r[i], 1);
        }
    }
    if (j < m) {
        vec::LoadRows(blocks[busy[j]], out[busy[j]]);
        vec::InverseRows(out[busy[j]]);
    }
}

}  // namespace

void InverseBlocksAvx2(int32_t blocks[3][64], uint8_t *pixels, size_t rowBytes) {
    int32_t *const list[3] = {blocks[0], blocks[1], blocks[2]};
    V1 c[3][8];
    InverseMany(list, 3, c);
    vec::StorePixels(c[0], c[1], c[2], pixels, rowBytes);
}

namespace {

// Rows of two blocks of coefficients as 16-bit lanes, a in the low half;
// limited to -256..255 when limit is set.
template <bool limit>
inline void LoadPair(const int32_t *a, const int32_t *b, V2 r[8]) {
    for (int i = 0; i < 8; ++i) {
        const V1 *pa = reinterpret_cast<const V1 *>(a + 8 * i);
        const V1 *pb = reinterpret_cast<const V1 *>(b + 8 * i);
        r[i] = _mm256_packs_epi32(Join(_mm_loadu_si128(pa), _mm_loadu_si128(pb)),
                                  Join(_mm_loadu_si128(pa + 1), _mm_loadu_si128(pb + 1)));
        if (limit) r[i] = Limit(r[i]);
    }
}

inline V2 SetHalf(V2 v, V1 x, int half) {
    return half ? _mm256_inserti128_si256(v, x, 1) : _mm256_inserti128_si256(v, x, 0);
}

// One offset of eight pixels (colour_fixed::Offset) from Cb and Cr in 32-bit
// lanes. The 128 taken from both goes into the constant: t is the same sum,
// below 2^30 in magnitude all along.
inline V2 Offset8(V2 cb, V2 cr, const colour_fixed::OffsetWeights &w) {
    const int32_t k = w.k - 128 * (w.cr + w.cb);
    const V2 t = _mm256_add_epi32(
        _mm256_mullo_epi32(cr, _mm256_set1_epi32(w.cr)),
        _mm256_add_epi32(_mm256_mullo_epi32(cb, _mm256_set1_epi32(w.cb)), _mm256_set1_epi32(k)));
    return _mm256_sign_epi32(_mm256_srli_epi32(_mm256_abs_epi32(t), colour_fixed::kOffsetShift), t);
}

// Eight pixels from Y, Cb and Cr in 32-bit lanes to RGB (blue in byte 0, byte
// 3 zero), each channel Y plus its offset limited to 0..255, as the tables of
// ConvertYccToRgb give them; computed, not looked up.
inline V2 ToRgb8(V2 y, V2 cb, V2 cr) {
    const V2 b = _mm256_add_epi32(y, Offset8(cb, cr, colour_fixed::kBlueOffset));
    const V2 g = _mm256_add_epi32(y, Offset8(cb, cr, colour_fixed::kGreenOffset));
    const V2 r = _mm256_add_epi32(y, Offset8(cb, cr, colour_fixed::kRedOffset));
    // Per 128-bit half: bytes b0-3 g0-3 r0-3 0000, saturated, then spread to
    // pixels.
    const V2 bytes = _mm256_packus_epi16(_mm256_packs_epi32(b, g),
                                         _mm256_packs_epi32(r, _mm256_setzero_si256()));
    const V2 spread = _mm256_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15, 0, 4,
                                       8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15);
    return _mm256_shuffle_epi8(bytes, spread);
}

// The same from 16-bit lanes of Y, Cb and Cr.
inline V2 ToRgb8(V1 y, V1 cb, V1 cr) {
    return ToRgb8(_mm256_cvtepi16_epi32(y), _mm256_cvtepi16_epi32(cb), _mm256_cvtepi16_epi32(cr));
}

// The offsets of blue, green and red as 16-bit lanes, the same for every
// pixel.
struct Offsets {
    V1 blue, green, red;
};

// Eight pixels from Y in 16-bit lanes and offsets that do not change.
inline V2 ToRgb8(V1 y, const Offsets &o) {
    const V1 bg = _mm_packus_epi16(_mm_add_epi16(y, o.blue), _mm_add_epi16(y, o.green));
    const V1 r = _mm_packus_epi16(_mm_add_epi16(y, o.red), _mm_setzero_si128());
    const V1 bgPairs = _mm_unpacklo_epi8(bg, _mm_srli_si128(bg, 8));
    const V1 r0Pairs = _mm_unpacklo_epi8(r, _mm_setzero_si128());
    return Join(_mm_unpacklo_epi16(bgPairs, r0Pairs), _mm_unpackhi_epi16(bgPairs, r0Pairs));
}

// A row of a pair's pixels, 64 bytes at p, streamed past the caches where
// asked: whole when they are one cache line, else each half whose line the
// neighbour on that side streams too (Dsp::inverseDecoded2Streaming).
template <bool stream>
inline void StoreRow(V2 *p, V2 left, V2 right, unsigned neighbours) {
    const bool whole = reinterpret_cast<uintptr_t>(p) % 64 == 0;
    if (stream && (whole || (neighbours & 1)))
        _mm256_stream_si256(p, left);
    else
        _mm256_storeu_si256(p, left);
    if (stream && (whole || (neighbours & 2)))
        _mm256_stream_si256(p + 1, right);
    else
        _mm256_storeu_si256(p + 1, right);
}

// The body of InverseDecoded2Avx2. Raw: the AC entries are limited here, and
// a block whose bit k is set in dcOnly is taken as its entry 0 alone, the
// others unread. Otherwise the blocks are looked at to find those.
template <bool raw, bool stream = false>
inline void Inverse2(int32_t blocks[6][64], uint32_t dcOnly, uint8_t *pixels, size_t rowBytes,
                     const YccToRgbTables *tables = nullptr, unsigned neighbours = 0) {
    // rows[k]: component k of the left position in the low half, of the
    // right one in the high half. A pair of DC-only blocks is filled directly,
    // two busy blocks go through the wide kernel together, and the busy
    // blocks whose partner is DC-only are paired with each other.
    V2 rows[3][8];
    struct Single {
        int k, half;
    } singles[3];
    int n = 0;
    for (int k = 0; k < 3; ++k) {
        const int32_t *a = blocks[k], *b = blocks[k + 3];
        const bool dcA = raw ? ((dcOnly >> k) & 1) != 0 : OnlyDcWide(a);
        const bool dcB = raw ? ((dcOnly >> (k + 3)) & 1) != 0 : OnlyDcWide(b);
        if (dcA && dcB) {
            const V2 s =
                Join(_mm_set1_epi16(vec::DcSample(a[0])), _mm_set1_epi16(vec::DcSample(b[0])));
            for (int i = 0; i < 8; ++i) rows[k][i] = s;
        } else if (!dcA && !dcB) {
            LoadPair<raw>(a, b, rows[k]);
            InverseSparse(rows[k]);
        } else {
            const V2 s = _mm256_set1_epi16(vec::DcSample(dcA ? a[0] : b[0]));
            for (int i = 0; i < 8; ++i) rows[k][i] = s;
            singles[n++] = {k, dcA ? 1 : 0};
        }
    }
    int j = 0;
    if (n >= 2) {
        const Single s0 = singles[0], s1 = singles[1];
        V2 r[8];
        LoadPair<raw>(blocks[s0.k + 3 * s0.half], blocks[s1.k + 3 * s1.half], r);
        InverseSparse(r);
        for (int i = 0; i < 8; ++i) {
            rows[s0.k][i] = SetHalf(rows[s0.k][i], _mm256_castsi256_si128(r[i]), s0.half);
            rows[s1.k][i] = SetHalf(rows[s1.k][i], _mm256_extracti128_si256(r[i], 1), s1.half);
        }
        j = 2;
    }
    if (j < n) {
        const Single s = singles[j];
        V1 r[8];
        vec::LoadRows(blocks[s.k + 3 * s.half], r);
        if (raw)
            for (int i = 0; i < 8; ++i) r[i] = Limit(r[i]);
        vec::InverseRows(r);
        for (int i = 0; i < 8; ++i) rows[s.k][i] = SetHalf(rows[s.k][i], r[i], s.half);
    }

    if (raw && tables) {
        // Where both chroma blocks of a position are DC only, the offsets
        // are the same for all its pixels: found once, then added to Y.
        const auto constant = [&](int half) {
            return ((dcOnly >> (3 * half + 1)) & (dcOnly >> (3 * half + 2)) & 1) != 0;
        };
        const auto offsets = [&](int half) {
            const int32_t cb = vec::DcSample(blocks[3 * half + 1][0]);
            const int32_t cr = vec::DcSample(blocks[3 * half + 2][0]);
            return Offsets{
                _mm_set1_epi16(
                    static_cast<int16_t>(colour_fixed::Offset(colour_fixed::kBlueOffset, cb, cr))),
                _mm_set1_epi16(
                    static_cast<int16_t>(colour_fixed::Offset(colour_fixed::kGreenOffset, cb, cr))),
                _mm_set1_epi16(
                    static_cast<int16_t>(colour_fixed::Offset(colour_fixed::kRedOffset, cb, cr)))};
        };
        const bool same[2] = {constant(0), constant(1)};
        Offsets fixed[2];
        for (int half = 0; half < 2; ++half)
            if (same[half]) fixed[half] = offsets(half);
        for (int i = 0; i < 8; ++i) {
            V2 *p = reinterpret_cast<V2 *>(pixels + static_cast<size_t>(i) * rowBytes);
            const V1 y[2] = {_mm256_castsi256_si128(rows[0][i]),
                             _mm256_extracti128_si256(rows[0][i], 1)};
            V2 rgb[2];
            for (int half = 0; half < 2; ++half) {
                rgb[half] = same[half] ? ToRgb8(y[half], fixed[half])
                                       : ToRgb8(y[half],
                                                half ? _mm256_extracti128_si256(rows[1][i], 1)
                                                     : _mm256_castsi256_si128(rows[1][i]),
                                                half ? _mm256_extracti128_si256(rows[2][i], 1)
                                                     : _mm256_castsi256_si128(rows[2][i]));
            }
            StoreRow<stream>(p, rgb[0], rgb[1], neighbours);
        }
        return;
    }
    // Into pixel bytes 2, 1 and 0 of sixteen pixels a row; byte 3 becomes 0xFF.
    const V2 opaque = _mm256_set1_epi32(static_cast<int32_t>(0xFF000000u));
    for (int i = 0; i < 8; ++i) {
        V2 *p = reinterpret_cast<V2 *>(pixels + static_cast<size_t>(i) * rowBytes);
        const V2 low = _mm256_or_si256(rows[2][i], _mm256_slli_epi16(rows[1][i], 8));
        const V2 lo = _mm256_unpacklo_epi16(low, rows[0][i]);  // left 0-3 | right 0-3
        const V2 hi = _mm256_unpackhi_epi16(low, rows[0][i]);  // left 4-7 | right 4-7
        const V2 left = _mm256_permute2x128_si256(lo, hi, 0x20);
        const V2 right = _mm256_permute2x128_si256(lo, hi, 0x31);
        StoreRow<stream>(p, _mm256_or_si256(left, opaque), _mm256_or_si256(right, opaque),
                         neighbours);
    }
}

}  // namespace

void InverseDecoded2Avx2(int32_t blocks[6][64], uint32_t dcOnly, uint8_t *pixels, size_t rowBytes,
                         const YccToRgbTables *tables) {
    Inverse2<true>(blocks, dcOnly, pixels, rowBytes, tables);
}

void InverseDecoded2StreamingAvx2(int32_t blocks[6][64], uint32_t dcOnly, uint8_t *pixels,
                                  size_t rowBytes, const YccToRgbTables *tables,
                                  unsigned neighbours) {
    Inverse2<true, true>(blocks, dcOnly, pixels, rowBytes, tables, neighbours);
}

void FinishStreamingAvx2() {
    _mm_sfence();
}

namespace {

// Two neighbouring positions transformed and quantised: q[k][i] is row i of
// component k as 16-bit lanes, the left position in the low half.
inline void ForwardPair(const uint8_t *pixels, size_t rowBytes, const QuantDivisors &luma,
                        const QuantDivisors &chroma, V2 q[3][8]) {
    // Byte shuffles within each 128-bit half (four pixels): bytes 2 (Y) and 1
    // (Cb) of each pixel as two groups of 16-bit lanes; byte 0 (Cr) likewise.
    const V2 ycbOrder = _mm256_setr_epi8(2, -1, 6, -1, 10, -1, 14, -1, 1, -1, 5, -1, 9, -1, 13, -1,
                                         2, -1, 6, -1, 10, -1, 14, -1, 1, -1, 5, -1, 9, -1, 13, -1);
    const V2 crOrder =
        _mm256_setr_epi8(0, -1, 4, -1, 8, -1, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, -1, 4, -1,
                         8, -1, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    for (int r = 0; r < 8; ++r) {
        const V2 *row = reinterpret_cast<const V2 *>(pixels + static_cast<size_t>(r) * rowBytes);
        const V2 a = _mm256_loadu_si256(row), b = _mm256_loadu_si256(row + 1);
        const V2 sa = _mm256_shuffle_epi8(a, ycbOrder), sb = _mm256_shuffle_epi8(b, ycbOrder);
        // Quarters (left 0-3, right 0-3 | left 4-7, right 4-7), then in order.
        q[0][r] = _mm256_permute4x64_epi64(_mm256_unpacklo_epi64(sa, sb), 0xD8);
        q[1][r] = _mm256_permute4x64_epi64(_mm256_unpackhi_epi64(sa, sb), 0xD8);
        q[2][r] = _mm256_permute4x64_epi64(
            _mm256_unpacklo_epi64(_mm256_shuffle_epi8(a, crOrder), _mm256_shuffle_epi8(b, crOrder)),
            0xD8);
    }
    const QuantDivisors *div[3] = {&luma, &chroma, &chroma};
    for (int k = 0; k < 3; ++k) {
        vec::ForwardRows<V2, true>(q[k]);
        for (int i = 0; i < 8; ++i)
            q[k][i] = vec::Quantise(q[k][i], _mm256_broadcastsi128_si256(Load(div[k]->mul + 8 * i)),
                                    _mm256_broadcastsi128_si256(Load(div[k]->one + 8 * i)),
                                    _mm256_broadcastsi128_si256(Load(div[k]->half + 8 * i)));
    }
}

// Index (2^n * kDeBruijn mod 2^16) >> 12 is different for each n from 0 to 15,
// so one byte shuffle turns 2^n into n.
constexpr uint16_t kDeBruijn = 0x09AF;

struct PowerTable {
    int8_t n[16];
};

constexpr PowerTable BuildPowerTable() {
    PowerTable t{};
    bool seen[16] = {};
    for (int n = 0; n < 16; ++n) {
        const int index = ((kDeBruijn << n) & 0xFFFF) >> 12;
        if (seen[index]) throw "not a de Bruijn sequence";
        seen[index] = true;
        t.n[index] = static_cast<int8_t>(n);
    }
    return t;
}

constexpr PowerTable kPowerTable = BuildPowerTable();
static_assert(kPowerTable.n[0] == 0, "2^0 must map to index 0 so that high bytes stay 0");

// Byte shuffles that gather zigzag positions 16k..16k+15 from the categories
// of rows 2j and 2j + 1 (bytes 0-7 and 8-15 of a 128-bit half); 0x80 where
// another pair of rows holds the position.
struct ZigzagGather {
    int8_t from[4][4][16];  // [k][j][byte]
    bool used[4][4];
};

constexpr ZigzagGather BuildZigzagGather() {
    ZigzagGather g{};
    for (int k = 0; k < 4; ++k)
        for (int j = 0; j < 4; ++j)
            for (int t = 0; t < 16; ++t) {
                const int z = ZigzagOrder[16 * k + t], row = z / 8;
                const bool here = row / 2 == j;
                g.from[k][j][t] = static_cast<int8_t>(here ? (row % 2) * 8 + z % 8 : -128);
                g.used[k][j] = g.used[k][j] || here;
            }
    return g;
}

constexpr ZigzagGather kZigzagGather = BuildZigzagGather();

// Zigzag masks of the non-zero entries of two blocks from their categories
// (sizes[j]: rows 2j and 2j + 1, left block in the low half).
inline void NonZeroPair(const V2 sizes[4], uint64_t &left, uint64_t &right) {
    V2 chunk[4];
    for (int k = 0; k < 4; ++k) {
        chunk[k] = _mm256_setzero_si256();
        for (int j = 0; j < 4; ++j) {
            if (!kZigzagGather.used[k][j]) continue;
            const V2 from = _mm256_broadcastsi128_si256(
                _mm_loadu_si128(reinterpret_cast<const V1 *>(kZigzagGather.from[k][j])));
            chunk[k] = _mm256_or_si256(chunk[k], _mm256_shuffle_epi8(sizes[j], from));
        }
    }
    // Positions 0-31 and 32-63 of each block in one vector each.
    const V2 zero = _mm256_setzero_si256();
    auto zeros = [&](V2 v) {
        return static_cast<uint64_t>(
            static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, zero))));
    };
    left = ~(zeros(_mm256_permute2x128_si256(chunk[0], chunk[1], 0x20)) |
             zeros(_mm256_permute2x128_si256(chunk[2], chunk[3], 0x20)) << 32);
    right = ~(zeros(_mm256_permute2x128_si256(chunk[0], chunk[1], 0x31)) |
              zeros(_mm256_permute2x128_si256(chunk[2], chunk[3], 0x31)) << 32);
}

// Rows of two quantised blocks (left in the low half) into their prepared
// forms. For |v| = a: m = 2^n - 1 with n the category (a smeared right), the
// value bits are v or v - 1 masked by m, and n comes from m + 1 = 2^n. Lanes
// stay within 16 bits, as the coefficients do.
inline void PreparePair(const V2 q[8], PreparedBlock &left, PreparedBlock &right) {
    const V2 table =
        _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const V1 *>(kPowerTable.n)));
    const V2 multiplier = _mm256_set1_epi16(static_cast<int16_t>(kDeBruijn));
    const V2 one = _mm256_set1_epi16(1);
    V2 sizes[4];
    for (int i = 0; i < 8; i += 2) {
        V2 n[2];
        for (int j = 0; j < 2; ++j) {
            const V2 v = q[i + j];
            const V2 a = _mm256_abs_epi16(v);
            V2 m = _mm256_or_si256(a, _mm256_srli_epi16(a, 1));
            m = _mm256_or_si256(m, _mm256_srli_epi16(m, 2));
            m = _mm256_or_si256(m, _mm256_srli_epi16(m, 4));
            m = _mm256_or_si256(m, _mm256_srli_epi16(m, 8));
            const V2 bits = _mm256_and_si256(_mm256_add_epi16(v, _mm256_srai_epi16(v, 15)), m);
            _mm_store_si128(reinterpret_cast<V1 *>(left.bits + 8 * (i + j)),
                            _mm256_castsi256_si128(bits));
            _mm_store_si128(reinterpret_cast<V1 *>(right.bits + 8 * (i + j)),
                            _mm256_extracti128_si256(bits, 1));
            const V2 index =
                _mm256_srli_epi16(_mm256_mullo_epi16(_mm256_add_epi16(m, one), multiplier), 12);
            n[j] = _mm256_shuffle_epi8(table, index);
        }
        // Rows i and i + 1 of the left block | of the right one.
        const V2 s = sizes[i / 2] = _mm256_packus_epi16(n[0], n[1]);
        _mm_store_si128(reinterpret_cast<V1 *>(left.size + 8 * i), _mm256_castsi256_si128(s));
        _mm_store_si128(reinterpret_cast<V1 *>(right.size + 8 * i), _mm256_extracti128_si256(s, 1));
    }
    NonZeroPair(sizes, left.nonZero, right.nonZero);
    left.dc = static_cast<int16_t>(_mm256_extract_epi16(q[0], 0));
    right.dc = static_cast<int16_t>(_mm256_extract_epi16(q[0], 8));
}

}  // namespace

void ForwardBlocks2PreparedAvx2(const uint8_t *pixels, size_t rowBytes, const QuantDivisors &luma,
                                const QuantDivisors &chroma, PreparedBlock blocks[6]) {
    V2 q[3][8];
    ForwardPair(pixels, rowBytes, luma, chroma, q);
    for (int k = 0; k < 3; ++k) PreparePair(q[k], blocks[k], blocks[k + 3]);
}

inline V2 PixelsToRgb(V2 px) {
    const V2 byteMask = _mm256_set1_epi32(0xFF);
    const V2 cr = _mm256_and_si256(px, byteMask);
    const V2 cb = _mm256_and_si256(_mm256_srli_epi32(px, 8), byteMask);
    const V2 y = _mm256_and_si256(_mm256_srli_epi32(px, 16), byteMask);
    return ToRgb8(y, cb, cr);
}

// Computed, not looked up: a few pixels left at the end of each row would
// otherwise meet tables long gone from the caches. The last pixels of a row go
// through masked loads and stores.
void ConvertYccToRgbAvx2(uint8_t *pixels, int32_t paddedWidth, int32_t width, int32_t height,
                         const YccToRgbTables &) {
    vec::YccToRgbRows<8>(
        pixels, paddedWidth, width, height,
        [](uint8_t *p) {
            V2 *v = reinterpret_cast<V2 *>(p);
            _mm256_storeu_si256(v, PixelsToRgb(_mm256_loadu_si256(v)));
        },
        [](uint8_t *p, int32_t n) {
            const V2 mask =
                _mm256_cmpgt_epi32(_mm256_set1_epi32(n), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
            int *q = reinterpret_cast<int *>(p);
            _mm256_maskstore_epi32(q, mask, PixelsToRgb(_mm256_maskload_epi32(q, mask)));
        });
}

}  // namespace

namespace {

// Eight pixels a step. Each half of a vector turns four pixels into twelve
// bytes (or back) with a byte shuffle; the halves' bytes are moved together
// (or apart) by a 32-bit permute. A step's 32-byte load (unpacking) or store
// (packing) reaches 8 bytes past its 24, so steps run while at least three
// pixels follow; those bytes are then rewritten by what comes next.
template <bool rgb>
void PackPixels3Avx2(const uint8_t *strip, uint8_t *out, size_t count) {
    // The strip byte each output byte takes first and last (red or blue).
    constexpr char f = rgb ? 2 : 0, l = rgb ? 0 : 2, z = -1;
    const __m256i shuffle = _mm256_setr_epi8(
        f, 1, l, f + 4, 5, l + 4, f + 8, 9, l + 8, f + 12, 13, l + 12, z, z, z, z,  //
        f, 1, l, f + 4, 5, l + 4, f + 8, 9, l + 8, f + 12, 13, l + 12, z, z, z, z);
    const __m256i together = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);
    size_t x = 0;
    for (; x + 11 <= count; x += 8) {
        const __m256i v =
            _mm256_loadu_si256(reinterpret_cast<const __m256i *>(strip + 4 * x));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + 3 * x),
                            _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(v, shuffle), together));
    }
    PackPixels3(strip + 4 * x, out + 3 * x, count - x, rgb);
}

template <bool rgb>
void UnpackPixels3Avx2(const uint8_t *in, uint8_t *strip, size_t count) {
    // Where blue and red come from in each pixel's three bytes.
    constexpr char b = rgb ? 2 : 0, r = rgb ? 0 : 2, z = -1;
    const __m256i shuffle = _mm256_setr_epi8(
        b, 1, r, z, b + 3, 4, r + 3, z, b + 6, 7, r + 6, z, b + 9, 10, r + 9, z,  //
        b, 1, r, z, b + 3, 4, r + 3, z, b + 6, 7, r + 6, z, b + 9, 10, r + 9, z);
    const __m256i apart = _mm256_setr_epi32(0, 1, 2, 3, 3, 4, 5, 6);
    size_t x = 0;
    for (; x + 11 <= count; x += 8) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + 3 * x));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(strip + 4 * x),
                            _mm256_shuffle_epi8(_mm256_permutevar8x32_epi32(v, apart), shuffle));
    }
    UnpackPixels3(in + 3 * x, strip + 4 * x, count - x, rgb);
}

void PackPixels3Avx2(const uint8_t *strip, uint8_t *out, size_t count, bool rgb) {
    (rgb ? PackPixels3Avx2<true> : PackPixels3Avx2<false>)(strip, out, count);
}

void UnpackPixels3Avx2(const uint8_t *in, uint8_t *strip, size_t count, bool rgb) {
    (rgb ? UnpackPixels3Avx2<true> : UnpackPixels3Avx2<false>)(in, strip, count);
}

// Shuffles for eight 16-bit values: packing those a mask picks to the
// front, and spreading packed ones back to where a mask puts them.
struct KeepShuffles {
    alignas(16) uint8_t pack[256][16];
    alignas(16) uint8_t spread[256][16];
    uint8_t count[256];
};

constexpr KeepShuffles MakeKeepShuffles() {
    KeepShuffles t{};
    for (int m = 0; m < 256; ++m) {
        int k = 0;
        for (int j = 0; j < 8; ++j) {
            t.spread[m][2 * j] = t.spread[m][2 * j + 1] = 0x80;
            if (m >> j & 1) {
                t.pack[m][2 * k] = static_cast<uint8_t>(2 * j);
                t.pack[m][2 * k + 1] = static_cast<uint8_t>(2 * j + 1);
                t.spread[m][2 * j] = static_cast<uint8_t>(2 * k);
                t.spread[m][2 * j + 1] = static_cast<uint8_t>(2 * k + 1);
                ++k;
            }
        }
        for (int j = 2 * k; j < 16; ++j) t.pack[m][j] = 0x80;
        t.count[m] = static_cast<uint8_t>(k);
    }
    return t;
}

constexpr KeepShuffles kKeepShuffles = MakeKeepShuffles();

// Bit i set for each of the eight entries that is not 0.
int NonZero8(__m256i v) {
    return _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(v, _mm256_setzero_si256()))) ^
           0xFF;
}

size_t KeepPositionAvx2(const int32_t (*blocks)[64], uint32_t dcOnly, uint64_t masks[3],
                        int16_t *values) {
    size_t n = 0;
    for (int c = 0; c < 3; ++c) {
        uint64_t mask = 0;
        if (!(dcOnly >> c & 1)) {
            for (int h = 0; h < 64; h += 16) {
                const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(blocks[c] + h));
                const __m256i b =
                    _mm256_loadu_si256(reinterpret_cast<const __m256i *>(blocks[c] + h + 8));
                // Entry 0 is the DC, kept apart.
                const int ma = NonZero8(a) & (h == 0 ? 0xFE : 0xFF);
                const int mb = NonZero8(b);
                // Saturated to 16 bits, a's eight then b's in order.
                const __m256i both = _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), 0xD8);
                const auto put = [&](__m128i v, int m) {
                    _mm_storeu_si128(reinterpret_cast<__m128i *>(values + n),
                                     _mm_shuffle_epi8(v, _mm_load_si128(reinterpret_cast<const __m128i *>(
                                                             kKeepShuffles.pack[m]))));
                    n += kKeepShuffles.count[m];
                };
                put(_mm256_castsi256_si128(both), ma);
                put(_mm256_extracti128_si256(both, 1), mb);
                mask |= static_cast<uint64_t>(ma | mb << 8) << h;
            }
        }
        masks[c] = mask;
    }
    return n;
}

size_t RestoreBlockAvx2(uint64_t mask, const int16_t *values, int32_t block[64]) {
    size_t n = 0;
    for (int j = 0; j < 64; j += 8) {
        const int m = static_cast<int>(mask >> j & 0xFF);
        const __m128i v = _mm_shuffle_epi8(
            _mm_loadu_si128(reinterpret_cast<const __m128i *>(values + n)),
            _mm_load_si128(reinterpret_cast<const __m128i *>(kKeepShuffles.spread[m])));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(block + j), _mm256_cvtepi16_epi32(v));
        n += kKeepShuffles.count[m];
    }
    return n;
}

}  // namespace

void InstallAvx2Kernels(Dsp &dsp) {
    dsp.packPixels3 = PackPixels3Avx2;
    dsp.unpackPixels3 = UnpackPixels3Avx2;
    dsp.forwardBlocks = ForwardBlocksAvx2;
    dsp.inverseBlocks = InverseBlocksAvx2;
    dsp.forwardBlocks2Prepared = ForwardBlocks2PreparedAvx2;
    dsp.inverseDecoded2 = InverseDecoded2Avx2;
    dsp.inverseDecoded2Streaming = InverseDecoded2StreamingAvx2;
    dsp.finishStreaming = FinishStreamingAvx2;
    dsp.rgbToYcc = vec::RgbToYccPixels<__m256i>;
    dsp.yccToRgb = ConvertYccToRgbAvx2;
    dsp.keepPosition = KeepPositionAvx2;
    dsp.restoreBlock = RestoreBlockAvx2;
}

}  // namespace plix
