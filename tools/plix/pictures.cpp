#include "pictures.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "picture_bytes.h"

namespace plix::tool {

namespace {

uint32_t Le32(const uint8_t *p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
uint16_t Le16(const uint8_t *p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

void PutLe32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutLe16(uint8_t *p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

// Grows buffer to at least size bytes; false when memory is short.
bool Reserve(std::unique_ptr<uint8_t[]> &buffer, size_t &capacity, size_t size) {
    if (capacity >= size) return true;
    buffer.reset(new (std::nothrow) uint8_t[size]);
    capacity = buffer ? size : 0;
    return buffer != nullptr;
}

}  // namespace

// ---- Sources and sinks --------------------------------------------------

std::string MemorySource::Read(void *data, size_t size, size_t &got) {
    got = std::min(size, data_.size() - pos_);
    if (got) std::memcpy(data, data_.data() + pos_, got);
    pos_ += got;
    return {};
}

std::string MemorySource::ReadAt(uint64_t offset, void *data, size_t size, size_t &got) {
    got = offset < data_.size() ? std::min<uint64_t>(size, data_.size() - offset) : 0;
    if (got) std::memcpy(data, data_.data() + offset, got);
    return {};
}

std::string StringSink::Write(const void *data, size_t size) {
    try {
        out_.append(static_cast<const char *>(data), size);
    } catch (const std::bad_alloc &) {
        return "not enough memory";
    }
    return {};
}

std::string StringSink::WriteAt(uint64_t offset, const void *data, size_t size) {
    try {
        if (out_.size() < offset + size) out_.resize(offset + size, '\0');
    } catch (const std::exception &) {
        return "not enough memory";
    }
    std::memcpy(&out_[offset], data, size);
    return {};
}

std::string BufferedReader::Fill() {
    pos_ = 0;
    size_t got = 0;
    std::string reason = source_.Read(buffer_.get(), kBytes, got);
    end_ = got;
    return reason;
}

std::string BufferedReader::Read(void *data, size_t size, size_t &got) {
    got = 0;
    auto *d = static_cast<uint8_t *>(data);
    while (got < size) {
        if (pos_ == end_) {
            // Large reads skip the buffer.
            if (size - got >= kBytes) {
                size_t n = 0;
                std::string reason = source_.Read(d + got, size - got, n);
                got += n;
                consumed_ += n;
                return reason;
            }
            std::string reason = Fill();
            if (!reason.empty()) return reason;
            if (end_ == 0) return {};
        }
        const size_t n = std::min(size - got, end_ - pos_);
        std::memcpy(d + got, buffer_.get() + pos_, n);
        pos_ += n;
        got += n;
        consumed_ += n;
    }
    return {};
}

int BufferedReader::Peek() {
    if (pos_ == end_) {
        error_ = Fill();
        if (!error_.empty() || end_ == 0) return -1;
    }
    return buffer_[pos_];
}

int BufferedReader::Get() {
    const int c = Peek();
    if (c >= 0) {
        ++pos_;
        ++consumed_;
    }
    return c;
}

FileKind DetectKind(std::string_view d) {
    if (d.size() >= 4 && d.substr(0, 4) == "PLIX") return FileKind::Plix;
    if (d.size() >= 8 && d.substr(0, 8) == std::string_view("\x89PNG\r\n\x1a\n", 8))
        return FileKind::Png;
    if (d.size() >= 2 && d.substr(0, 2) == "BM") return FileKind::Bmp;
    if (d.size() >= 2 && (d.substr(0, 2) == "P6" || d.substr(0, 2) == "P3")) return FileKind::Ppm;
    return FileKind::Unknown;
}

std::string TooLargeReason(int64_t width, int64_t height, uint64_t maxPixels) {
    return "declared size " + std::to_string(width) + " x " + std::to_string(height) + " (" +
           std::to_string(static_cast<uint64_t>(width) * static_cast<uint64_t>(height)) +
           " pixels) is larger than the limit of " + std::to_string(maxPixels) + " pixels";
}

ReadResult ReadWhole(PictureReader &reader, uint64_t maxPixels, RgbPicture &out) {
    ReadResult r = reader.Start(maxPixels);
    if (!r.ok()) return r;
    out.width = static_cast<int32_t>(reader.Width());
    out.height = static_cast<int32_t>(reader.Height());
    try {
        out.rgb.assign(size_t{reader.Width()} * reader.Height() * 3, 0);
    } catch (const std::bad_alloc &) {
        r.reason = "not enough memory for the picture";
        return r;
    }
    return reader.ReadRows(out.rgb.data(), size_t{reader.Width()} * 3, reader.Height());
}

// ---- PPM ----------------------------------------------------------------

namespace {

// Nearest 8-bit value of a sample from 0 to maxValue.
uint8_t Scale(uint32_t v, uint32_t maxValue) {
    if (maxValue == 255) return static_cast<uint8_t>(v);
    return static_cast<uint8_t>((uint64_t{v} * 255 + maxValue / 2) / maxValue);
}

bool IsSpace(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

class PpmReader final : public PictureReader {
public:
    explicit PpmReader(ByteSource &source) : in_(source) {}

    ReadResult Start(uint64_t maxPixels) override {
        ReadResult r;
        const int a = in_.Get(), b = in_.Get();
        if (a != 'P' || (b != '6' && b != '3')) {
            r.reason = in_.Error().empty() ? "not a PPM file" : "cannot read: " + in_.Error();
            return r;
        }
        binary_ = b == '6';
        uint64_t w = 0, h = 0, maxValue = 0;
        // After the maximum value: exactly one whitespace byte, then the samples.
        if (!Number(INT32_MAX, w) || !Number(INT32_MAX, h) || !Number(65535, maxValue) ||
            !IsSpace(in_.Get()) || w == 0 || h == 0 || maxValue == 0) {
            r.reason = Damaged("damaged PPM header");
            return r;
        }
        if (w * h > maxPixels) {
            r.reason = TooLargeReason(static_cast<int64_t>(w), static_cast<int64_t>(h), maxPixels);
            r.tooLarge = true;
            return r;
        }
        width_ = static_cast<uint32_t>(w);
        height_ = static_cast<uint32_t>(h);
        max_ = static_cast<uint32_t>(maxValue);
        return r;
    }

    ReadResult ReadRows(uint8_t *rows, size_t stride, uint32_t count) override {
        ReadResult r;
        const size_t samples = size_t{width_} * 3;
        const size_t wide = max_ > 255 ? 2 : 1;
        if (binary_ && !Reserve(row_, capacity_, samples * wide)) {
            r.reason = "not enough memory";
            return r;
        }
        // Bytes of 0 to 255 are the samples as they are.
        const bool plain = binary_ && wide == 1 && max_ == 255;
        if (plain && stride == samples && count > 1) {
            // Rows back to back: one read, which bypasses the buffer (a
            // copy through it took a tenth of an encode).
            size_t got = 0;
            const std::string error = in_.Read(rows, samples * count, got);
            if (!error.empty()) r.reason = "cannot read: " + error;
            else if (got < samples * count) r.reason = "truncated PPM: the samples end early";
            return r;
        }
        for (uint32_t y = 0; y < count; ++y) {
            uint8_t *dst = rows + y * stride;
            if (!binary_) {
                for (size_t i = 0; i < samples; ++i) {
                    uint64_t v = 0;
                    if (!Number(max_, v)) {
                        r.reason = Damaged("damaged or truncated PPM samples");
                        return r;
                    }
                    dst[i] = Scale(static_cast<uint32_t>(v), max_);
                }
                continue;
            }
            size_t got = 0;
            const std::string error = in_.Read(plain ? dst : row_.get(), samples * wide, got);
            if (!error.empty()) {
                r.reason = "cannot read: " + error;
                return r;
            }
            if (got < samples * wide) {
                r.reason = "truncated PPM: the samples end early";
                return r;
            }
            if (plain) continue;
            const uint8_t *p = row_.get();
            for (size_t i = 0; i < samples; ++i) {
                const uint32_t v = wide == 2 ? uint32_t{p[2 * i]} << 8 | p[2 * i + 1] : p[i];
                if (v > max_) {
                    r.reason = "PPM sample above the maximum value";
                    return r;
                }
                dst[i] = Scale(v, max_);
            }
        }
        return r;
    }

private:
    std::string Damaged(const char *what) const {
        return in_.Error().empty() ? what : "cannot read: " + in_.Error();
    }
    // A decimal number after whitespace and comments, at most limit.
    bool Number(uint64_t limit, uint64_t &v) {
        for (int c; (c = in_.Peek()) >= 0;) {
            if (IsSpace(c)) {
                in_.Get();
            } else if (c == '#') {
                while ((c = in_.Peek()) >= 0 && c != '\n' && c != '\r') in_.Get();
            } else {
                break;
            }
        }
        int c = in_.Peek();
        if (c < '0' || c > '9') return false;
        v = 0;
        while ((c = in_.Peek()) >= '0' && c <= '9') {
            v = v * 10 + static_cast<uint64_t>(c - '0');
            if (v > limit) return false;
            in_.Get();
        }
        return true;
    }

    BufferedReader in_;
    bool binary_ = true;
    uint32_t max_ = 255;
    std::unique_ptr<uint8_t[]> row_;
    size_t capacity_ = 0;
};

// ---- BMP ----------------------------------------------------------------

// One colour channel of a bit-field pixel, widened to 8 bits as the codec's
// import widens it: its bits at the top of the byte, zeros below.
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    int left = 0;
    int right = 0;
    uint8_t Take(uint32_t px) const {
        return static_cast<uint8_t>((((px & mask) >> shift) << left) >> right);
    }
};

// False for a mask whose bits are not one unbroken run.
bool MakeChannel(uint32_t mask, Channel &ch) {
    ch = Channel{};
    if (mask == 0) return true;  // the channel reads as 0
    int shift = 0;
    while (!((mask >> shift) & 1u)) ++shift;
    const uint32_t run = mask >> shift;
    if (run & (run + 1)) return false;
    int bits = 0;
    for (uint32_t v = mask; v; v &= v - 1) ++bits;
    ch.mask = mask;
    ch.shift = shift;
    ch.left = bits < 8 ? 8 - bits : 0;
    ch.right = bits > 8 ? bits - 8 : 0;
    return true;
}

enum class BmpPixels { Copy24, Copy32, Fields16, Fields32 };

class BmpReader final : public PictureReader {
public:
    explicit BmpReader(ByteSource &source) : source_(source), in_(source) {}
    bool GivesBgr() const override { return true; }

    ReadResult Start(uint64_t maxPixels) override {
        ReadResult r;
        // The file header, the information header and the masks that may
        // follow it.
        uint8_t h[14 + 124 + 16] = {};
        size_t got = 0;
        if (!Take(h, 18, got, r)) return r;
        if (got < 18 || h[0] != 'B' || h[1] != 'M') {
            r.reason = got >= 2 && h[0] == 'B' && h[1] == 'M'
                           ? "truncated BMP: the headers end early"
                           : "not a BMP file";
            return r;
        }
        const uint32_t offset = Le32(h + 10);
        const uint32_t infoSize = Le32(h + 14);
        if (infoSize != 40 && infoSize != 52 && infoSize != 56 && infoSize != 108 &&
            infoSize != 124) {
            r.reason = "unsupported BMP variant: information header of " +
                       std::to_string(infoSize) + " bytes (40, 52, 56, 108 and 124 are supported)";
            return r;
        }
        if (!Take(h + 18, infoSize - 4, got, r)) return r;
        if (got < infoSize - 4) {
            r.reason = "truncated BMP: the headers end early";
            return r;
        }
        const auto width = static_cast<int32_t>(Le32(h + 18));
        const auto height = static_cast<int32_t>(Le32(h + 22));
        const uint16_t bpp = Le16(h + 28);
        const uint32_t compression = Le32(h + 30);
        // Plain pixels, or bit-field masks with 16 or 32 bits per pixel.
        const bool fields = compression == 3 || compression == 6;
        if (compression != 0 && !fields) {
            const char *names[] = {"", "RLE8 compression", "RLE4 compression",
                                   "", "JPEG data",        "PNG data"};
            r.reason = "unsupported BMP variant: " +
                       (compression <= 5 ? std::string(names[compression])
                                         : "compression type " + std::to_string(compression));
            return r;
        }
        if (bpp != 16 && bpp != 24 && bpp != 32) {
            r.reason = "unsupported BMP variant: " + std::to_string(bpp) +
                       " bits per pixel (16, 24 and 32 are supported)";
            return r;
        }
        if (fields && bpp == 24) {
            r.reason = "unsupported BMP variant: bit-field masks with 24 bits per pixel";
            return r;
        }
        if (width <= 0 || height == 0 || height == INT32_MIN) {
            r.reason =
                "invalid BMP: size " + std::to_string(width) + " x " + std::to_string(height);
            return r;
        }
        // Negative heights mark rows stored top-down.
        const int64_t rows = height < 0 ? -int64_t{height} : height;
        if (uint64_t(width) * uint64_t(rows) > maxPixels) {
            r.reason = TooLargeReason(width, rows, maxPixels);
            r.tooLarge = true;
            return r;
        }
        // The masks follow a 40-byte header; longer headers hold them.
        const size_t maskBytes = fields && infoSize == 40 ? (compression == 6 ? 16 : 12) : 0;
        const uint64_t headerEnd = 14 + uint64_t{infoSize} + maskBytes;
        if (offset < headerEnd) {
            r.reason = "damaged BMP: pixel data at offset " + std::to_string(offset) +
                       ", inside the headers";
            return r;
        }
        size_t maskGot = 0;
        if (!Take(h + 14 + infoSize, maskBytes, maskGot, r)) return r;
        // Every row must be there; only the padding of the last one may be cut.
        pixelBytes_ = uint64_t(width) * (bpp / 8);
        rowBytes_ = (pixelBytes_ + 3) / 4 * 4;
        const uint64_t needed = uint64_t(rows - 1) * rowBytes_ + pixelBytes_;
        const int64_t size = source_.Size();
        if (maskGot < maskBytes ||
            (size >= 0 && (uint64_t(size) < offset || uint64_t(size) - offset < needed))) {
            r.reason = kRowsEndEarly;
            return r;
        }

        uint32_t masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha
        if (fields) {
            // After a 40-byte header or inside a longer one: at byte 54 either way.
            for (int i = 0; i < 3; ++i) masks[i] = Le32(h + 54 + 4 * i);
        } else if (bpp == 16) {
            masks[0] = 0x7C00;
            masks[1] = 0x03E0;
            masks[2] = 0x001F;
        }
        if (fields || bpp == 16) {
            const uint32_t pixelMask = bpp == 16 ? 0xFFFFu : 0xFFFFFFFFu;
            if (((masks[0] | masks[1] | masks[2]) & ~pixelMask) ||
                (masks[0] & masks[1]) | (masks[0] & masks[2]) | (masks[1] & masks[2]) ||
                !MakeChannel(masks[0], red_) || !MakeChannel(masks[1], green_) ||
                !MakeChannel(masks[2], blue_)) {
                r.reason =
                    "unsupported BMP variant: bit-field masks that overlap, exceed the pixel "
                    "or are not one run of bits";
                return r;
            }
            pixels_ = bpp == 16 ? BmpPixels::Fields16 : BmpPixels::Fields32;
        } else {
            pixels_ = bpp == 24 ? BmpPixels::Copy24 : BmpPixels::Copy32;
        }

        width_ = static_cast<uint32_t>(width);
        height_ = static_cast<uint32_t>(rows);
        topDown_ = height < 0;
        offset_ = offset;
        // Rows stored top-down are read in order: skip to the first.
        if (topDown_) {
            uint8_t scratch[4096];
            for (uint64_t skip = offset - headerEnd; skip > 0;) {
                const size_t n = static_cast<size_t>(std::min<uint64_t>(skip, sizeof scratch));
                if (!Take(scratch, n, got, r)) return r;
                if (got < n) {
                    r.reason = kRowsEndEarly;
                    return r;
                }
                skip -= n;
            }
        } else if (size < 0) {
            r.reason = "cannot read a BMP stored bottom-up from here";
            return r;
        }
        return r;
    }

    ReadResult ReadRows(uint8_t *rows, size_t stride, uint32_t count) override {
        ReadResult r;
        count = std::min(count, height_ - next_);
        if (count == 0) return r;
        const size_t rowBytes = static_cast<size_t>(rowBytes_);
        const size_t want = rowBytes * count;
        if (!Reserve(chunk_, capacity_, want)) {
            r.reason = "not enough memory";
            return r;
        }
        // Only the last row of the file may lack its padding.
        const bool holdsLast = topDown_ ? next_ + count == height_ : next_ == 0;
        const size_t must = holdsLast ? want - rowBytes + static_cast<size_t>(pixelBytes_) : want;
        size_t got = 0;
        std::string error;
        if (topDown_) {
            error = in_.Read(chunk_.get(), want, got);
        } else {
            const uint64_t first = height_ - next_ - count;  // the band's first row in the file
            error = source_.ReadAt(offset_ + first * rowBytes_, chunk_.get(), want, got);
        }
        if (!error.empty()) {
            r.reason = "cannot read: " + error;
            return r;
        }
        if (got < must) {
            r.reason = kRowsEndEarly;
            return r;
        }
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t fileRow = topDown_ ? i : count - 1 - i;
            Convert(chunk_.get() + size_t{fileRow} * rowBytes, rows + i * stride);
        }
        next_ += count;
        return r;
    }

private:
    static constexpr const char *kRowsEndEarly = "truncated BMP: the pixel rows end early";

    bool Take(uint8_t *to, size_t n, size_t &got, ReadResult &r) {
        const std::string error = in_.Read(to, n, got);
        if (error.empty()) return true;
        r.reason = "cannot read: " + error;
        return false;
    }

    // One row to blue, green, red, as the import fills the codec's buffer.
    void Convert(const uint8_t *s, uint8_t *d) const {
        const uint32_t w = width_;
        switch (pixels_) {
            case BmpPixels::Copy24:
                std::memcpy(d, s, size_t{w} * 3);
                break;
            case BmpPixels::Copy32:
                for (uint32_t x = 0; x < w; ++x, s += 4, d += 3) {
                    d[0] = s[0];
                    d[1] = s[1];
                    d[2] = s[2];
                }
                break;
            case BmpPixels::Fields16:
            case BmpPixels::Fields32: {
                const bool narrow = pixels_ == BmpPixels::Fields16;
                for (uint32_t x = 0; x < w; ++x, d += 3) {
                    uint32_t px;
                    if (narrow) {
                        px = Le16(s);
                        s += 2;
                    } else {
                        px = Le32(s);
                        s += 4;
                    }
                    d[0] = blue_.Take(px);
                    d[1] = green_.Take(px);
                    d[2] = red_.Take(px);
                }
                break;
            }
        }
    }

    ByteSource &source_;
    BufferedReader in_;
    BmpPixels pixels_ = BmpPixels::Copy24;
    Channel red_, green_, blue_;
    bool topDown_ = false;
    uint64_t offset_ = 0;
    uint64_t rowBytes_ = 0, pixelBytes_ = 0;
    uint32_t next_ = 0;  // picture rows given so far
    std::unique_ptr<uint8_t[]> chunk_;
    size_t capacity_ = 0;
};

}  // namespace

std::unique_ptr<PictureReader> MakePpmReader(ByteSource &source) {
    return std::make_unique<PpmReader>(source);
}

std::unique_ptr<PictureReader> MakeBmpReader(ByteSource &source) {
    return std::make_unique<BmpReader>(source);
}

bool BmpIsBottomUp(std::string_view head) {
    if (head.size() < 26) return false;
    return static_cast<int32_t>(Le32(reinterpret_cast<const uint8_t *>(head.data()) + 22)) > 0;
}

ReadResult ReadPpm(std::string_view data, uint64_t maxPixels, RgbPicture &out) {
    MemorySource source(data);
    PpmReader reader(source);
    return ReadWhole(reader, maxPixels, out);
}

ReadResult CheckBmp(std::string_view data, uint64_t maxPixels) {
    MemorySource source(data);
    BmpReader reader(source);
    return reader.Start(maxPixels);
}

// ---- BMP and PPM out ------------------------------------------------------

namespace {

// Rows land bottom-up, each band with one write at its place.
class BmpWriter final : public PictureWriter {
public:
    bool WantsBgr() const override { return true; }
    bool NeedsSeeking() const override { return true; }
    std::string Begin(int64_t width, int64_t height, ByteSink &sink) override {
        sink_ = &sink;
        if (width <= 0 || height <= 0 || width > INT32_MAX || height > INT32_MAX)
            return "a picture of " + std::to_string(width) + " x " + std::to_string(height) +
                   " pixels cannot be stored as BMP";
        width_ = static_cast<uint32_t>(width);
        height_ = static_cast<uint32_t>(height);
        rowBytes_ = (uint64_t{width_} * 3 + 3) & ~uint64_t{3};
        const uint64_t fileSize = 54 + rowBytes_ * height_;
        if (fileSize > 0xFFFFFFFFu)
            return "too large for a BMP file (" + std::to_string(fileSize) +
                   " bytes; the format holds 4 GiB at most): choose PNG or PPM";
        uint8_t h[54] = {'B', 'M'};
        PutLe32(h + 2, static_cast<uint32_t>(fileSize));
        PutLe32(h + 10, 54);
        PutLe32(h + 14, 40);
        PutLe32(h + 18, width_);
        PutLe32(h + 22, height_);
        PutLe16(h + 26, 1);
        PutLe16(h + 28, 24);
        return sink.Write(h, sizeof h);
    }
    std::string AddRows(const uint8_t *rows, size_t stride, uint32_t count) override {
        count = std::min(count, height_ - next_);
        if (count == 0) return {};
        const size_t rowBytes = static_cast<size_t>(rowBytes_);
        if (!Reserve(band_, capacity_, rowBytes * count)) return "not enough memory";
        for (uint32_t i = 0; i < count; ++i) {
            uint8_t *d = band_.get() + size_t{count - 1 - i} * rowBytes;
            std::memcpy(d, rows + i * stride, size_t{width_} * 3);
            // The padding is written too: the file has no holes.
            std::memset(d + size_t{width_} * 3, 0, rowBytes - size_t{width_} * 3);
        }
        const uint64_t firstFileRow = height_ - next_ - count;
        next_ += count;
        return sink_->WriteAt(54 + firstFileRow * rowBytes_, band_.get(), rowBytes * count);
    }
    std::string Finish() override { return next_ == height_ ? std::string() : "rows are missing"; }

private:
    ByteSink *sink_ = nullptr;
    uint32_t width_ = 0, height_ = 0, next_ = 0;
    uint64_t rowBytes_ = 0;
    std::unique_ptr<uint8_t[]> band_;
    size_t capacity_ = 0;
};

class PpmWriter final : public PictureWriter {
public:
    std::string Begin(int64_t width, int64_t height, ByteSink &sink) override {
        sink_ = &sink;
        width_ = width > 0 ? static_cast<uint64_t>(width) : 0;
        const uint64_t h = height > 0 ? static_cast<uint64_t>(height) : 0;
        const std::string head =
            "P6\n" + std::to_string(width_) + " " + std::to_string(h) + "\n255\n";
        return sink.Write(head.data(), head.size());
    }
    std::string AddRows(const uint8_t *rows, size_t stride, uint32_t count) override {
        const size_t row = static_cast<size_t>(width_) * 3;
        if (stride == row) return sink_->Write(rows, row * count);
        for (uint32_t i = 0; i < count; ++i) {
            std::string reason = sink_->Write(rows + i * stride, row);
            if (!reason.empty()) return reason;
        }
        return {};
    }
    std::string Finish() override { return {}; }

private:
    ByteSink *sink_ = nullptr;
    uint64_t width_ = 0;
};

}  // namespace

std::unique_ptr<PictureWriter> MakePictureWriter(FileKind kind, const WriterOptions &options) {
    switch (kind) {
        case FileKind::Png:
            return MakePngWriter(options);
        case FileKind::Bmp:
            return std::make_unique<BmpWriter>();
        case FileKind::Ppm:
            return std::make_unique<PpmWriter>();
        default:
            return nullptr;
    }
}

std::string WritePicture(FileKind kind, const RgbPicture &picture, std::string &out,
                         const WriterOptions &options) {
    std::unique_ptr<PictureWriter> writer = MakePictureWriter(kind, options);
    if (!writer) return "no writer for that kind of file";
    out.clear();
    const size_t stride = size_t(picture.width) * 3;
    std::vector<uint8_t> swapped;
    const uint8_t *rows = picture.rgb.data();
    if (writer->WantsBgr()) {
        swapped = picture.rgb;
        for (size_t i = 0; i + 2 < swapped.size(); i += 3) std::swap(swapped[i], swapped[i + 2]);
        rows = swapped.data();
    }
    StringSink sink(out);
    std::string reason = writer->Begin(picture.width, picture.height, sink);
    if (reason.empty() && picture.height > 0)
        reason = writer->AddRows(rows, stride, static_cast<uint32_t>(picture.height));
    if (reason.empty()) reason = writer->Finish();
    return reason;
}

}  // namespace plix::tool
