// The C functions of libplixcodec. Nothing is thrown across them: every
// allocation failure becomes PLIX_ERROR_MEMORY.
#include <cstdlib>
#include <cstring>
#include <new>

#include "api/pixel_rows.h"
#include "api/stream_decoder.h"
#include "api/stream_encoder.h"
#include "platform/memory.h"
#include "plix/codec.h"
#include "plix/plix_version.h"

using plix::api::StreamDecoder;
using plix::api::StreamEncoder;

struct plix_decoder {
    explicit plix_decoder(const plix_decode_options *options) : d(options) {}
    StreamDecoder d;
};

struct plix_encoder final : plix::ByteSink {
    plix_write_fn write = nullptr;
    void *user = nullptr;
    StreamEncoder e;

    bool Put(const void *data, size_t n) override { return write(user, data, n) == 0; }
};

namespace {

// Room past what was expected: the writer's last chunk.
constexpr size_t kStreamSlack = plix::kStreamChunk;

// Grows a malloc'd block, so that plix_free is free.
class MemorySink final : public plix::ByteSink {
public:
    ~MemorySink() { std::free(data_); }
    void Expect(size_t n) override {
        // One block of the size that will be needed, instead of doublings.
        if (n > capacity_ - size_ && n <= SIZE_MAX - size_ - kStreamSlack) {
            // A first block where huge pages can back it: written once from
            // start to end, it costs a few page faults instead of one a page.
            void *p = data_ ? std::realloc(data_, size_ + n + kStreamSlack)
                            : plix::platform::AllocatePictureBuffer(n + kStreamSlack);
            if (!p) return;
            data_ = static_cast<uint8_t *>(p);
            capacity_ = size_ + n + kStreamSlack;
        }
    }
    uint8_t *Room(size_t n) override {
        if (n > capacity_ - size_) {
            if (n > SIZE_MAX - size_) return nullptr;
            void *p = std::realloc(data_, size_ + n);
            if (!p) return nullptr;
            data_ = static_cast<uint8_t *>(p);
            capacity_ = size_ + n;
        }
        return data_ + size_;
    }
    void Took(size_t n) override { size_ += n; }
    bool Put(const void *data, size_t n) override {
        if (n > capacity_ - size_) {
            size_t grown = capacity_ < 65536 ? 65536 : capacity_;
            while (grown - size_ < n) {
                if (grown > SIZE_MAX / 2) return false;
                grown *= 2;
            }
            void *p = std::realloc(data_, grown);
            if (!p) return false;
            data_ = static_cast<uint8_t *>(p);
            capacity_ = grown;
        }
        std::memcpy(data_ + size_, data, n);
        size_ += n;
        return true;
    }
    // Hands the block over, trimmed to its size.
    void *Release(size_t *size) {
        void *p = size_ > 0 ? std::realloc(data_, size_) : nullptr;
        if (!p) p = data_;
        *size = size_;
        data_ = nullptr;
        size_ = capacity_ = 0;
        return p;
    }

private:
    uint8_t *data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

template <class F>
int Guarded(F f) {
    try {
        return f();
    } catch (const std::bad_alloc &) {
        return PLIX_ERROR_MEMORY;
    } catch (...) {
        return PLIX_ERROR_MEMORY;
    }
}

}  // namespace

extern "C" {

PLIX_API uint32_t plix_version(void) {
    return PLIX_VERSION_NUMBER;
}

PLIX_API int plix_read_info(const void *data, size_t size, plix_info *info) {
    if (!data || !info) return PLIX_ERROR_ARGUMENT;
    plix::PlixHeader header;
    return plix::api::ReadInfo(data, size, header, info);
}

PLIX_API int plix_scan(const void *data, size_t size, plix_info *info) {
    if (!data || !info) return PLIX_ERROR_ARGUMENT;
    return plix::api::Scan(static_cast<const uint8_t *>(data), size, *info);
}

PLIX_API int plix_decode(const void *data, size_t size, const plix_decode_options *options,
                         plix_format format, void *pixels, size_t stride, plix_info *info) {
    const int f = plix::api::FormatNumber(format);
    if (!data || plix::api::BytesPerPixel(f) == 0) return PLIX_ERROR_ARGUMENT;
    return Guarded([&] {
        StreamDecoder d(options);
        int r = d.PushWhole(static_cast<const uint8_t *>(data), size);
        if (info) d.Info(info);
        if (r != PLIX_OK) return r;
        plix_info facts;
        d.Info(&facts);
        const bool hasPixels = facts.width > 0 && facts.height > 0;
        if (hasPixels &&
            (!pixels || stride < plix::api::BytesPerPixel(f) * static_cast<size_t>(facts.width)))
            return PLIX_ERROR_ARGUMENT;
        uint32_t rows = 0;
        const unsigned threads = options ? options->threads : 1;
        if (hasPixels && d.ReadAllInBands(f, static_cast<uint8_t *>(pixels), stride, threads)) {
            if (info) d.Info(info);
            return d.ReadRows(f, static_cast<uint8_t *>(pixels), stride, 0, &rows);
        }
        r = d.ReadRows(f, static_cast<uint8_t *>(pixels), stride, facts.height, &rows);
        if (info) d.Info(info);
        return r;
    });
}

PLIX_API int plix_encode(const void *pixels, uint32_t width, uint32_t height, size_t stride,
                         plix_format format, const plix_encode_options *options, void **data,
                         size_t *size) {
    if (data) *data = nullptr;
    if (size) *size = 0;
    if (!data || !size) return PLIX_ERROR_ARGUMENT;
    return Guarded([&] {
        MemorySink sink;
        StreamEncoder e;
        int r = e.Start(width, height, options, sink);
        if (r == PLIX_OK)
            r = e.WriteRows(static_cast<const uint8_t *>(pixels), stride,
                            plix::api::FormatNumber(format), height);
        if (r == PLIX_OK) r = e.Finish();
        // The sink fails only for memory.
        if (r == PLIX_ERROR_WRITE) r = PLIX_ERROR_MEMORY;
        if (r == PLIX_OK) *data = sink.Release(size);
        return r;
    });
}

PLIX_API void plix_free(void *data) {
    std::free(data);
}

PLIX_API const char *plix_error_string(int result) {
    switch (result) {
        case PLIX_OK:
            return "success";
        case PLIX_TRUNCATED:
            return "the data ends early; the rest of the picture is filler";
        case PLIX_NEED_DATA:
            return "more data is needed";
        case PLIX_ERROR_ARGUMENT:
            return "invalid argument";
        case PLIX_ERROR_NOT_PLIX:
            return "not a PLIX file";
        case PLIX_ERROR_LIMIT:
            return "the picture is larger than the pixel limit";
        case PLIX_ERROR_MEMORY:
            return "not enough memory";
        case PLIX_ERROR_WRITE:
            return "the output could not be written";
        default:
            return "unknown result";
    }
}

PLIX_API plix_decoder *plix_decoder_new(const plix_decode_options *options) {
    try {
        return new plix_decoder(options);
    } catch (...) {
        return nullptr;
    }
}

PLIX_API void plix_decoder_free(plix_decoder *decoder) {
    delete decoder;
}

PLIX_API int plix_decoder_push(plix_decoder *decoder, const void *data, size_t size) {
    if (!decoder) return PLIX_ERROR_ARGUMENT;
    return Guarded([&] { return decoder->d.Push(static_cast<const uint8_t *>(data), size); });
}

PLIX_API int plix_decoder_finish(plix_decoder *decoder) {
    if (!decoder) return PLIX_ERROR_ARGUMENT;
    return decoder->d.Finish();
}

PLIX_API int plix_decoder_info(const plix_decoder *decoder, plix_info *info) {
    if (!decoder) return PLIX_ERROR_ARGUMENT;
    return decoder->d.Info(info);
}

PLIX_API int plix_decoder_read_rows(plix_decoder *decoder, plix_format format, void *pixels,
                                    size_t stride, uint32_t max_rows, uint32_t *rows) {
    if (rows) *rows = 0;
    if (!decoder) return PLIX_ERROR_ARGUMENT;
    return Guarded([&] {
        return decoder->d.ReadRows(plix::api::FormatNumber(format), static_cast<uint8_t *>(pixels),
                                   stride, max_rows, rows);
    });
}

PLIX_API int plix_encoder_new(uint32_t width, uint32_t height, const plix_encode_options *options,
                              plix_write_fn write, void *user, plix_encoder **encoder) {
    if (encoder) *encoder = nullptr;
    if (!encoder || !write) return PLIX_ERROR_ARGUMENT;
    return Guarded([&] {
        auto *e = new plix_encoder;
        e->write = write;
        e->user = user;
        const int r = e->e.Start(width, height, options, *e);
        if (r != PLIX_OK) {
            delete e;
            return r;
        }
        *encoder = e;
        return PLIX_OK;
    });
}

PLIX_API int plix_encoder_write_rows(plix_encoder *encoder, const void *pixels, size_t stride,
                                     plix_format format, uint32_t rows) {
    if (!encoder) return PLIX_ERROR_ARGUMENT;
    return Guarded([&] {
        return encoder->e.WriteRows(static_cast<const uint8_t *>(pixels), stride,
                                    plix::api::FormatNumber(format), rows);
    });
}

PLIX_API int plix_encoder_finish(plix_encoder *encoder) {
    if (!encoder) return PLIX_ERROR_ARGUMENT;
    return Guarded([&] { return encoder->e.Finish(); });
}

PLIX_API void plix_encoder_free(plix_encoder *encoder) {
    delete encoder;
}

}  // extern "C"
