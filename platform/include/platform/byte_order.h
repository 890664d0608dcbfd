// Byte order in one place: little-endian fields of file headers, read and
// written byte by byte so that neither alignment nor the machine's byte order
// matters, and the big-endian words of the bit streams.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__wasm_simd128__)
#include <wasm_simd128.h>
#endif

namespace plix::platform {

inline uint16_t Le16(const uint8_t *p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t Le32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// A 32-bit field that holds a signed value (two's complement).
inline int32_t Le32Signed(const uint8_t *p) {
    return static_cast<int32_t>(Le32(p));
}

inline void PutLe16(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

inline void PutLe32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Eight bytes as one big-endian word, and back.
#if defined(__wasm_simd128__)
// WebAssembly has no byte swap: the compiler spells one out in some twenty
// shifts and masks, while a vector shuffle is a single instruction.
inline uint64_t LoadBe64(const uint8_t *p) {
    const v128_t v = wasm_v128_load64_zero(p);
    return static_cast<uint64_t>(wasm_i64x2_extract_lane(
        wasm_i8x16_shuffle(v, v, 7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8), 0));
}

inline void StoreBe64(uint8_t *p, uint64_t v) {
    const v128_t w = wasm_i64x2_splat(static_cast<int64_t>(v));
    wasm_v128_store64_lane(
        p, wasm_i8x16_shuffle(w, w, 7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8), 0);
}
#else
inline uint64_t LoadBe64(const uint8_t *p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
    return v;
}

inline void StoreBe64(uint8_t *p, uint64_t v) {
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
    std::memcpy(p, &v, 8);
}
#endif

}  // namespace plix::platform
