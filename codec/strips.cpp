// Decoding and coding one strip of 8 rows.
//
// Decoding: each pair of positions wholly inside the image is converted to RGB
// as it is stored, the rest of the strip's image area right after its blocks:
// per pixel the same conversion as one pass over the image afterwards. Coding:
// in YUV mode a copy of each strip is converted while it is in cache, the
// padding coded unconverted; again per pixel the same as converting the
// image first. Where the kernels convert as they load, the pairs wholly in
// the image are read unconverted and only the rest is converted.
#include "strips.h"

#include <algorithm>
#include <cstring>

#include "entropy/block_decoder.h"
#include "entropy/block_encoder.h"
#include "streams.h"
#include "transform/colour.h"
#include "kernel_table.h"
#include "transform/quant.h"

namespace plix {

namespace {
constexpr int kClassOf[3] = {0, 1, 1};
constexpr int kPairsAtOnce = 4;
}  // namespace

StripGeometry::StripGeometry(const PlixHeader &header)
    : width(header.width),
      height(header.height),
      paddedWidth(static_cast<int32_t>(header.BlockColumns() * 8)),
      paddedHeight(header.BlockRows() * 8),
      // The decoder converts back only for a mode byte of 0.
      yuv(header.mode == 0) {}

StripDecoder::StripDecoder(const PlixHeader &header, const Dsp &k)
    : k_(k), tables_(GetYccToRgbTables()), g_(header) {
    int32_t quant[2][64];
    BuildQuantTables(header.matrix, header.qfactor, quant[0], quant[1]);
    ZigzagQuant(quant[0], luma_);
    ZigzagQuant(quant[1], chroma_);
}

namespace {

// The bits of one strip, as the decoder reads them.
struct FromBits {
    const Dsp &k;
    StreamReader &r;
    const int32_t *luma, *chroma;
    int32_t *predictors;
    uint64_t stopAfter;

    uint32_t Raw(int32_t (*blocks)[64], int positions) {
        return k.decodePositionsRaw(r, blocks, positions, luma, chroma, predictors);
    }
    void Lone(int32_t (*blocks)[64]) { DecodePositions(r, blocks, 1, luma, chroma, predictors); }
    bool Stop() const { return stopAfter != UINT64_MAX && r.BitsTaken() > stopAfter; }
};

int32_t DequantisedDc(int32_t dc, int32_t offset, int32_t q) {
    const uint32_t v = static_cast<uint32_t>(dc) + static_cast<uint32_t>(offset);
    return std::clamp(static_cast<int32_t>(v * static_cast<uint32_t>(q)), -256, 255);
}

// Positions kept ahead: the blocks as the bits give them.
struct FromKept {
    const Dsp &k;
    const KeptPosition *kept;
    const PositionNote *notes;
    const int16_t *values;
    const int32_t *offset;
    int32_t q[3];

