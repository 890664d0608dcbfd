// PNG in through libspng, a row at a time; PNG out through zlib, a band at a
// time, the bands compressed on several threads when asked.
#include <libdeflate.h>
#include <spng.h>
#include <zlib.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "fast_deflate.h"
#include "picture_bytes.h"
#include "pictures.h"

namespace plix::tool {

namespace {

struct SpngFree {
    void operator()(spng_ctx *c) const { spng_ctx_free(c); }
};
using SpngContext = std::unique_ptr<spng_ctx, SpngFree>;

// Nearest 8-bit value of a 16-bit sample.
uint8_t Scale16(uint32_t v) {
    return static_cast<uint8_t>((v * 255 + 32767) / 65535);
}

class PngReader final : public PictureReader {
public:
    explicit PngReader(ByteSource &source) : in_(source) {}

    ReadResult Start(uint64_t maxPixels) override {
        ReadResult r;
        ctx_.reset(spng_ctx_new(0));
        if (!ctx_) {
            r.reason = "not enough memory";
            return r;
        }
        // Text and other ancillary chunks are not needed; keep their memory small.
        spng_set_chunk_limits(ctx_.get(), size_t{1} << 26, size_t{1} << 26);
        spng_set_png_stream(ctx_.get(), &PngReader::ReadBytes, this);
        spng_ihdr ihdr{};
        int rc = spng_get_ihdr(ctx_.get(), &ihdr);
        if (rc != 0) {
            r.reason = Failure("not a valid PNG file: ", rc);
            return r;
        }
        if (ihdr.width > INT32_MAX || ihdr.height > INT32_MAX ||
            uint64_t{ihdr.width} * ihdr.height > maxPixels) {
            r.reason = TooLargeReason(ihdr.width, ihdr.height, maxPixels);
            r.tooLarge = true;
            return r;
        }
        wide_ = ihdr.bit_depth == 16;
        // No transparency or gamma applied: the stored samples, as the BMP
        // import takes them.
        const int fmt = wide_ ? SPNG_FMT_RGBA16 : SPNG_FMT_RGB8;
        rc = spng_decoded_image_size(ctx_.get(), fmt, &imageBytes_);
        if (rc != 0) {
            r.reason = Failure("unsupported PNG: ", rc);
            return r;
        }
        width_ = ihdr.width;
        height_ = ihdr.height;
        rowBytes_ = imageBytes_ / height_;
        if (ihdr.interlace_method != 0) {
            // Passes spread every row over the file: the picture is decoded whole.
            whole_.reset(new (std::nothrow) uint8_t[imageBytes_]);
            if (!whole_) {
                r.reason = "not enough memory for the picture";
                return r;
            }
            rc = spng_decode_image(ctx_.get(), whole_.get(), imageBytes_, fmt, 0);
            if (rc != 0) r.reason = Failure("damaged PNG file: ", rc);
            return r;
        }
        rc = spng_decode_image(ctx_.get(), nullptr, 0, fmt, SPNG_DECODE_PROGRESSIVE);
        if (rc != 0) {
            r.reason = Failure("damaged PNG file: ", rc);
            return r;
        }
        if (wide_) {
            row_.reset(new (std::nothrow) uint8_t[rowBytes_]);
            if (!row_) r.reason = "not enough memory";
        }
        return r;
    }

    ReadResult ReadRows(uint8_t *rows, size_t stride, uint32_t count) override {
        ReadResult r;
        for (uint32_t i = 0; i < count && next_ < height_; ++i, ++next_) {
            uint8_t *dst = rows + i * stride;
            const uint8_t *src = nullptr;
            if (whole_) {
                src = whole_.get() + size_t{next_} * rowBytes_;
            } else {
                // 8-bit rows are decoded in place; spng says the end after the last.
                uint8_t *to = wide_ ? row_.get() : dst;
                const int rc = spng_decode_row(ctx_.get(), to, rowBytes_);
                if (rc != 0 && !(rc == SPNG_EOI && next_ + 1 == height_)) {
                    r.reason = Failure("damaged PNG file: ", rc);
                    return r;
                }
                src = to;
            }
            if (wide_) {
                for (uint32_t x = 0; x < width_; ++x)
                    for (int c = 0; c < 3; ++c) {
                        uint16_t v;
                        std::memcpy(&v, src + size_t{x} * 8 + c * 2, 2);  // host order
                        dst[size_t{x} * 3 + c] = Scale16(v);
                    }
            } else if (src != dst) {
                std::memcpy(dst, src, size_t{width_} * 3);
            }
        }
        return r;
    }

private:
    static int ReadBytes(spng_ctx *, void *user, void *dest, size_t length) {
        auto *self = static_cast<PngReader *>(user);
        size_t got = 0;
        self->error_ = self->in_.Read(dest, length, got);
        if (!self->error_.empty()) return SPNG_IO_ERROR;
        return got == length ? 0 : SPNG_IO_EOF;
    }
    std::string Failure(const char *what, int rc) const {
        if (!error_.empty()) return "cannot read: " + error_;
        return what + std::string(spng_strerror(rc));
    }

