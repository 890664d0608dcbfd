// The viewer's picture: one block holding a 40-byte bitmap information header,
// an optional colour table and bottom-up 24-bit rows, the layout BMP files use
// after their 14-byte file header.
#pragma once

#include <QPainter>
#include <QPoint>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <stdexcept>
#include <utility>

#include "platform/bmp_file.h"

namespace plix::platform {
class InputFile;
}

// Raised by CDibImage::Read. The causes keep the values the viewer's reports
// are keyed on.
class CArchiveException : public std::runtime_error {
public:
    enum Cause { endOfFile = 3, badIndex = 5 };
    CArchiveException(Cause cause, const char *what) : std::runtime_error(what), m_cause(cause) {}
    Cause m_cause;
};

// A rectangle in device pixels; right and bottom are exclusive.
struct DibRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    bool operator==(const DibRect &) const = default;
};

class CDibImage {
public:
    // Largest block the picture holds; keeps every offset and the drawing
    // engine's row length within a signed 32-bit value.
    static constexpr uint64_t kMaxBlockSize = 0x7FFFFFFF;

    CDibImage() = default;
    CDibImage(const CDibImage &) = delete;
    CDibImage &operator=(const CDibImage &) = delete;
    virtual ~CDibImage() = default;

    // Builds a picture with uninitialised rows. Only 24 bits per pixel with
    // compression 0 or 3 are made; other requests and negative sizes are
    // refused and keep the old picture. False when memory is short (the old
    // picture is gone then).
    virtual bool Create(int32_t width, int32_t height, int32_t bitsPerPixel, int32_t compression);
    virtual void Free();
    // Draws the part of the picture under rect, scaled by zoomPercent, with its
    // top-left corner at origin. rect becomes the destination rectangle.
    // True when something was drawn.
    virtual bool Paint(QPainter &dc, DibRect &rect, QPoint origin, int zoomPercent,
                       QPainter::CompositionMode mode = QPainter::CompositionMode_SourceOver);
    // Reads an uncompressed 24-bit BMP file. Raises CArchiveException for a
    // short or unsupported file and std::bad_alloc when memory is short; the
    // picture is empty after any failure. Rows stored top-down come out
    // bottom-up like all others.
    virtual bool Read(plix::platform::InputFile &file);

    // Exchanges the two pictures, so that a new one can be built aside and
    // take over only once it is complete.
    void Swap(CDibImage &other) noexcept {
        block_.swap(other.block_);
        std::swap(blockSize_, other.blockSize_);
    }

    bool IsEmpty() const { return !block_; }
    int32_t GetWidth() const;
    int32_t GetHeight() const;
    int32_t GetBitsPerPixel() const;
    int32_t GetCompression() const;
    int32_t GetColorCount() const;
    // Bytes per row: 3 bytes a pixel, padded to a multiple of 4.
    uint32_t GetStride() const;
    uint8_t *GetBits();
    const uint8_t *GetBits() const;
    uint32_t GetBitsSize() const;
    bool CopyBits(uint8_t *dest) const;

    // The block: header, colour table, rows.
    const uint8_t *Block() const { return block_.get(); }
    size_t BlockSize() const { return blockSize_; }

    static uint64_t StrideFor(int64_t width) { return plix::platform::Bmp24Stride(width); }

private:
    uint32_t HeaderField32(size_t offset) const;
    uint16_t HeaderField16(size_t offset) const;

    std::unique_ptr<uint8_t[]> block_;
    size_t blockSize_ = 0;
};