    // DC-only blocks are those without AC coefficients kept, which the
    // kernels take the same whether the stream ended them early or not.
    uint32_t Raw(int32_t (*blocks)[64], int positions) {
        uint32_t dcOnly = 0;
        for (int i = 0; i < positions; ++i, ++kept, ++notes) {
            const int16_t *from = values + kept->first;
            for (int c = 0; c < 3; ++c) {
                int32_t *block = blocks[3 * i + c];
                if (kept->masks[c] == 0)
                    dcOnly |= 1u << (3 * i + c);
                else
                    from += k.restoreBlock(kept->masks[c], from, block);
                block[0] = DequantisedDc(notes->dc[c], offset[c], q[c]);
            }
        }
        return dcOnly;
    }
    void Lone(int32_t (*blocks)[64]) {
        const int16_t *from = values + kept->first;
        for (int c = 0; c < 3; ++c) {
            int32_t *block = blocks[c];
            from += k.restoreBlock(kept->masks[c], from, block);
            for (int i = 1; i < 64; ++i) block[i] = std::clamp(block[i], -256, 255);
            block[0] = DequantisedDc(notes->dc[c], offset[c], q[c]);
        }
    }
    bool Stop() const { return false; }
};

}  // namespace

bool StripDecoder::Next(StreamReader &r, uint8_t *rows, size_t rowBytes, bool stream,
                        uint64_t stopAfter) {
    FromBits source{k_, r, luma_, chroma_, predictors_, stopAfter};
    return Run(source, rows, rowBytes, stream);
}

void StripDecoder::NextKept(const KeptPosition *kept, const PositionNote *notes, const int16_t *values,
                            const int32_t offset[3], uint8_t *rows, size_t rowBytes) {
    FromKept source{k_, kept, notes, values, offset, {luma_[0], chroma_[0], chroma_[0]}};
    Run(source, rows, rowBytes, false);
}

size_t StripDecoder::KeepPositions(StreamReader &r, int32_t predictors[3], uint64_t base,
                                   uint64_t stop, PositionNote *out, KeptPosition *kept, size_t cap,
                                   int16_t *values, size_t &used, size_t room) const {
    return k_.keepPositions(r, predictors, base, stop, out, kept, cap, values, used, room, luma_,
                            chroma_, k_.keepPosition);
}

template <class Source>
bool StripDecoder::Run(Source &source, uint8_t *rows, size_t rowBytes, bool stream) {
    const int64_t y = top_;
    top_ += 8;
    stream = stream && k_.inverseDecoded2Streaming;
    streamed_ = streamed_ || stream;
    // The kernel limits the coefficients and skips the blocks without AC,
    // which the decoder then need not clear. Pairs of positions wholly inside
    // the image are converted on the way; columns from 0 to converted are in
    // RGB then.
    const bool convert = g_.yuv && y + 8 <= g_.height;
    int32_t x = 0;
    int32_t converted = 0;
    while (x + 16 <= g_.paddedWidth) {
        uint8_t *at = rows + static_cast<size_t>(x) * 4;
        if (k_.inverseDecoded4 && convert && x + 32 <= g_.width) {
            // Four positions wholly inside the image at once.
            const uint32_t dcOnly = source.Raw(pair_, 4);
            k_.inverseDecoded4(pair_, dcOnly, at, rowBytes, tables_,
                               (x > 0 ? 1u : 0u) | (x + 48 <= g_.width ? 2u : 0u), stream);
            x += 32;
            converted = x;
        } else {
            const uint32_t dcOnly = source.Raw(pair_, 2);
            const bool inside = convert && x + 16 <= g_.width;
            // Where rows are half a cache line off, the halves at either end of
            // the run of streamed pairs keep ordinary stores: a line written both
            // ways would cost a trip to memory.
            if (stream && inside)
                k_.inverseDecoded2Streaming(pair_, dcOnly, at, rowBytes, &tables_,
                                            (x > 0 ? 1u : 0u) | (x + 32 <= g_.width ? 2u : 0u));
            else
                k_.inverseDecoded2(pair_, dcOnly, at, rowBytes, inside ? &tables_ : nullptr);
            x += 16;
            if (inside) converted = x;
        }
        if (source.Stop()) return false;
    }
    if (x < g_.paddedWidth) {
        source.Lone(pair_);
        k_.inverseBlocks(pair_, rows + static_cast<size_t>(x) * 4, rowBytes);
    }
    // The image area only: the padding keeps its Y, Cb and Cr.
    if (g_.yuv && y < g_.height)
        k_.yccToRgb(rows + static_cast<size_t>(converted) * 4, static_cast<int32_t>(rowBytes / 4),
                    g_.width - converted, static_cast<int32_t>(std::min<int64_t>(8, g_.height - y)),
                    tables_);
    return true;
}

void StripDecoder::ScanPosition(StreamReader &r, int32_t predictors[3]) {
    k_.decodePositionsRaw(r, pair_, 1, luma_, chroma_, predictors);
}

void StripDecoder::Rewind(const Mark &m) {
    top_ = m.top;
    for (int c = 0; c < 3; ++c) predictors_[c] = m.predictors[c];
}

void StripDecoder::Finish() {
    if (streamed_) k_.finishStreaming();
    streamed_ = false;
}

uint64_t CountBlocksWithin(StreamReader &r, uint64_t blocks, const int32_t predictors[3],
                           uint64_t dataBits) {
    int32_t q[64];
    for (int32_t &v : q) v = 1;
    int32_t p[3] = {predictors[0], predictors[1], predictors[2]};
    alignas(32) int32_t block[64];
    uint64_t whole = 0;
    for (; whole < blocks; ++whole) {
        const int c = static_cast<int>(whole % 3);
        DecodeBlock(r, block, q, kClassOf[c], p[c]);
        if (r.BitsTaken() > dataBits) break;
    }
    return whole;
}

StripEncoder::StripEncoder(const PlixHeader &header, const Dsp &k) : k_(k), g_(header) {
    // The tables come from the bytes the header keeps, as a decoder's will.
    int32_t quant[2][64];
    BuildQuantTables(header.matrix, header.qfactor, quant[0], quant[1]);
    PrepareQuantDivisors(quant[0], luma_);
    PrepareQuantDivisors(quant[1], chroma_);
}

void StripEncoder::Next(StreamWriter &w, const uint8_t *rows, size_t rowBytes, uint8_t *scratch) {
    const int64_t y = top_;
    top_ += 8;
    // Columns up to fused are pairs wholly in the image that a kernel
    // converts as it loads them; they stay as they came.
    const int32_t fused =
        g_.yuv && k_.forwardRgbBlocks2Prepared && y + 8 <= g_.height ? g_.width / 16 * 16 : 0;
    const uint8_t *original = rows;
    if (g_.yuv) {
        const size_t used = static_cast<size_t>(g_.paddedWidth) * 4;
        const size_t imageBytes = static_cast<size_t>(g_.width) * 4;
        const size_t skip = static_cast<size_t>(fused) * 4;
        for (int r = 0; r < 8; ++r) {
            const uint8_t *src = rows + static_cast<size_t>(r) * rowBytes;
            uint8_t *dst = scratch + static_cast<size_t>(r) * rowBytes;
            const bool inImage = y + r < g_.height;
            if (inImage) k_.rgbToYcc(src + skip, dst + skip, g_.width - fused);
            if (dst != src) {
                const size_t from = inImage ? imageBytes : 0;
                std::memcpy(dst + from, src + from, used - from);
            }
        }
        rows = scratch;
    }
    // Two positions at a time where they exist: the kernel also finds each
    // coefficient's category and value bits, which leaves the coder only the
    // code lookups. The symbols go out in the same order as one by one. A few
    // pairs are prepared before they are coded, so that the coder's loop runs
    // longer at a time.
    PreparedBlock prepared[6 * kPairsAtOnce];
    int32_t x = 0;
    while (x + 16 <= g_.paddedWidth) {
        int pairs = 0;
        for (; pairs < kPairsAtOnce && x + 16 <= g_.paddedWidth; ++pairs, x += 16) {
            if (x < fused)
                k_.forwardRgbBlocks2Prepared(original + static_cast<size_t>(x) * 4, rowBytes,
                                             luma_, chroma_, prepared + 6 * pairs);
            else
                k_.forwardBlocks2Prepared(rows + static_cast<size_t>(x) * 4, rowBytes, luma_,
                                          chroma_, prepared + 6 * pairs);
        }
        k_.encodePreparedPositions(w, prepared, 2 * pairs, predictors_);
    }
    if (x < g_.paddedWidth) {
        alignas(32) int32_t single[3][64];
        k_.forwardBlocks(rows + static_cast<size_t>(x) * 4, rowBytes, luma_, chroma_, single);
        for (int c = 0; c < 3; ++c) EncodeBlockSymbols(w, single[c], kClassOf[c], predictors_[c]);
    }
}

void StripEncoder::Resume(const Mark &m) {
    top_ = m.top;
    for (int c = 0; c < 3; ++c) predictors_[c] = m.predictors[c];
}

void StripEncoder::ResumeAfter(const uint8_t *rows, size_t rowBytes, int64_t top) {
    top_ = top;
    // The last position converted as Next converts it, then transformed as
    // coding it would: the quantised DCs are the predictors it leaves.
    const int32_t x = g_.paddedWidth - 8;
    const int64_t y = top - 8;
    alignas(32) uint8_t tile[8 * 32];
    for (int r = 0; r < 8; ++r) {
        const uint8_t *src = rows + static_cast<size_t>(r) * rowBytes + static_cast<size_t>(x) * 4;
        std::memcpy(tile + 32 * r, src, 32);
        if (g_.yuv && y + r < g_.height) k_.rgbToYcc(src, tile + 32 * r, g_.width - x);
    }
    alignas(32) int32_t single[3][64];
    k_.forwardBlocks(tile, 32, luma_, chroma_, single);
    for (int c = 0; c < 3; ++c) predictors_[c] = single[c][0];
}

}  // namespace plix