    BufferedReader in_;
    SpngContext ctx_;
    std::string error_;
    bool wide_ = false;
    size_t imageBytes_ = 0, rowBytes_ = 0;
    uint32_t next_ = 0;
    std::unique_ptr<uint8_t[]> whole_, row_;
};

// ---- PNG out ------------------------------------------------------------

void PutBe32(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

// Rows are cut into bands of about this many bytes, each compressed on its own
// (so bands can go to several threads) and ended on a byte boundary.
constexpr size_t kBandBytes = size_t{1} << 20;

// The Paeth filter over one row of 3-byte pixels; prev is the row above.
void Paeth(const uint8_t *row, const uint8_t *prev, size_t n, uint8_t *out) {
    size_t i = 0;
    for (; i < 3 && i < n; ++i) out[i] = static_cast<uint8_t>(row[i] - prev[i]);
#if defined(__SSE2__)
    // Eight bytes at a time in 16-bit lanes.
    const __m128i zero = _mm_setzero_si128();
    auto load8 = [&](const uint8_t *p) {
        return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p)), zero);
    };
    auto abs16 = [&](__m128i v) { return _mm_max_epi16(v, _mm_sub_epi16(zero, v)); };
    for (; i + 8 <= n; i += 8) {
        const __m128i a = load8(row + i - 3), b = load8(prev + i), c = load8(prev + i - 3);
        const __m128i bc = _mm_sub_epi16(b, c), ac = _mm_sub_epi16(a, c);
        const __m128i pa = abs16(bc), pb = abs16(ac), pc = abs16(_mm_add_epi16(bc, ac));
        // a when pa is the smallest, else b when pb <= pc, else c.
        const __m128i notA = _mm_or_si128(_mm_cmpgt_epi16(pa, pb), _mm_cmpgt_epi16(pa, pc));
        const __m128i useC = _mm_cmpgt_epi16(pb, pc);
        const __m128i bOrC = _mm_or_si128(_mm_and_si128(useC, c), _mm_andnot_si128(useC, b));
        const __m128i p = _mm_or_si128(_mm_and_si128(notA, bOrC), _mm_andnot_si128(notA, a));
        const __m128i x = _mm_sub_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(row + i)),
                                       _mm_packus_epi16(p, p));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out + i), x);
    }
#endif
    for (; i < n; ++i) {
        const int a = row[i - 3], b = prev[i], c = prev[i - 3];
        const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
        const int p = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
        out[i] = static_cast<uint8_t>(row[i] - p);
    }
}

struct Band {
    std::unique_ptr<uint8_t[]> raw;  // room for capacity rows, then the row above them
    uint32_t capacity = 0;
    uint32_t rows = 0;
    bool last = false;
    // Filled by the compression.
    std::unique_ptr<uint8_t[]> out;
    size_t outBytes = 0;
    uLong adler = 1;
    size_t filteredBytes = 0;
    bool failed = false;
    bool done = false;
};

