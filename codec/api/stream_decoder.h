// The incremental decoder behind plix_decoder and plix_decode: bytes in any
// pieces, rows out a strip at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "format.h"
#include "plix/codec.h"
#include "streams.h"
#include "band_decoder.h"
#include "dsp/dsp.h"
#include "strips.h"
#include "threads.h"

namespace plix::api {

// The checks every door applies to a header: PLIX_OK, or
// PLIX_ERROR_NOT_PLIX. info (may be null) receives its facts.
int ReadInfo(const void *data, size_t size, PlixHeader &header, plix_info *info);
void FillInfo(const PlixHeader &header, plix_info *info);
// plix_scan.
int Scan(const uint8_t *data, size_t size, plix_info &info);

class StreamDecoder {
public:
    explicit StreamDecoder(const plix_decode_options *options);
    StreamDecoder(const StreamDecoder &) = delete;
    StreamDecoder &operator=(const StreamDecoder &) = delete;

    // Copies the bytes it keeps.
    int Push(const uint8_t *data, size_t size);
    // A whole file the caller keeps alive while rows are read: nothing is
    // copied, and the input is finished.
    int PushWhole(const uint8_t *data, size_t size);
    int Finish();
    int Info(plix_info *info) const;
    int ReadRows(int format, uint8_t *pixels, size_t stride, uint32_t maxRows, uint32_t *rows);
    // After PushWhole, before any row was read: every row into pixels on up
    // to threads threads. False when that was not done (nothing changed,
    // though some rows may have been written): then ReadRows does it all on
    // this thread. Tests set firstStrips, tailFrom and mostKept as
    // DecodeInBands takes them.
    bool ReadAllInBands(int format, uint8_t *pixels, size_t stride, unsigned threads,
                        int64_t minPixels = kPartMinPixels, size_t minPartBytes = kMinPartBytes,
                        int64_t firstStrips = -1, int64_t tailFrom = -1,
                        uint64_t mostKept = kMostKeptInAll);

    uint64_t StripsDecodedAhead() const { return stripsAhead_; }
    // Tests and fuzzers: these kernels rather than the machine's best, set
    // before any byte is pushed; k must outlive the decoder.
    void UseKernels(const Dsp &k) { kernels_ = &k; }
    // Tests: strips decoded ahead on threads for pictures of any size.
    void SetAheadMinimum(int64_t pixels, size_t partBytes) {
        aheadPixels_ = pixels;
        aheadPartBytes_ = partBytes;
    }

private:
    const Dsp &Kernels() const { return kernels_ ? *kernels_ : GetDsp(); }
    enum class Phase { kHeader, kExtra, kBody, kFailed };

    int Fail(int error);
    // Takes header and extra bytes from the front of data.
    int TakeHeader(const uint8_t *&data, size_t &size);
    void KeepBody(const uint8_t *data, size_t size);
    bool HasPixels() const { return header_.width > 0 && header_.height > 0; }
    bool StripReady() const;
    // False when the bytes ran out before the strip's end: nothing changed.
    bool DecodeStrip();
    // With threads: several strips at once, once the bytes they may need are
    // in (or the input is finished), straight into pixels (rows of them
    // written) where room rows take them all, otherwise into the window,
    // when fresh (no row written by this call yet: else kRoom).
    enum class Ahead { kNo, kWait, kRoom, kDone };
    Ahead DecodeAhead(int format, uint8_t *pixels, size_t stride, uint32_t room, bool fresh,
                      uint32_t &rows);
    // The next of the strips decoded ahead becomes the one rows come from.
    void NextAhead();
    void CountAhead(int64_t i);
    int Result() const { return truncated_ ? PLIX_TRUNCATED : PLIX_OK; }

    uint64_t maxPixels_;
    unsigned threads_;
    const Dsp *kernels_ = nullptr;
    Phase phase_ = Phase::kHeader;
    int error_ = PLIX_OK;
    uint8_t head_[kHeaderSize] = {};
    size_t headBytes_ = 0;
    PlixHeader header_;
    size_t extraLeft_ = 0;

    // The body from byte base_ on: kept_, or the caller's whole file.
    std::vector<uint8_t> kept_;
    const uint8_t *whole_ = nullptr;
    uint64_t base_ = 0;
    uint64_t bodyBytes_ = 0;
    uint64_t bitPos_ = 0;  // next bit of the body to decode
    uint8_t filler_ = 0;   // what the body's reader delivers past its end
    bool finished_ = false;
    // Bytes past the next bit before a strip is tried again, after a try
    // that ran out of them.
    uint64_t tryAt_ = 1;

    std::optional<StripDecoder> strips_;
    StreamReader reader_;
    std::unique_ptr<uint8_t[]> strip_;
    size_t stripRowBytes_ = 0;
    uint32_t stripRows_ = 0;  // image rows of the decoded strip
    uint32_t handed_ = 0;     // of them, written out
    uint64_t rowsOut_ = 0;
    uint64_t blocksPresent_ = 0;
    bool truncated_ = false;
    const uint8_t *current_ = nullptr;  // the strip rows are handed from
    uint64_t stripsDone_ = 0;           // decoded so far, by either way
    uint64_t stripsAhead_ = 0;          // of them, on threads

    // Strips decoded ahead on threads: window_ holds aheadStrips_ of them
    // from aheadFirst_ on, of which the next to hand out is nextAhead_.
    std::unique_ptr<uint8_t[]> window_;
    int64_t aheadPixels_ = kPartMinPixels;  // the least worth a round of threads
    size_t aheadPartBytes_ = kMinPartBytes;
    int64_t aheadFirst_ = 0, aheadStrips_ = 0, nextAhead_ = 0;
    uint64_t aheadWait_ = 0;     // bytes past the next bit before trying again
    int64_t aheadCut_ = -1;      // of them, the one the data ends in
    uint64_t aheadCutBlocks_ = 0;  // and its whole blocks
};

}  // namespace plix::api
