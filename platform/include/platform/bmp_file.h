// The BMP header fields and the 24-bit writer that the codec and the viewer
// share. Where they differ (how a row is filled, what a failure is called),
// the caller says so.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "platform/byte_order.h"
#include "platform/file.h"

namespace plix::platform {

inline constexpr size_t kBmpFileHeaderSize = 14;
inline constexpr size_t kBmpInfoHeaderSize = 40;   // the classic information header
inline constexpr uint16_t kBmpSignature = 0x4D42;  // "BM"

// Bytes of one 24-bit row, padded to a multiple of 4.
inline uint64_t Bmp24Stride(int64_t width) {
    return (static_cast<uint64_t>(width) * 3 + 3) & ~uint64_t{3};
}

// The classic information header of an uncompressed (or bit-field) picture.
inline void PutBmpInfoHeader(uint8_t *h, int32_t width, int32_t height, uint16_t bitsPerPixel,
                             uint32_t compression, uint32_t imageBytes) {
    for (size_t i = 0; i < kBmpInfoHeaderSize; ++i) h[i] = 0;
    PutLe32(h + 0, kBmpInfoHeaderSize);
    PutLe32(h + 4, static_cast<uint32_t>(width));
    PutLe32(h + 8, static_cast<uint32_t>(height));
    PutLe16(h + 12, 1);
    PutLe16(h + 14, bitsPerPixel);
    PutLe32(h + 16, compression);
    PutLe32(h + 20, imageBytes);
}

enum class Bmp24Write { Ok, TooLarge, NoMemory, Failed };

// Writes a bottom-up 24-bit BMP file of width x height pixels (both at least
// 0). fillRow(y, row) stores the blue, green and red bytes of picture row y
// (0 the top one) at row; the padding stays 0. The file is replaced only when
// everything was written; on failure an existing file stays as it was.
template <class FillRow>
Bmp24Write WriteBmp24(const char *path, int32_t width, int32_t height, FillRow fillRow) {
    const uint64_t stride = Bmp24Stride(width);
    const uint64_t imageBytes = stride * static_cast<uint64_t>(height);
    const uint64_t fileSize = kBmpFileHeaderSize + kBmpInfoHeaderSize + imageBytes;
    if (width < 0 || height < 0 || fileSize > 0xFFFFFFFFu) return Bmp24Write::TooLarge;

    uint8_t head[kBmpFileHeaderSize + kBmpInfoHeaderSize] = {};
    PutLe16(head, kBmpSignature);
    PutLe32(head + 2, static_cast<uint32_t>(fileSize));
    PutLe32(head + 10, kBmpFileHeaderSize + kBmpInfoHeaderSize);
    // The image size field stays 0, as allowed for uncompressed pictures.
    PutBmpInfoHeader(head + kBmpFileHeaderSize, width, height, 24, 0, 0);

    // Rows go out in chunks of about 256 KiB, so that a large picture does
    // not cost one system call per row. Zeroed once: the padding bytes after
    // the last pixel are never written over.
    const size_t rows = static_cast<size_t>(height);
    const size_t row = static_cast<size_t>(stride);
    size_t chunkRows = row > 0 ? (size_t{1} << 18) / row : 1;
    if (chunkRows < 1) chunkRows = 1;
    if (chunkRows > rows) chunkRows = rows;
    struct Free {
        void operator()(uint8_t *p) const { std::free(p); }
    };
    std::unique_ptr<uint8_t, Free> chunk(
        static_cast<uint8_t *>(std::calloc(chunkRows > 0 ? chunkRows : 1, row > 0 ? row : 1)));
    if (!chunk) return Bmp24Write::NoMemory;

    OutputFile out;
    bool ok = out.Create(path) && out.Write(head, sizeof head);
    for (size_t written = 0; ok && written < rows;) {
        const size_t n = rows - written < chunkRows ? rows - written : chunkRows;
        for (size_t i = 0; i < n; ++i)
            fillRow(static_cast<int32_t>(rows - 1 - written - i), chunk.get() + i * row);
        ok = out.Write(chunk.get(), n * row);
        written += n;
    }
    if (ok) ok = out.Commit();
    if (!ok) {
        out.Abort();
        return Bmp24Write::Failed;
    }
    return Bmp24Write::Ok;
}

}  // namespace plix::platform
