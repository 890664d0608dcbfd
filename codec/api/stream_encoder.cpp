// The strip is laid out as the classic codec's picture buffer is: the image
// area as SetPixel stores it, every other byte 0xFF as CreateImage leaves it,
// so the bytes are those of the classic encode of the same pixels.
#include "api/stream_encoder.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "api/pixel_rows.h"
#include "band_encoder.h"
#include "threads.h"
#include "dsp/dsp.h"

namespace plix::api {

namespace {

// Rows kept for the threads: a few bands' strips per thread, within a memory
// budget.
constexpr uint64_t kStripsPerThread = 16;
constexpr uint64_t kBufferBytes = 32 << 20;
constexpr uint64_t kExpectAtMost = uint64_t{256} << 20;

}  // namespace

StreamEncoder::StreamEncoder() : bandMinPixels_(kBandMinPixels) {}

int StreamEncoder::Fail(int error) {
    error_ = error;
    strip_.reset();
    return error;
}

int StreamEncoder::Start(uint32_t width, uint32_t height, const plix_encode_options *options,
                         ByteSink &sink) {
    const plix_encode_options settings = options ? *options : plix_encode_options{};
    if (settings.mode > 1 || settings.qfactor > 15 || settings.matrix > 2 || width > INT32_MAX ||
        height > INT32_MAX)
        return Fail(PLIX_ERROR_ARGUMENT);
    // A strip this wide cannot be held; a picture of no rows needs none.
    if (width > static_cast<uint32_t>(kMaxStripWidth) && height > 0) return Fail(PLIX_ERROR_MEMORY);
    threads_ = std::clamp(settings.threads, 1u, kMaxThreads);
    header_ =
        MakeHeader(static_cast<int32_t>(settings.mode), static_cast<int32_t>(settings.qfactor),
                   static_cast<int32_t>(settings.matrix), static_cast<int32_t>(width),
                   static_cast<int32_t>(height));
    if (width > 0 && height > 0) {
        strips_.emplace(header_, GetDsp());
        stripRowBytes_ = static_cast<size_t>(strips_->PaddedWidth()) * 4;
        // With threads, rows given a few at a time wait in a few bands'
        // strips per thread, coded together (made when first needed: rows
        // given all at once are coded from where they are).
        const size_t stripBytes = stripRowBytes_ * 8;
        if (threads_ > 1)
            bufferStrips_ = static_cast<uint32_t>(std::min<uint64_t>(
                {uint64_t{threads_} * kStripsPerThread,
                 std::max<uint64_t>(uint64_t{threads_} * 2, kBufferBytes / stripBytes),
                 static_cast<uint64_t>(strips_->Strips())}));
        else if (!MakeBuffer())
            return Fail(PLIX_ERROR_MEMORY);
    }
    writer_.OpenSink(&sink);
    // Photographs take less than six bits a pixel: room for that at once
    // spares an output in memory its growing. Pages are only taken as they
    // are written; WebAssembly's heap grows by all of it, but each doubling
    // there would copy everything written so far (a tenth of a q0 encode).
    writer_.Expect(std::min<uint64_t>(uint64_t{width} * height / 4 * 3, kExpectAtMost));
    uint8_t raw[kHeaderSize];
    SerializeHeader(header_, raw);
    writer_.WriteBlock(raw, kHeaderSize);
    return writer_.Failed() ? Fail(PLIX_ERROR_WRITE) : PLIX_OK;
}

bool StreamEncoder::MakeBuffer() {
    const size_t stripBytes = stripRowBytes_ * 8;
    strip_.reset(new (std::nothrow) uint8_t[stripBytes * bufferStrips_]);
    if (!strip_ && bufferStrips_ > 1) {
        bufferStrips_ = 1;
        strip_.reset(new (std::nothrow) uint8_t[stripBytes]);
    }
    if (strip_) std::memset(strip_.get(), 0xFF, stripBytes * bufferStrips_);
    return strip_ != nullptr;
}

int StreamEncoder::CodeStrips() {
    const uint32_t strips = (stripFill_ + 7) / 8;
    // Rows past the picture are padding.
    if (stripFill_ % 8 != 0)
        std::memset(strip_.get() + stripFill_ * stripRowBytes_, 0xFF,
                    (8 - stripFill_ % 8) * stripRowBytes_);
    const size_t stripBytes = stripRowBytes_ * 8;
    const int64_t first = strips_->Top() / 8;
    const StripFill fill = [&](int64_t strip, uint8_t *out, int32_t from) {
        const uint8_t *in = strip_.get() + static_cast<size_t>(strip - first) * stripBytes;
        if (from == 0) {
            std::memcpy(out, in, stripBytes);
            return;
        }
        const size_t skip = static_cast<size_t>(from) * 4;
        for (size_t r = 0; r < 8; ++r)
            std::memcpy(out + r * stripRowBytes_ + skip, in + r * stripRowBytes_ + skip,
                        stripRowBytes_ - skip);
    };
    if (!BandsPayOff(strips, strips_->PaddedWidth(), threads_, bandMinPixels_) ||
        !EncodeStripsInBands(header_, GetDsp(), *strips_, writer_, strips, fill, threads_, &bands_)) {
        // The strips are the encoder's own: converted in place.
        for (uint32_t s = 0; s < strips; ++s) {
            uint8_t *rows = strip_.get() + s * stripBytes;
            strips_->Next(writer_, rows, stripRowBytes_, rows);
        }
    }
    stripFill_ = 0;
    return writer_.Failed() ? Fail(PLIX_ERROR_WRITE) : PLIX_OK;
}

int StreamEncoder::WriteRows(const uint8_t *pixels, size_t stride, int format, uint32_t rows) {
    if (error_ != PLIX_OK) return error_;
    const size_t bytes = BytesPerPixel(format);
    const uint32_t width = static_cast<uint32_t>(header_.width);
    if (finished_ || bytes == 0 || (rows > 0 && width > 0 && (!pixels || stride < bytes * width)) ||
        rows > static_cast<uint32_t>(header_.height) - rowsIn_)
        return PLIX_ERROR_ARGUMENT;
    if (!strips_) {
        rowsIn_ += rows;  // a picture without pixels has nothing to code
        return PLIX_OK;
    }
    uint32_t i = stripFill_ == 0 && threads_ > 1 ? CodeInBands(pixels, stride, format, rows) : 0;
    if (writer_.Failed()) return Fail(PLIX_ERROR_WRITE);
    if (i < rows && !strip_ && !MakeBuffer()) return Fail(PLIX_ERROR_MEMORY);
    for (; i < rows; ++i) {
        UnpackRow(pixels + static_cast<size_t>(i) * stride, format,
                  strip_.get() + stripFill_ * stripRowBytes_, width);
        ++stripFill_;
        ++rowsIn_;
        if (stripFill_ == 8 * bufferStrips_ || rowsIn_ == static_cast<uint32_t>(header_.height)) {
            const int r = CodeStrips();
            if (r != PLIX_OK) return r;
        }
    }
    return PLIX_OK;
}

uint32_t StreamEncoder::CodeInBands(const uint8_t *pixels, size_t stride, int format,
                                    uint32_t rows) {
    const uint32_t height = static_cast<uint32_t>(header_.height);
    const uint32_t width = static_cast<uint32_t>(header_.width);
    const uint32_t taken = rowsIn_ + rows == height ? rows : rows / 8 * 8;
    const int64_t strips = (taken + 7) / 8;
    // Fewer rows than the strips kept would hold go there first.
    if (strips < bufferStrips_ ||
        !BandsPayOff(strips, strips_->PaddedWidth(), threads_, bandMinPixels_))
        return 0;
    const uint32_t firstRow = rowsIn_;
    const size_t bytes = BytesPerPixel(format);
    const StripFill fill = [&](int64_t strip, uint8_t *out, int32_t from) {
        const uint32_t x = static_cast<uint32_t>(from);
        for (uint32_t r = 0; r < 8; ++r) {
            const uint64_t y = static_cast<uint64_t>(strip) * 8 + r;
            uint8_t *row = out + r * stripRowBytes_ + size_t{x} * 4;
            if (y < height)
                UnpackRow(pixels + (y - firstRow) * stride + size_t{x} * bytes, format, row, width - x);
            else
                std::memset(row, 0xFF, stripRowBytes_ - size_t{x} * 4);
        }
    };
    // Short of memory for the bands' bits, the rows go the one-thread way.
    if (!EncodeStripsInBands(header_, GetDsp(), *strips_, writer_, strips, fill, threads_, &bands_)) return 0;
    rowsIn_ += taken;
    return taken;
}

int StreamEncoder::Finish() {
    if (error_ != PLIX_OK) return error_;
    if (finished_ || rowsIn_ < static_cast<uint32_t>(header_.height)) return PLIX_ERROR_ARGUMENT;
    finished_ = true;
    writer_.Flush();
    return writer_.Close() ? PLIX_OK : Fail(PLIX_ERROR_WRITE);
}

}  // namespace plix::api