// One deflate state, reused band after band.
class Deflater {
public:
    explicit Deflater(int level) : level_(level) {
        // Level 1 is the fast deflate of this folder; the others are zlib's.
        zlib_ =
            level != 1 && deflateInit2(&z_, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
        ok_ = level == 1 || zlib_;
    }
    ~Deflater() {
        if (zlib_) deflateEnd(&z_);
    }
    Deflater(const Deflater &) = delete;
    Deflater &operator=(const Deflater &) = delete;

    void Compress(Band &band, size_t rowBytes) {
        band.failed = true;
        if (!ok_ || (zlib_ && deflateReset(&z_) != Z_OK)) return;
        const size_t line = rowBytes + 1;
        band.filteredBytes = line * band.rows;
        const size_t room = zlib_ ? deflateBound(&z_, band.filteredBytes) + 16
                                  : FastDeflateBound(band.filteredBytes);
        band.out.reset(new (std::nothrow) uint8_t[room]);
        if (!band.out) return;
        try {
            filtered_.resize(band.filteredBytes);
        } catch (const std::bad_alloc &) {
            return;
        }
        const uint8_t *above = band.raw.get() + size_t{band.capacity} * rowBytes;
        for (uint32_t y = 0; y < band.rows; ++y) {
            const uint8_t *row = band.raw.get() + size_t{y} * rowBytes;
            uint8_t *f = filtered_.data() + y * line;
            if (level_ == 0) {
                f[0] = 0;
                std::memcpy(f + 1, row, rowBytes);
            } else {
                f[0] = 4;
                Paeth(row, y == 0 ? above : row - rowBytes, rowBytes, f + 1);
            }
        }
        band.adler = libdeflate_adler32(1, filtered_.data(), band.filteredBytes);
        if (!zlib_) {
            band.outBytes =
                FastDeflate(filtered_.data(), band.filteredBytes, band.last, band.out.get());
            band.failed = false;
            return;
        }
        z_.next_in = filtered_.data();
        z_.avail_in = static_cast<uInt>(band.filteredBytes);
        z_.next_out = band.out.get();
        z_.avail_out = static_cast<uInt>(room);
        // A sync flush ends the band on a byte boundary without ending the stream.
        const int rc = deflate(&z_, band.last ? Z_FINISH : Z_SYNC_FLUSH);
        if ((band.last && rc != Z_STREAM_END) || (!band.last && rc != Z_OK) || z_.avail_in != 0)
            return;
        band.outBytes = room - z_.avail_out;
        band.failed = false;
    }

private:
    z_stream z_{};
    int level_;
    bool zlib_ = false, ok_ = false;
    std::vector<uint8_t> filtered_;
};

class PngWriter final : public PictureWriter {
public:
    explicit PngWriter(const WriterOptions &options)
        : level_(std::clamp(options.pngCompression, 0, 9)),
          threads_(options.threads > 1 ? options.threads : 0) {}

    ~PngWriter() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        for (std::thread &t : workers_) t.join();
    }

    std::string Begin(int64_t width, int64_t height, ByteSink &sink) override {
        sink_ = &sink;
        if (width <= 0 || height <= 0) return "a picture without pixels cannot be stored as PNG";
        if (width > INT32_MAX || height > INT32_MAX)
            return "a picture of " + std::to_string(width) + " x " + std::to_string(height) +
                   " pixels cannot be stored as PNG";
        width_ = static_cast<uint32_t>(width);
        height_ = static_cast<uint32_t>(height);
        rowBytes_ = size_t{width_} * 3;
        bandRows_ =
            static_cast<uint32_t>(std::clamp<size_t>(kBandBytes / (rowBytes_ + 1), 1, height_));
        static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        std::string reason = sink.Write(signature, sizeof signature);
        uint8_t ihdr[13] = {};
        PutBe32(ihdr, width_);
        PutBe32(ihdr + 4, height_);
        ihdr[8] = 8;  // bits per sample
        ihdr[9] = 2;  // truecolour
        if (reason.empty()) reason = Chunk("IHDR", {{ihdr, sizeof ihdr}});
        if (!reason.empty()) return reason;
        deflater_ = std::make_unique<Deflater>(level_);
        if (!NewBand()) return "not enough memory";
        band_ = std::move(next_);
        try {
            for (unsigned i = 0; i < threads_; ++i) workers_.emplace_back([this] { Work(); });
        } catch (const std::exception &) {
            return "cannot start the PNG threads";
        }
        return {};
    }

    std::string AddRows(const uint8_t *rows, size_t stride, uint32_t count) override {
        for (uint32_t i = 0; i < count && rowsIn_ < height_; ++i) {
            std::memcpy(band_->raw.get() + size_t{band_->rows} * rowBytes_, rows + i * stride,
                        rowBytes_);
            ++band_->rows;
            ++rowsIn_;
            if (band_->rows == bandRows_ || rowsIn_ == height_) {
                std::string reason = Submit();
                if (!reason.empty()) return reason;
            }
        }
        return {};
    }

    std::string Finish() override {
        if (rowsIn_ != height_) return "rows are missing";
        while (!inFlight_.empty()) {
            std::string reason = EmitOldest();
            if (!reason.empty()) return reason;
        }
        return Chunk("IEND", {});
    }

private:
    struct Part {
        const void *data;
        size_t size;
    };

