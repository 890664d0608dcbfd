// BMP files: import into the pixel buffer, export of the decoded image.
#include "bitmap.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "dsp/dsp.h"
#include "image.h"
#include "platform/bmp_file.h"
#include "platform/byte_order.h"
#include "platform/file.h"

namespace plix {

namespace {

using plix::platform::kBmpFileHeaderSize;
using plix::platform::kBmpInfoHeaderSize;
using plix::platform::Le16;
using plix::platform::Le32;

constexpr uint32_t kMaxInfoSize = 124;
// Rows move through a buffer of about this size, so that a tall, narrow
// picture does not cost one system call per row.
constexpr size_t kChunkBytes = size_t{1} << 18;

enum : uint32_t { kRgb = 0, kBitFields = 3, kAlphaBitFields = 6 };

struct FreeDeleter {
    void operator()(uint8_t *p) const { std::free(p); }
};
using Buffer = std::unique_ptr<uint8_t, FreeDeleter>;

// Sequential bytes of a BMP file.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads up to n bytes; fewer only at the end of the data.
    virtual size_t Read(void *dest, size_t n) = 0;
    // Moves n bytes forward; false when the data ends before.
    virtual bool Skip(uint64_t n) = 0;
    // Bytes left after the current position, or -1 when that cannot be told.
    virtual int64_t Remaining() const = 0;
};

class FileSource final : public ByteSource {
public:
    explicit FileSource(platform::InputFile &file) : file_(file), size_(file.Size()) {}

    size_t Read(void *dest, size_t n) override {
        size_t got = file_.Read(dest, n);
        pos_ += got;
        return got;
    }

    bool Skip(uint64_t n) override {
        if (size_ >= 0) {
            if (n > static_cast<uint64_t>(Remaining())) return false;
            int64_t target = static_cast<int64_t>(pos_ + n);
            if (file_.Seek(target, 0) == target) {
                pos_ += n;
                return true;
            }
        }
        // Not seekable: read past the bytes.
        uint8_t scratch[4096];
        while (n > 0) {
            size_t step = n < sizeof scratch ? static_cast<size_t>(n) : sizeof scratch;
            if (Read(scratch, step) != step) return false;
            n -= step;
        }
        return true;
    }

    int64_t Remaining() const override {
        if (size_ < 0) return -1;
        return static_cast<uint64_t>(size_) > pos_ ? size_ - static_cast<int64_t>(pos_) : 0;
    }

private:
    platform::InputFile &file_;
    int64_t size_;
    uint64_t pos_ = 0;
};

class MemorySource final : public ByteSource {
public:
    MemorySource(const void *data, size_t size)
        : data_(static_cast<const uint8_t *>(data)), size_(data ? size : 0) {}

    size_t Read(void *dest, size_t n) override {
        size_t left = size_ - pos_;
        if (n > left) n = left;
        if (n) std::memcpy(dest, data_ + pos_, n);
        pos_ += n;
        return n;
    }

    bool Skip(uint64_t n) override {
        if (n > size_ - pos_) return false;
        pos_ += static_cast<size_t>(n);
        return true;
    }

    int64_t Remaining() const override { return static_cast<int64_t>(size_ - pos_); }

private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};

// One colour channel of a bit-field pixel, widened to 8 bits by putting its
// bits at the top of the byte and zeros below (a 5-bit 31 gives 0xF8).
struct Channel {
    uint32_t mask = 0;
    int shift = 0;  // position of the lowest mask bit
    int left = 0;   // for fields narrower than 8 bits
    int right = 0;  // for fields wider than 8 bits

