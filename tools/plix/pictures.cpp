#include "pictures.h"

#include <spng.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

namespace plix::tool {

namespace {

uint32_t Le32(const uint8_t *p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
uint16_t Le16(const uint8_t *p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

void PutLe32(std::string &s, uint32_t v) {
    for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
}
void PutLe16(std::string &s, uint16_t v) {
    s.push_back(static_cast<char>(v));
    s.push_back(static_cast<char>(v >> 8));
}

// Nearest 8-bit value of a sample from 0 to maxValue.
uint8_t Scale(uint32_t v, uint32_t maxValue) {
    if (maxValue == 255) return static_cast<uint8_t>(v);
    return static_cast<uint8_t>((uint64_t{v} * 255 + maxValue / 2) / maxValue);
}

bool Allocate(RgbPicture &out, int32_t w, int32_t h, ReadResult &r) {
    out.width = w;
    out.height = h;
    try {
        out.rgb.assign(static_cast<size_t>(w) * static_cast<size_t>(h) * 3, 0);
    } catch (const std::bad_alloc &) {
        r.reason = "not enough memory for the picture";
        return false;
    }
    return true;
}

struct SpngFree {
    void operator()(spng_ctx *c) const { spng_ctx_free(c); }
};
using SpngContext = std::unique_ptr<spng_ctx, SpngFree>;

}  // namespace

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

ReadResult ReadPng(std::string_view data, uint64_t maxPixels, RgbPicture &out) {
    ReadResult r;
    SpngContext ctx(spng_ctx_new(0));
    if (!ctx) {
        r.reason = "not enough memory";
        return r;
    }
    // Text and other ancillary chunks are not needed; keep their memory small.
    spng_set_chunk_limits(ctx.get(), size_t{1} << 26, size_t{1} << 26);
    spng_set_png_buffer(ctx.get(), data.data(), data.size());
    spng_ihdr ihdr{};
    int rc = spng_get_ihdr(ctx.get(), &ihdr);
    if (rc != 0) {
        r.reason = std::string("not a valid PNG file: ") + spng_strerror(rc);
        return r;
    }
    if (ihdr.width > INT32_MAX || ihdr.height > INT32_MAX ||
        uint64_t{ihdr.width} * ihdr.height > maxPixels) {
        r.reason = TooLargeReason(ihdr.width, ihdr.height, maxPixels);
        r.tooLarge = true;
        return r;
    }
    const bool wide = ihdr.bit_depth == 16;
    const int fmt = wide ? SPNG_FMT_RGBA16 : SPNG_FMT_RGBA8;
    size_t len = 0;
    rc = spng_decoded_image_size(ctx.get(), fmt, &len);
    if (rc != 0) {
        r.reason = std::string("unsupported PNG: ") + spng_strerror(rc);
        return r;
    }
    std::vector<uint8_t> decoded;
    try {
        decoded.resize(len);
    } catch (const std::bad_alloc &) {
        r.reason = "not enough memory for the picture";
        return r;
    }
    // No transparency or gamma applied: the stored samples, as the BMP import takes them.
    rc = spng_decode_image(ctx.get(), decoded.data(), len, fmt, 0);
    if (rc != 0) {
        r.reason = std::string("damaged PNG file: ") + spng_strerror(rc);
        return r;
    }
    if (!Allocate(out, static_cast<int32_t>(ihdr.width), static_cast<int32_t>(ihdr.height), r))
        return r;
    const size_t pixels = static_cast<size_t>(out.width) * static_cast<size_t>(out.height);
    uint8_t *dst = out.rgb.data();
    if (wide) {
        for (size_t i = 0; i < pixels; ++i) {
            for (int c = 0; c < 3; ++c) {
                uint16_t v;
                std::memcpy(&v, decoded.data() + i * 8 + c * 2, 2);  // host order
                dst[i * 3 + c] = Scale(v, 65535);
            }
        }
    } else {
        for (size_t i = 0; i < pixels; ++i) std::memcpy(dst + i * 3, decoded.data() + i * 4, 3);
    }
    return r;
}

namespace {

// Reads the PPM header's numbers: whitespace and comments between them.
class PpmScanner {
public:
    explicit PpmScanner(std::string_view d) : d_(d) {}
    bool Number(uint64_t limit, uint64_t &v) {
        SkipSpace();
        if (pos_ >= d_.size() || d_[pos_] < '0' || d_[pos_] > '9') return false;
        v = 0;
        while (pos_ < d_.size() && d_[pos_] >= '0' && d_[pos_] <= '9') {
            v = v * 10 + static_cast<uint64_t>(d_[pos_] - '0');
            if (v > limit) return false;
            ++pos_;
        }
        return true;
    }
    // After the maximum value: exactly one whitespace byte, then the samples.
    bool OneSpace() {
        if (pos_ >= d_.size() || !IsSpace(d_[pos_])) return false;
        ++pos_;
        return true;
    }
    size_t Position() const { return pos_; }
    void Seek(size_t p) { pos_ = p; }

private:
    static bool IsSpace(char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    }
    void SkipSpace() {
        while (pos_ < d_.size()) {
            if (IsSpace(d_[pos_])) {
                ++pos_;
            } else if (d_[pos_] == '#') {
                while (pos_ < d_.size() && d_[pos_] != '\n' && d_[pos_] != '\r') ++pos_;
            } else {
                break;
            }
        }
    }
    std::string_view d_;
    size_t pos_ = 2;
};

}  // namespace

ReadResult ReadPpm(std::string_view data, uint64_t maxPixels, RgbPicture &out) {
    ReadResult r;
    if (DetectKind(data) != FileKind::Ppm) {
        r.reason = "not a PPM file";
        return r;
    }
    const bool binary = data[1] == '6';
    PpmScanner s(data);
    uint64_t w = 0, h = 0, maxValue = 0;
    if (!s.Number(INT32_MAX, w) || !s.Number(INT32_MAX, h) || !s.Number(65535, maxValue) ||
        !s.OneSpace() || w == 0 || h == 0 || maxValue == 0) {
        r.reason = "damaged PPM header";
        return r;
    }
    if (w * h > maxPixels) {
        r.reason = TooLargeReason(static_cast<int64_t>(w), static_cast<int64_t>(h), maxPixels);
        r.tooLarge = true;
        return r;
    }
    const uint64_t samples = w * h * 3;
    const uint64_t bytesPerSample = maxValue > 255 ? 2 : 1;
    if (binary && data.size() - s.Position() < samples * bytesPerSample) {
        r.reason = "truncated PPM: the samples end early";
        return r;
    }
    if (!Allocate(out, static_cast<int32_t>(w), static_cast<int32_t>(h), r)) return r;
    const auto max = static_cast<uint32_t>(maxValue);
    uint8_t *dst = out.rgb.data();
    if (binary) {
        const auto *p = reinterpret_cast<const uint8_t *>(data.data()) + s.Position();
        for (uint64_t i = 0; i < samples; ++i) {
            const uint32_t v = bytesPerSample == 2 ? uint32_t{p[2 * i]} << 8 | p[2 * i + 1] : p[i];
            if (v > max) {
                r.reason = "PPM sample above the maximum value";
                return r;
            }
            dst[i] = Scale(v, max);
        }
        return r;
    }
    // Plain PPM: the samples are numbers too. The seek drops the single
    // separator taken above, which SkipSpace would take anyway.
    s.Seek(s.Position() - 1);
    for (uint64_t i = 0; i < samples; ++i) {
        uint64_t v = 0;
        if (!s.Number(max, v)) {
            r.reason = "damaged or truncated PPM samples";
            return r;
        }
        dst[i] = Scale(static_cast<uint32_t>(v), max);
    }
    return r;
}

ReadResult CheckBmp(std::string_view data, uint64_t maxPixels) {
    ReadResult r;
    const auto *p = reinterpret_cast<const uint8_t *>(data.data());
    if (data.size() < 18) {
        r.reason = "truncated BMP: the headers end early";
        return r;
    }
    const uint32_t offset = Le32(p + 10);
    const uint32_t infoSize = Le32(p + 14);
    if (infoSize != 40 && infoSize != 52 && infoSize != 56 && infoSize != 108 && infoSize != 124) {
        r.reason = "unsupported BMP variant: information header of " + std::to_string(infoSize) +
                   " bytes (40, 52, 56, 108 and 124 are supported)";
        return r;
    }
    if (data.size() < 14 + uint64_t{infoSize}) {
        r.reason = "truncated BMP: the headers end early";
        return r;
    }
    const auto width = static_cast<int32_t>(Le32(p + 18));
    const auto height = static_cast<int32_t>(Le32(p + 22));
    const uint16_t bpp = Le16(p + 28);
    const uint32_t compression = Le32(p + 30);
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
        r.reason = "invalid BMP: size " + std::to_string(width) + " x " + std::to_string(height);
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
    const uint64_t headerEnd =
        14 + uint64_t{infoSize} + (fields && infoSize == 40 ? (compression == 6 ? 16 : 12) : 0);
    if (offset < headerEnd) {
        r.reason =
            "damaged BMP: pixel data at offset " + std::to_string(offset) + ", inside the headers";
        return r;
    }
    // Every row must be there; only the padding of the last one may be cut.
    const uint64_t pixelBytes = uint64_t(width) * (bpp / 8);
    const uint64_t rowBytes = (pixelBytes + 3) / 4 * 4;
    if (data.size() < offset || data.size() - offset < uint64_t(rows - 1) * rowBytes + pixelBytes) {
        r.reason = "truncated BMP: the pixel rows end early";
        return r;
    }
    return r;
}

namespace {

class PngWriter final : public PictureWriter {
public:
    std::string Begin(int32_t width, int32_t height, std::string &out) override {
        out_ = &out;
        out.clear();
        if (width <= 0 || height <= 0) return "a picture without pixels cannot be stored as PNG";
        ctx_.reset(spng_ctx_new(SPNG_CTX_ENCODER));
        if (!ctx_) return "not enough memory";
        spng_set_option(ctx_.get(), SPNG_ENCODE_TO_BUFFER, 1);
        spng_ihdr ihdr{};
        ihdr.width = static_cast<uint32_t>(width);
        ihdr.height = static_cast<uint32_t>(height);
        ihdr.bit_depth = 8;
        ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
        rowBytes_ = size_t(width) * 3;
        int rc = spng_set_ihdr(ctx_.get(), &ihdr);
        if (rc == 0)
            rc = spng_encode_image(ctx_.get(), nullptr, 0, SPNG_FMT_PNG,
                                   SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE);
        return Failure(rc);
    }
    std::string AddRows(const uint8_t *rows, size_t stride, uint32_t count) override {
        for (uint32_t i = 0; i < count; ++i) {
            // spng takes rows one at a time; it reports the end after the last.
            const int rc = spng_encode_row(ctx_.get(), rows + i * stride, rowBytes_);
            if (rc != 0 && rc != SPNG_EOI) return Failure(rc);
        }
        return {};
    }
    std::string Finish() override {
        size_t len = 0;
        int err = 0;
        void *png = spng_get_png_buffer(ctx_.get(), &len, &err);
        if (!png || err != 0) return Failure(err ? err : SPNG_EINTERNAL);
        try {
            out_->assign(static_cast<const char *>(png), len);
        } catch (const std::bad_alloc &) {
            std::free(png);
            return "not enough memory";
        }
        std::free(png);
        return {};
    }

private:
    static std::string Failure(int rc) {
        return rc == 0 ? std::string() : std::string("PNG encoding failed: ") + spng_strerror(rc);
    }
    SpngContext ctx_;
    std::string *out_ = nullptr;
    size_t rowBytes_ = 0;
};

// The file is laid out whole, and rows are placed bottom-up as they come.
class BmpWriter final : public PictureWriter {
public:
    bool WantsBgr() const override { return true; }
    std::string Begin(int32_t width, int32_t height, std::string &out) override {
        out_ = &out;
        width_ = width > 0 ? static_cast<uint32_t>(width) : 0;
        height_ = height > 0 ? static_cast<uint32_t>(height) : 0;
        rowBytes_ = (size_t{width_} * 3 + 3) & ~size_t{3};
        out.clear();
        out += "BM";
        PutLe32(out, static_cast<uint32_t>(54 + rowBytes_ * height_));
        PutLe32(out, 0);
        PutLe32(out, 54);
        PutLe32(out, 40);
        PutLe32(out, static_cast<uint32_t>(width));
        PutLe32(out, static_cast<uint32_t>(height));
        PutLe16(out, 1);
        PutLe16(out, 24);
        for (int i = 0; i < 6; ++i) PutLe32(out, 0);
        // The zero padding of each row is there from the start.
        out.resize(54 + rowBytes_ * height_, '\0');
        return {};
    }
    std::string AddRows(const uint8_t *rows, size_t stride, uint32_t count) override {
        for (uint32_t i = 0; i < count && next_ < height_; ++i, ++next_)
            std::memcpy(&(*out_)[54 + (height_ - 1 - next_) * rowBytes_], rows + i * stride,
                        size_t{width_} * 3);
        return {};
    }
    std::string Finish() override { return {}; }

private:
    std::string *out_ = nullptr;
    uint32_t width_ = 0, height_ = 0, next_ = 0;
    size_t rowBytes_ = 0;
};

class PpmWriter final : public PictureWriter {
public:
    std::string Begin(int32_t width, int32_t height, std::string &out) override {
        out_ = &out;
        width_ = width > 0 ? width : 0;
        const int32_t h = height > 0 ? height : 0;
        out = "P6\n" + std::to_string(width_) + " " + std::to_string(h) + "\n255\n";
        out.reserve(out.size() + static_cast<size_t>(width_) * static_cast<size_t>(h) * 3);
        return {};
    }
    std::string AddRows(const uint8_t *rows, size_t stride, uint32_t count) override {
        for (uint32_t i = 0; i < count; ++i)
            out_->append(reinterpret_cast<const char *>(rows + i * stride), size_t(width_) * 3);
        return {};
    }
    std::string Finish() override { return {}; }

private:
    std::string *out_ = nullptr;
    int32_t width_ = 0;
};

}  // namespace

std::unique_ptr<PictureWriter> MakePictureWriter(FileKind kind) {
    switch (kind) {
        case FileKind::Png:
            return std::make_unique<PngWriter>();
        case FileKind::Bmp:
            return std::make_unique<BmpWriter>();
        case FileKind::Ppm:
            return std::make_unique<PpmWriter>();
        default:
            return nullptr;
    }
}

std::string WritePicture(FileKind kind, const RgbPicture &picture, std::string &out) {
    std::unique_ptr<PictureWriter> writer = MakePictureWriter(kind);
    if (!writer) return "no writer for that kind of file";
    const size_t stride = size_t(picture.width) * 3;
    std::vector<uint8_t> swapped;
    const uint8_t *rows = picture.rgb.data();
    if (writer->WantsBgr()) {
        swapped = picture.rgb;
        for (size_t i = 0; i + 2 < swapped.size(); i += 3) std::swap(swapped[i], swapped[i + 2]);
        rows = swapped.data();
    }
    std::string reason = writer->Begin(picture.width, picture.height, out);
    if (reason.empty())
        reason = writer->AddRows(rows, stride, static_cast<uint32_t>(picture.height));
    if (reason.empty()) reason = writer->Finish();
    return reason;
}

}  // namespace plix::tool
