// The incremental encoder behind plix_encoder and plix_encode: rows in any
// numbers, bytes out through a sink as strips are coded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "band_encoder.h"
#include "plix/codec.h"
#include "streams.h"
#include "strips.h"

namespace plix::api {

class StreamEncoder {
public:
    StreamEncoder();
    StreamEncoder(const StreamEncoder &) = delete;
    StreamEncoder &operator=(const StreamEncoder &) = delete;

    // Checks the sizes and settings and writes the header into sink.
    int Start(uint32_t width, uint32_t height, const plix_encode_options *options, ByteSink &sink);
    int WriteRows(const uint8_t *pixels, size_t stride, int format, uint32_t rows);
    int Finish();
    // Pictures from this many pixels on are coded on threads when asked
    // (tests send small ones there).
    void SetBandMinimum(int64_t pixels) { bandMinPixels_ = pixels; }

private:
    int Fail(int error);
    // Codes the strips kept (the last one's rows past the picture padded).
    int CodeStrips();
    // The strips kept, 0xFF at first; false when memory is short.
    bool MakeBuffer();
    // Codes the whole strips among rows (the last, short one included) on
    // several threads, straight from the caller's pixels; the rows it took.
    uint32_t CodeInBands(const uint8_t *pixels, size_t stride, int format, uint32_t rows);

    int error_ = PLIX_OK;
    unsigned threads_ = 1;
    int64_t bandMinPixels_;
    bool finished_ = false;
    PlixHeader header_;
    std::optional<StripEncoder> strips_;
    StreamWriter writer_;
    std::unique_ptr<uint8_t[]> strip_;  // bufferStrips_ strips of rows
    size_t stripRowBytes_ = 0;
    uint32_t bufferStrips_ = 1;
    uint32_t rowsIn_ = 0;
    uint32_t stripFill_ = 0;  // rows kept so far
    BandScratch bands_;       // the threads' memory, from one call to the next
};

}  // namespace plix::api