    uint8_t Take(uint32_t px) const {
        return static_cast<uint8_t>((((px & mask) >> shift) << left) >> right);
    }
};

int CountTrailingZeros(uint32_t v) {
    int n = 0;
    while (!(v & 1u)) {
        v >>= 1;
        ++n;
    }
    return n;
}

int CountBits(uint32_t v) {
    int n = 0;
    for (; v; v &= v - 1) ++n;
    return n;
}

// False for a mask whose bits are not one unbroken run.
bool MakeChannel(uint32_t mask, Channel &ch) {
    ch = Channel{};
    if (mask == 0) return true;  // the channel reads as 0
    int shift = CountTrailingZeros(mask);
    uint32_t run = mask >> shift;
    if (run & (run + 1)) return false;
    int bits = CountBits(mask);
    ch.mask = mask;
    ch.shift = shift;
    ch.left = bits < 8 ? 8 - bits : 0;
    ch.right = bits > 8 ? bits - 8 : 0;
    return true;
}

enum class PixelKind { Copy24, Copy32, Fields16, Fields32 };

struct Layout {
    int32_t width = 0;
    int32_t height = 0;  // rows, always positive
    bool topDown = false;
    PixelKind kind = PixelKind::Copy24;
    Channel red, green, blue, alpha;
    uint32_t dataOffset = 0;
    uint64_t rowBytes = 0;    // with the padding to 4 bytes
    uint64_t pixelBytes = 0;  // without it
};

// Reads the headers (and the masks after a classic header) and leaves the
// source at the first byte of the pixel data. False for anything we do not
// read.
bool ReadHeaders(ByteSource &src, Layout &out) {
    uint8_t fileHeader[kBmpFileHeaderSize];
    if (src.Read(fileHeader, sizeof fileHeader) != sizeof fileHeader) return false;
    if (Le16(fileHeader) != platform::kBmpSignature) return false;
    const uint32_t dataOffset = Le32(fileHeader + 10);

    uint8_t info[kMaxInfoSize] = {};
    if (src.Read(info, 4) != 4) return false;
    const uint32_t infoSize = Le32(info);
    // The classic header and its extensions; the old 12-byte core header and
    // the 16..64-byte variants of another system are not read.
    if (infoSize != 40 && infoSize != 52 && infoSize != 56 && infoSize != 108 && infoSize != 124)
        return false;
    if (src.Read(info + 4, infoSize - 4) != infoSize - 4) return false;

    const int32_t width = platform::Le32Signed(info + 4);
    const int32_t height = platform::Le32Signed(info + 8);
    const uint32_t bpp = Le16(info + 14);
    const uint32_t compression = Le32(info + 16);

    if (width <= 0 || height == 0 || height == INT32_MIN) return false;
    if (bpp != 16 && bpp != 24 && bpp != 32) return false;
    const bool fields = compression == kBitFields || compression == kAlphaBitFields;
    if (compression != kRgb && !(fields && bpp != 24)) return false;

    uint64_t headerEnd = kBmpFileHeaderSize + infoSize;
    uint32_t masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha
    if (fields) {
        if (infoSize == kBmpInfoHeaderSize) {
            // The masks follow the classic header.
            const size_t n = compression == kAlphaBitFields ? 16 : 12;
            uint8_t raw[16];
            if (src.Read(raw, n) != n) return false;
            for (size_t i = 0; i < n / 4; ++i) masks[i] = Le32(raw + 4 * i);
            headerEnd += n;
        } else {
            for (int i = 0; i < 3; ++i) masks[i] = Le32(info + 40 + 4 * i);
            if (infoSize >= 56) masks[3] = Le32(info + 52);
        }
    } else if (bpp == 16) {
        masks[0] = 0x7C00;
        masks[1] = 0x03E0;
        masks[2] = 0x001F;
    }

    if (fields || bpp == 16) {
        const uint32_t pixelMask = bpp == 16 ? 0xFFFFu : 0xFFFFFFFFu;
        if ((masks[0] | masks[1] | masks[2]) & ~pixelMask) return false;
        if ((masks[0] & masks[1]) | (masks[0] & masks[2]) | (masks[1] & masks[2])) return false;
        if (!MakeChannel(masks[0], out.red) || !MakeChannel(masks[1], out.green) ||
            !MakeChannel(masks[2], out.blue))
            return false;
        // Alpha only fills the byte no operation reads; a mask that cannot
        // be used is dropped rather than refused.
        const uint32_t alpha = masks[3];
        if ((alpha & ~pixelMask) || (alpha & (masks[0] | masks[1] | masks[2])) ||
            !MakeChannel(alpha, out.alpha))
            out.alpha = Channel{};
        out.kind = bpp == 16 ? PixelKind::Fields16 : PixelKind::Fields32;
    } else {
        out.kind = bpp == 24 ? PixelKind::Copy24 : PixelKind::Copy32;
    }

    // Pixel data inside the headers is a damaged file.
    if (dataOffset < headerEnd) return false;
    if (!src.Skip(dataOffset - headerEnd)) return false;

    out.width = width;
    out.topDown = height < 0;
    out.height = height < 0 ? -height : height;
    out.dataOffset = dataOffset;
    const uint64_t bytesPerPixel = bpp / 8;
    out.pixelBytes = static_cast<uint64_t>(width) * bytesPerPixel;
    out.rowBytes = (out.pixelBytes + 3) & ~uint64_t{3};
    return true;
}

// Same limit as CreateImage: padded width x padded height x 4 bytes.
bool FitsPixelBuffer(int32_t width, int32_t height) {
    const int64_t pw = (static_cast<int64_t>(width) + 7) / 8 * 8;
    const int64_t ph = (static_cast<int64_t>(height) + 7) / 8 * 8;
    return pw * ph <= kMaxBufferBytes / 4;
}

void ConvertRow(const Layout &lay, const uint8_t *s, uint8_t *d) {
    const int32_t w = lay.width;
    switch (lay.kind) {
        case PixelKind::Copy24:
            GetDsp().unpackPixels3(s, d, static_cast<size_t>(w), false);
            break;
        case PixelKind::Copy32:
            std::memcpy(d, s, static_cast<size_t>(w) * 4);
            break;
        case PixelKind::Fields16:
        case PixelKind::Fields32: {
            const size_t step = lay.kind == PixelKind::Fields16 ? 2 : 4;
            for (int32_t x = 0; x < w; ++x, s += step, d += 4) {
                const uint32_t px = step == 2 ? Le16(s) : Le32(s);
                d[0] = lay.blue.Take(px);
                d[1] = lay.green.Take(px);
                d[2] = lay.red.Take(px);
                d[3] = lay.alpha.Take(px);
            }
            break;
        }
    }
}

BitmapImport Import(Image &image, ByteSource &src) {
    Layout lay;
    if (!ReadHeaders(src, lay) || !FitsPixelBuffer(lay.width, lay.height)) {
        image.Release();
        return BitmapImport::Refused;
    }
    // Every row must be there; only the padding of the last one may be cut.
    // Sizes are bounded by the buffer limit, far from overflowing 64 bits.
    const uint64_t rows = static_cast<uint64_t>(lay.height);
    const uint64_t needed = (rows - 1) * lay.rowBytes + lay.pixelBytes;
    const int64_t remaining = src.Remaining();
    if (remaining >= 0 && static_cast<uint64_t>(remaining) < needed) {
        image.Release();
        return BitmapImport::Refused;
    }

    if (!image.Create(lay.width, lay.height)) return BitmapImport::Refused;

    const size_t rowBytes = static_cast<size_t>(lay.rowBytes);
    uint64_t chunkRows = kChunkBytes / rowBytes;
    if (chunkRows < 1) chunkRows = 1;
    if (chunkRows > rows) chunkRows = rows;
    Buffer chunk(static_cast<uint8_t *>(std::malloc(static_cast<size_t>(chunkRows) * rowBytes)));
    if (!chunk) {
        image.Release();
        return BitmapImport::Refused;
    }

    const size_t stride = static_cast<size_t>(image.PaddedWidth()) * 4;
    for (uint64_t first = 0; first < rows; first += chunkRows) {
        const uint64_t n = rows - first < chunkRows ? rows - first : chunkRows;
        const size_t want = static_cast<size_t>(n) * rowBytes;
        const size_t must =
            first + n == rows ? want - rowBytes + static_cast<size_t>(lay.pixelBytes) : want;
        if (src.Read(chunk.get(), want) < must) {
            image.Release();
            return BitmapImport::Refused;
        }
        for (uint64_t i = 0; i < n; ++i) {
            const uint64_t fileRow = first + i;
            const uint64_t y = lay.topDown ? fileRow : rows - 1 - fileRow;
            ConvertRow(lay, chunk.get() + static_cast<size_t>(i) * rowBytes,
                       image.Pixels() + static_cast<size_t>(y) * stride);
        }
    }
    return BitmapImport::Ok;
}

}  // namespace

BitmapImport ImportBitmap(Image &image, const char *path) {
    platform::InputFile file;
    if (!file.Open(path)) return BitmapImport::CannotOpen;
    FileSource src(file);
    return Import(image, src);
}

BitmapImport ImportBitmapMemory(Image &image, const void *data, size_t size) {
    MemorySource src(data, size);
    return Import(image, src);
}

bool ExportBitmap(const Image &image, const char *path) {
    if (!image.Pixels() || image.Width() < 0 || image.Height() < 0) return false;
    const size_t stride = image.RowBytes();
    const size_t w = static_cast<size_t>(image.Width());
    const auto fillRow = [&](int32_t y, uint8_t *d) {
        const uint8_t *s = image.Pixels() + static_cast<size_t>(y) * stride;
        GetDsp().packPixels3(s, d, w, false);
    };
    return platform::WriteBmp24(path, image.Width(), image.Height(), fillRow) ==
           platform::Bmp24Write::Ok;
}

}  // namespace plix
