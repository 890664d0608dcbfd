#include "dib_image.h"

#include <QImage>

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/bmp_file.h"
#include "platform/byte_order.h"
#include "platform/file.h"

namespace {

using plix::platform::Le16;
using plix::platform::Le32;
using plix::platform::PutLe32;

constexpr size_t kInfoHeaderSize = plix::platform::kBmpInfoHeaderSize;
constexpr size_t kFileHeaderSize = plix::platform::kBmpFileHeaderSize;

int ClampToInt(int64_t v) {
    return static_cast<int>(
        std::clamp<int64_t>(v, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

}  // namespace

uint32_t CDibImage::HeaderField32(size_t offset) const {
    return block_ ? Le32(block_.get() + offset) : 0;
}
uint16_t CDibImage::HeaderField16(size_t offset) const {
    return block_ ? Le16(block_.get() + offset) : 0;
}

int32_t CDibImage::GetWidth() const {
    return static_cast<int32_t>(HeaderField32(4));
}
int32_t CDibImage::GetHeight() const {
    return static_cast<int32_t>(HeaderField32(8));
}
int32_t CDibImage::GetBitsPerPixel() const {
    return HeaderField16(14);
}
int32_t CDibImage::GetCompression() const {
    return static_cast<int32_t>(HeaderField32(16));
}

int32_t CDibImage::GetColorCount() const {
    if (!block_) return 0;
    const uint32_t used = HeaderField32(32);
    if (used != 0) return static_cast<int32_t>(used);
    const int32_t bpp = GetBitsPerPixel();
    if (bpp <= 8) return 1 << bpp;
    if ((bpp == 16 || bpp == 32) && GetCompression() == 3) return 3;
    return 0;
}

uint32_t CDibImage::GetStride() const {
    return block_ ? static_cast<uint32_t>(StrideFor(GetWidth())) : 0;
}

const uint8_t *CDibImage::GetBits() const {
    // Create and Read guarantee that header, colour table and rows lie inside
    // the block.
    return block_ ? block_.get() + kInfoHeaderSize + 4 * static_cast<size_t>(GetColorCount())
                  : nullptr;
}
uint8_t *CDibImage::GetBits() {
    return const_cast<uint8_t *>(std::as_const(*this).GetBits());
}

uint32_t CDibImage::GetBitsSize() const {
    if (!block_) return 0;
    return static_cast<uint32_t>(uint64_t{GetStride()} * static_cast<uint32_t>(GetHeight()));
}

bool CDibImage::CopyBits(uint8_t *dest) const {
    if (!dest) return false;
    if (const uint8_t *bits = GetBits()) std::memcpy(dest, bits, GetBitsSize());
    return true;
}

void CDibImage::Free() {
    block_.reset();
    blockSize_ = 0;
}

bool CDibImage::Create(int32_t width, int32_t height, int32_t bitsPerPixel, int32_t compression) {
    if ((compression != 0 && compression != 3) || bitsPerPixel != 24) return false;
    if (width < 0 || height < 0) return false;
    Free();
    const uint64_t rows = StrideFor(width) * static_cast<uint64_t>(height);
    const uint64_t size = kInfoHeaderSize + rows;
    if (size > kMaxBlockSize) return false;
    block_.reset(new (std::nothrow) uint8_t[size]);
    if (!block_) return false;
    blockSize_ = size;
    plix::platform::PutBmpInfoHeader(block_.get(), width, height, 24,
                                     static_cast<uint32_t>(compression),
                                     static_cast<uint32_t>(rows));
    return true;
}

bool CDibImage::Read(plix::platform::InputFile &file) {
    Free();
    uint8_t fileHeader[kFileHeaderSize];
    if (file.Seek(0, 0) != 0 || file.Read(fileHeader, sizeof fileHeader) < sizeof fileHeader)
        throw CArchiveException(CArchiveException::endOfFile, "file header cut short");
    if (Le16(fileHeader) != plix::platform::kBmpSignature)
        throw CArchiveException(CArchiveException::badIndex, "not a BMP file");
    uint8_t info[kInfoHeaderSize];
    if (file.Read(info, sizeof info) < sizeof info)
        throw CArchiveException(CArchiveException::endOfFile, "information header cut short");
    if (Le32(info) != kInfoHeaderSize || Le16(info + 14) != 24)
        throw CArchiveException(CArchiveException::badIndex, "not a 24-bit BMP file");

    // The block is the file from the information header on, so that a colour
    // table the header announces stays where GetBits expects it.
    const uint32_t fileSize = Le32(fileHeader + 2);
    if (fileSize < kFileHeaderSize + kInfoHeaderSize)
        throw CArchiveException(CArchiveException::badIndex, "file size field too small");
    const uint64_t blockSize = fileSize - kFileHeaderSize;

    // The rows the header states must lie inside the block; drawing and
    // copying rely on it.
    const int32_t width = plix::platform::Le32Signed(info + 4);
    const int32_t height = plix::platform::Le32Signed(info + 8);
    if (width <= 0 || height == 0 || height == std::numeric_limits<int32_t>::min())
        throw CArchiveException(CArchiveException::badIndex, "no pixels");
    const uint64_t rowCount =
        static_cast<uint64_t>(height < 0 ? -static_cast<int64_t>(height) : height);
    const uint64_t used = Le32(info + 32);
    const uint64_t needed = kInfoHeaderSize + 4 * used + StrideFor(width) * rowCount;
    const int64_t actual = file.Size();
    if (needed > blockSize || (actual >= 0 && static_cast<uint64_t>(actual) < fileSize))
        throw CArchiveException(CArchiveException::endOfFile, "pixel data cut short");
    if (blockSize > kMaxBlockSize) throw std::bad_alloc();

    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[blockSize]);
    if (!block) throw std::bad_alloc();
    std::memcpy(block.get(), info, kInfoHeaderSize);
    const size_t rest = blockSize - kInfoHeaderSize;
    if (file.Read(block.get() + kInfoHeaderSize, rest) < rest)
        throw CArchiveException(CArchiveException::endOfFile, "pixel data cut short");

    if (height < 0) {
        // Stored top-down: turn the rows round so the block is bottom-up.
        uint8_t *rows = block.get() + kInfoHeaderSize + 4 * used;
        const size_t stride = StrideFor(width);
        std::unique_ptr<uint8_t[]> tmp(new (std::nothrow) uint8_t[stride]);
        if (!tmp) throw std::bad_alloc();
        for (uint64_t a = 0, b = rowCount - 1; a < b; ++a, --b) {
            std::memcpy(tmp.get(), rows + a * stride, stride);
            std::memcpy(rows + a * stride, rows + b * stride, stride);
            std::memcpy(rows + b * stride, tmp.get(), stride);
        }
        PutLe32(block.get() + 8, static_cast<uint32_t>(rowCount));
    }
    block_ = std::move(block);
    blockSize_ = blockSize;
    return true;
}

bool CDibImage::Paint(QPainter &dc, DibRect &rect, QPoint origin, int zoomPercent,
                      QPainter::CompositionMode mode) {
    if (!block_) return false;
    const int64_t zoom = zoomPercent < 1 ? 1 : zoomPercent;
    const int64_t width = GetWidth();
    const int64_t height = GetHeight();

    // Picture area under the rectangle; the 2 extra pixels cover the rounding
    // of the division.
    const int64_t srcLeft = int64_t{rect.left} * 100 / zoom;
    const int64_t srcRight = srcLeft + (int64_t{rect.right} - rect.left) * 100 / zoom + 2;
    const int64_t srcTop = int64_t{rect.top} * 100 / zoom;
    const int64_t srcBottom = srcTop + (int64_t{rect.bottom} - rect.top) * 100 / zoom + 2;
    const int64_t left = std::max<int64_t>(srcLeft, 0);
    const int64_t top = std::max<int64_t>(srcTop, 0);
    const int64_t right = std::min(srcRight, width);
    const int64_t bottom = std::min(srcBottom, height);
    if (right <= left || bottom <= top) return false;
    const int64_t srcWidth = right - left;
    const int64_t srcHeight = bottom - top;

    const int64_t dstWidth = srcWidth * zoom / 100;
    const int64_t dstHeight = srcHeight * zoom / 100;
    rect.left = origin.x();
    rect.top = origin.y();
    rect.right = ClampToInt(origin.x() + dstWidth);
    rect.bottom = ClampToInt(origin.y() + dstHeight);
    if (dstWidth <= 0 || dstHeight <= 0) return false;

    // Only the clipped source goes to the painter; the rows are stored
    // bottom-up, the image wants them top-down.
    QImage source(static_cast<int>(srcWidth), static_cast<int>(srcHeight), QImage::Format_BGR888);
    if (source.isNull()) return false;
    const uint8_t *bits = GetBits();
    const size_t stride = GetStride();
    for (int64_t y = 0; y < srcHeight; ++y) {
        const uint8_t *row = bits + static_cast<size_t>(height - 1 - top - y) * stride +
                             static_cast<size_t>(left) * 3;
        std::memcpy(source.scanLine(static_cast<int>(y)), row, static_cast<size_t>(srcWidth) * 3);
    }
    dc.save();
    dc.setRenderHint(QPainter::SmoothPixmapTransform, false);
    dc.setCompositionMode(mode);
    dc.drawImage(QRect(rect.left, rect.top, ClampToInt(dstWidth), ClampToInt(dstHeight)), source);
    dc.restore();
    return true;
}
