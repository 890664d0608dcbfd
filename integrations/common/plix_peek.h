// What the image loaders learn from the 16-byte header before decoding: enough
// to recognise a PLIX file by its content and to refuse sizes they will not
// allocate. Only the library decodes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plix::integration {

inline constexpr size_t kHeaderBytes = 16;

struct PeekedHeader {
    uint8_t mode = 0;
    uint8_t matrix = 0;
    uint8_t qfactor = 0;
    int32_t width = 0;
    int32_t height = 0;
};

inline int32_t ReadLe32(const uint8_t *p) {
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                                (static_cast<uint32_t>(p[2]) << 16) |
                                (static_cast<uint32_t>(p[3]) << 24));
}

// True when the bytes start with the magic and a mode and matrix set that
// writers produce; a content sniffer must not claim anything looser.
inline bool PeekHeader(const void *data, size_t size, PeekedHeader *out) {
    const auto *p = static_cast<const uint8_t *>(data);
    if (!p || size < kHeaderBytes) return false;
    if (p[0] != 'P' || p[1] != 'L' || p[2] != 'I' || p[3] != 'X') return false;
    if (p[4] > 1 || p[5] > 2) return false;
    if (out) {
        out->mode = p[4];
        out->matrix = p[5];
        out->qfactor = p[6];
        out->height = ReadLe32(p + 8);
        out->width = ReadLe32(p + 12);
    }
    return true;
}

// The library takes the size as a signed 32-bit count.
inline constexpr size_t kMaxFileBytes = 0x7FFFFFFF;

}  // namespace plix::integration
