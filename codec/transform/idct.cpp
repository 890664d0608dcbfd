#include "transform/idct.h"

#include <algorithm>

namespace plix {

namespace {

// 32 * sqrt(2) * cos(k * pi / 16), rounded; entries 0 and 4 are not used.
constexpr int32_t K[8] = {0, 44, 42, 38, 0, 25, 17, 9};

// Between the passes: the thresholds let 8161..8176 through the shift as 255
// and -8208..-8193 as -257, the one value below -256 the next pass sees.
inline int32_t LimitFirst(int32_t y) {
    if (y > 8176) return 255;
    if (y < -8208) return -256;
    return y >> 5;
}

inline int32_t LimitOutput(int32_t y) {
    const int32_t v = (y >> 6) + 128;
    return v < 0 ? 0 : (v > 255 ? 255 : v);
}

// One 8-point inverse transform from src[0], src[step], ... into dst the same
// way, each raw output passed through Limit.
template <int32_t (*Limit)(int32_t)>
inline void Kernel(const int32_t *src, int32_t *dst, int step) {
    const int32_t x0 = src[0 * step], x1 = src[1 * step], x2 = src[2 * step], x3 = src[3 * step];
    const int32_t x4 = src[4 * step], x5 = src[5 * step], x6 = src[6 * step], x7 = src[7 * step];

    const int32_t a = (x0 + x4) * 32;
    const int32_t b = (x0 - x4) * 32;
    const int32_t t = x2 * K[2] + x6 * K[6];
    const int32_t w = x2 * K[6] - x6 * K[2];
    const int32_t e0 = a + t, e3 = a - t, e1 = b + w, e2 = b - w;

    const int32_t o0 = x1 * K[1] + x3 * K[3] + x5 * K[5] + x7 * K[7];
    const int32_t o1 = x1 * K[3] - x3 * K[7] - x5 * K[1] - x7 * K[5];
    const int32_t o2 = x1 * K[5] - x3 * K[1] + x5 * K[7] + x7 * K[3];
    const int32_t o3 = x1 * K[7] - x3 * K[5] + x5 * K[3] - x7 * K[1];

    dst[0 * step] = Limit(e0 + o0);
    dst[7 * step] = Limit(e0 - o0);
    dst[1 * step] = Limit(e1 + o1);
    dst[6 * step] = Limit(e1 - o1);
    dst[2 * step] = Limit(e2 + o2);
    dst[5 * step] = Limit(e2 - o2);
    dst[3 * step] = Limit(e3 + o3);
    dst[4 * step] = Limit(e3 - o3);
}

}  // namespace

void InverseDct(int32_t block[64]) {
    int32_t mid[64];
    // Columns first, then rows: the limiter between them is part of the result.
    Kernel<LimitFirst>(block + 0, mid + 0, 8);
    Kernel<LimitFirst>(block + 1, mid + 1, 8);
    Kernel<LimitFirst>(block + 2, mid + 2, 8);
    Kernel<LimitFirst>(block + 3, mid + 3, 8);
    Kernel<LimitFirst>(block + 4, mid + 4, 8);
    Kernel<LimitFirst>(block + 5, mid + 5, 8);
    Kernel<LimitFirst>(block + 6, mid + 6, 8);
    Kernel<LimitFirst>(block + 7, mid + 7, 8);
    Kernel<LimitOutput>(mid + 0, block + 0, 1);
    Kernel<LimitOutput>(mid + 8, block + 8, 1);
    Kernel<LimitOutput>(mid + 16, block + 16, 1);
    Kernel<LimitOutput>(mid + 24, block + 24, 1);
    Kernel<LimitOutput>(mid + 32, block + 32, 1);
    Kernel<LimitOutput>(mid + 40, block + 40, 1);
    Kernel<LimitOutput>(mid + 48, block + 48, 1);
    Kernel<LimitOutput>(mid + 56, block + 56, 1);
}

void LimitDecodedBlocks(int32_t (*blocks)[64], int count, uint32_t dcOnly) {
    for (int k = 0; k < count; ++k) {
        const bool clear = (dcOnly >> k) & 1;
        for (int i = 1; i < 64; ++i) blocks[k][i] = clear ? 0 : std::clamp(blocks[k][i], -256, 255);
    }
}

}  // namespace plix