    std::string Chunk(const char *type, std::initializer_list<Part> parts) {
        size_t length = 0;
        for (const Part &p : parts) length += p.size;
        uint8_t head[8];
        PutBe32(head, static_cast<uint32_t>(length));
        std::memcpy(head + 4, type, 4);
        uint32_t crc = libdeflate_crc32(0, head + 4, 4);
        for (const Part &p : parts) crc = libdeflate_crc32(crc, p.data, p.size);
        uint8_t tail[4];
        PutBe32(tail, static_cast<uint32_t>(crc));
        std::string reason = sink_->Write(head, sizeof head);
        for (const Part &p : parts)
            if (reason.empty() && p.size) reason = sink_->Write(p.data, p.size);
        if (reason.empty()) reason = sink_->Write(tail, sizeof tail);
        return reason;
    }

    // A fresh band, holding the row above it.
    bool NewBand() {
        auto band = std::make_unique<Band>();
        band->raw.reset(new (std::nothrow) uint8_t[size_t{bandRows_ + 1} * rowBytes_]);
        if (!band->raw) return false;
        band->capacity = bandRows_;
        uint8_t *above = band->raw.get() + size_t{bandRows_} * rowBytes_;
        if (band_)
            std::memcpy(above, band_->raw.get() + size_t{band_->rows - 1} * rowBytes_, rowBytes_);
        else
            std::memset(above, 0, rowBytes_);
        next_ = std::move(band);
        return true;
    }

    std::string Submit() {
        band_->last = rowsIn_ == height_;
        // The row above the next band is this band's last row.
        if (!band_->last && !NewBand()) return "not enough memory";
        if (workers_.empty()) {
            deflater_->Compress(*band_, rowBytes_);
            band_->done = true;
            inFlight_.push_back(std::move(band_));
        } else {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                todo_.push_back(band_.get());
                inFlight_.push_back(std::move(band_));
            }
            wake_.notify_one();
        }
        band_ = std::move(next_);
        // A few bands a thread in flight, then the oldest goes out.
        const size_t most = workers_.empty() ? 0 : 2 * workers_.size();
        while (inFlight_.size() > most) {
            std::string reason = EmitOldest();
            if (!reason.empty()) return reason;
        }
        return {};
    }

    std::string EmitOldest() {
        Band &band = *inFlight_.front();
        {
            std::unique_lock<std::mutex> lock(mutex_);
            done_.wait(lock, [&] { return band.done; });
        }
        if (band.failed) return "PNG compression failed: not enough memory";
        uint8_t header[2] = {0x78, static_cast<uint8_t>(level_ <= 1   ? 0x01
                                                        : level_ < 6  ? 0x5E
                                                        : level_ == 6 ? 0x9C
                                                                      : 0xDA)};
        adler_ = adler32_combine(adler_, band.adler, static_cast<z_off_t>(band.filteredBytes));
        uint8_t check[4];
        PutBe32(check, static_cast<uint32_t>(adler_));
        std::string reason = Chunk("IDAT", {{header, first_ ? sizeof header : 0},
                                            {band.out.get(), band.outBytes},
                                            {check, band.last ? sizeof check : 0}});
        first_ = false;
        inFlight_.pop_front();
        return reason;
    }

    void Work() {
        Deflater deflater(level_);
        for (;;) {
            Band *band = nullptr;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [&] { return stop_ || !todo_.empty(); });
                if (stop_) return;
                band = todo_.front();
                todo_.pop_front();
            }
            deflater.Compress(*band, rowBytes_);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                band->done = true;
            }
            done_.notify_all();
        }
    }

    const int level_;
    const unsigned threads_;
    ByteSink *sink_ = nullptr;
    uint32_t width_ = 0, height_ = 0, bandRows_ = 1, rowsIn_ = 0;
    size_t rowBytes_ = 0;
    std::unique_ptr<Deflater> deflater_;  // the caller's thread's
    std::unique_ptr<Band> band_, next_;
    std::deque<std::unique_ptr<Band>> inFlight_;
    uLong adler_ = 1;
    bool first_ = true;

    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::deque<Band *> todo_;
    bool stop_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace

std::unique_ptr<PictureReader> MakePngReader(ByteSource &source) {
    return std::make_unique<PngReader>(source);
}

std::unique_ptr<PictureWriter> MakePngWriter(const WriterOptions &options) {
    return std::make_unique<PngWriter>(options);
}

ReadResult ReadPng(std::string_view data, uint64_t maxPixels, RgbPicture &out) {
    MemorySource source(data);
    PngReader reader(source);
    return ReadWhole(reader, maxPixels, out);
}

}  // namespace plix::tool
