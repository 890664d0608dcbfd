// The bit stream one strip of 8 pixel rows at a time, in stream order. The
// classic operations run these over their whole picture buffer; the
// incremental decoder and encoder over one strip they keep.
#pragma once

#include <cstddef>
#include <cstdint>

#include "coefficients.h"
#include "entropy/block_decoder.h"
#include "format.h"
#include "transform/fdct.h"

namespace plix {

struct Dsp;
struct YccToRgbTables;
class StreamReader;
class StreamWriter;

// Widest picture the strips take: its padded width must fit 31 bits.
inline constexpr int32_t kMaxStripWidth = INT32_MAX - 7;

// Most bits one block can take, whatever the stream holds: a DC code of at
// most 9 bits with up to 31 value bits, then at most 63 AC symbols (each
// advances by a position at least) of at most 12 code and 15 value bits.
inline constexpr uint64_t kMaxBlockBits = 9 + 31 + 63 * (12 + 15);

// A picture's sizes as both strip coders walk it.
struct StripGeometry {
    explicit StripGeometry(const PlixHeader &header);
    int32_t width, height, paddedWidth;
    int64_t paddedHeight;
    bool yuv;
};

// Strips hold padded width x 8 pixels of 4 bytes (blue, green, red, fourth),
// rows rowBytes apart.
class StripDecoder {
public:
    // header: accepted by ReadHeader, width at most kMaxStripWidth.
    StripDecoder(const PlixHeader &header, const Dsp &k);

    // Decodes the next strip from r into rows. Every byte of the strip is
    // written; in YUV mode the image area is converted to RGB (its byte 3
    // then 0), the padding keeps its Y, Cb and Cr. With stream, rows go out
    // with non-temporal stores where the kernels have them: rows 64-byte
    // aligned, rowBytes a multiple of 32, and Finish after the last strip.
    // A decode that has taken more than stopAfter bits from r stops early and
    // returns false, the strip unfinished: Rewind, then decode it again.
    bool Next(StreamReader &r, uint8_t *rows, size_t rowBytes, bool stream,
              uint64_t stopAfter = UINT64_MAX);
    void Finish();

    int64_t Top() const { return top_; }  // first row of the next strip
    bool Done() const { return top_ >= g_.paddedHeight; }
    int32_t PaddedWidth() const { return g_.paddedWidth; }
    uint64_t BlocksPerStrip() const { return 3 * static_cast<uint64_t>(g_.paddedWidth / 8); }
    const int32_t *Predictors() const { return predictors_; }

    // Where the stream stands between strips, to decode a strip again.
    struct Mark {
        int64_t top;
        int32_t predictors[3];
    };
    Mark Here() const { return {top_, {predictors_[0], predictors_[1], predictors_[2]}}; }
    void Rewind(const Mark &m);

    // Reads one block position's codes from r with predictors, for threads
    // that find where positions start before decoding them.
    void ScanPosition(StreamReader &r, int32_t predictors[3]);

    // KeepPositions with this picture's tables and the kernels' keeping.
    size_t KeepPositions(StreamReader &r, int32_t predictors[3], uint64_t base, uint64_t stop,
                         PositionNote *out, KeptPosition *kept, size_t cap, int16_t *values,
                         size_t &used, size_t room) const;
    // Decodes the next strip from positions kept ahead: kept[i] and notes[i]
    // (as ScanPositions notes them) for each of the strip's positions, their
    // values from values, the true predictors after each its noted ones
    // plus offset. The same rows as Next from the bits.
    void NextKept(const KeptPosition *kept, const PositionNote *notes, const int16_t *values,
                  const int32_t offset[3], uint8_t *rows, size_t rowBytes);

private:
    template <class Source>
    bool Run(Source &source, uint8_t *rows, size_t rowBytes, bool stream);

    const Dsp &k_;
    const YccToRgbTables &tables_;
    const StripGeometry g_;
    bool streamed_ = false;
    int64_t top_ = 0;
    int32_t luma_[kZigzagQuantEntries];
    int32_t chroma_[kZigzagQuantEntries];
    int32_t predictors_[3] = {0, 0, 0};
    alignas(64) int32_t pair_[12][64] = {};  // up to four positions' work areas
};

// How many of blocks component blocks, walked from r with predictors (taken
// as those before the first of them), end within the first dataBits bits of
// the stream r reads. The bits a block takes do not depend on its
// quantisation, so none is applied.
uint64_t CountBlocksWithin(StreamReader &r, uint64_t blocks, const int32_t predictors[3],
                           uint64_t dataBits);

class StripEncoder {
public:
    // header: as MakeHeader gives it, matrix below 3, width at most
    // kMaxStripWidth.
    StripEncoder(const PlixHeader &header, const Dsp &k);

    // Codes the next strip: rows holds blue, green and red of the image area
    // and what the padding holds. In YUV mode the image area goes to scratch
    // (8 rows, rowBytes apart; rows itself to convert in place) as YCbCr, the
    // padding unconverted, and is coded from there.
    void Next(StreamWriter &w, const uint8_t *rows, size_t rowBytes, uint8_t *scratch);

    int64_t Top() const { return top_; }
    bool Done() const { return top_ >= g_.paddedHeight; }
    int32_t PaddedWidth() const { return g_.paddedWidth; }
    int64_t Strips() const { return g_.paddedHeight / 8; }

    // Where coding stands between strips.
    struct Mark {
        int64_t top;
        int32_t predictors[3];
    };
    Mark Here() const { return {top_, {predictors_[0], predictors_[1], predictors_[2]}}; }
    void Resume(const Mark &m);
    // Takes coding up at the strip after the one in rows (laid out as Next
    // takes it, not converted, and left so): its last block position gives
    // the DC predictors coding it would have left, so a band of strips can
    // be coded without those before it.
    void ResumeAfter(const uint8_t *rows, size_t rowBytes, int64_t top);

private:
    const Dsp &k_;
    const StripGeometry g_;
    int64_t top_ = 0;
    QuantDivisors luma_, chroma_;
    int32_t predictors_[3] = {0, 0, 0};
};

}  // namespace plix
