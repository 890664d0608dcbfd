// Decoding a PLIX stream into the pixel buffer.
//
// The padded image is walked one strip of 8 rows at a time. In YUV mode each
// pair of positions wholly inside the image is converted to RGB as it is
// stored, and the rest of the strip's image area right after its blocks:
// per pixel the same conversion as one pass over the image afterwards, so
// the results are identical.
#include "decoder.h"

#include <algorithm>
#include <cstdint>

#include "coefficients.h"
#include "entropy/block_decoder.h"
#include "image.h"
#include "kernel_table.h"
#include "transform/colour.h"
#include "transform/quant.h"

namespace plix {

namespace {
constexpr size_t kStreamingBytes = size_t{256} << 10;
}  // namespace

int32_t Decoder::DecodeFile(const char *path, Image &image, PlixHeader &header, const Dsp &dsp) {
    if (!path || !reader_.OpenFile(path)) return 0;
    return Decode(image, header, dsp);
}

int32_t Decoder::DecodeMemory(const void *data, int32_t size, Image &image, PlixHeader &header,
                              const Dsp &dsp) {
    if (!reader_.OpenMemory(data, size)) return 0;
    return Decode(image, header, dsp);
}

int32_t Decoder::Decode(Image &image, PlixHeader &header, const Dsp &dsp) {
    report_ = DecodeReport{};
    const int32_t ok = [&] {
        uint8_t raw[kHeaderSize];
        if (reader_.ReadBlock(raw, kHeaderSize) < static_cast<int32_t>(kHeaderSize)) return 0;
        const PlixHeader h = ParseHeader(raw);
        if (h.extra != 0) reader_.Seek(h.extra, 1);
        if (!h.HasMagic()) {
            header = h;
            return 0;
        }
        // No tables exist for other matrix sets.
        if (h.matrix >= kMatrixSets) return 0;
        header = h;
        // The decoder stores every byte of every pixel, byte 3 included as the
        // 0xFF a new image holds, so the buffer need not be filled first.
        if (!image.Create(h.width, h.height, false)) return 0;
        DecodeBlocks(image, h, dsp);
        report_.whole = reader_.BitsTaken() <= reader_.DataBytes() * 8;
        return 1;
    }();
    reader_.Close();
    return ok;
}

void Decoder::DecodeBlocks(Image &image, const PlixHeader &header, const Dsp &k) {
    if (image.paddedWidth == 0 || image.paddedHeight == 0) return;
    int32_t quant[2][64];
    BuildQuantTables(header.matrix, header.qfactor, quant[0], quant[1]);
    int32_t luma[kZigzagQuantEntries], chroma[kZigzagQuantEntries];
    ZigzagQuant(quant[0], luma);
    ZigzagQuant(quant[1], chroma);
    int32_t predictors[3] = {0, 0, 0};
    alignas(32) int32_t pair[6][64] = {};  // two positions' work areas
    const bool yuv = header.mode == 0;
    const YccToRgbTables &tables = GetYccToRgbTables();
    const size_t rowBytes = image.RowBytes();
    // Pictures beyond the first-level caches are streamed out, the pairs
    // converted on the way: a line read again while decoding (one converted
    // afterwards) or written partly by ordinary stores would cost a trip to
    // memory. So where rows are half a line off, the halves at either end of
    // the run of streamed pairs keep ordinary stores.
    const bool stream = k.inverseDecoded2Streaming && image.ByteSize() >= kStreamingBytes &&
                        reinterpret_cast<uintptr_t>(image.pixels) % 64 == 0 && rowBytes % 32 == 0;

    for (int32_t y = 0; y < image.paddedHeight; y += 8) {
        uint8_t *rows = image.pixels + static_cast<size_t>(y) * rowBytes;
        // The kernel limits the coefficients and skips the blocks without AC,
        // which the decoder then need not clear. Pairs of positions wholly
        // inside the image are converted on the way; columns from 0 to
        // converted are in RGB then.
        const bool convert = yuv && y + 8 <= image.height;
        int32_t x = 0;
        int32_t converted = 0;
        for (; x + 16 <= image.paddedWidth; x += 16) {
            const uint32_t dcOnly =
                k.decodePositionsRaw(reader_, pair, 2, luma, chroma, predictors);
            const bool inside = convert && x + 16 <= image.width;
            uint8_t *at = rows + static_cast<size_t>(x) * 4;
            if (stream && inside)
                k.inverseDecoded2Streaming(pair, dcOnly, at, rowBytes, &tables,
                                           (x > 0 ? 1u : 0u) | (x + 32 <= image.width ? 2u : 0u));
            else
                k.inverseDecoded2(pair, dcOnly, at, rowBytes, inside ? &tables : nullptr);
            if (inside) converted = x + 16;
        }
        if (x < image.paddedWidth) {
            DecodePositions(reader_, pair, 1, luma, chroma, predictors);
            k.inverseBlocks(pair, rows + static_cast<size_t>(x) * 4, rowBytes);
        }
        // The image area only: the padding keeps its Y, Cb and Cr.
        if (yuv && y < image.height)
            k.yccToRgb(rows + static_cast<size_t>(converted) * 4, image.paddedWidth,
                       image.width - converted, std::min(8, image.height - y), tables);
    }
    if (stream) k.finishStreaming();
    report_.positions = static_cast<int64_t>(image.paddedWidth / 8) * (image.paddedHeight / 8);
}

}  // namespace plix
