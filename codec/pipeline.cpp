// Encoding the pixel buffer into a PLIX stream and decoding one back.
//
// Both directions walk the padded image one strip of 8 rows at a time. Colour
// conversion is done per strip while it is in cache: the encoder converts a
// copy (the caller's pixels stay as they are, the padding is coded
// unconverted), the decoder converts the strip's image area right after its
// blocks are stored, or, where the kernel can, each pair of positions wholly
// inside the image as it is stored. Per pixel this is the same conversion as
// one pass over the whole image before or after, so the results are identical.
#include <algorithm>
#include <cstring>
#include <vector>

#include "codec.h"
#include "entropy/block_coding.h"
#include "transform/colour.h"
#include "transform/dsp.h"
#include "transform/fdct.h"
#include "transform/quant.h"

namespace plix {

namespace {

constexpr int kClassOf[3] = {0, 1, 1};

} // namespace

int32_t Codec::EncodeFile(const char *path, int32_t mode, int32_t qfactor, int32_t matrix) {
    if (!pixels) return 0;
    // Only three matrix sets exist.
    if (matrix < 0 || matrix >= kMatrixSets) return 0;
    header = MakeHeader(mode, qfactor, matrix, width, height);
    if (!path || !writer.OpenFile(path)) return 0;
    return EncodeToWriter(mode, qfactor, matrix);
}

int32_t Codec::EncodeMemory(std::string &out, int32_t mode, int32_t qfactor, int32_t matrix) {
    if (!pixels) return 0;
    if (matrix < 0 || matrix >= kMatrixSets) return 0;
    header = MakeHeader(mode, qfactor, matrix, width, height);
    if (!writer.OpenMemory(&out)) return 0;
    return EncodeToWriter(mode, qfactor, matrix);
}

int32_t Codec::EncodeToWriter(int32_t, int32_t, int32_t) {
    uint8_t raw[kHeaderSize];
    SerializeHeader(header, raw);
    writer.WriteBlock(raw, kHeaderSize);
    // The tables come from the bytes the header keeps, as a decoder's will.
    BuildQuantTables(header.matrix, header.qfactor, quant[0], quant[1]);
    EncodeBlocks(header.mode);
    writer.Flush();
    return writer.Close() ? 1 : 0;
}

void Codec::EncodeBlocks(int32_t modeByte) {
    const Dsp &k = Kernels();
    alignas(32) int32_t pair[6][64];  // two positions' work areas
    PreparedBlock prepared[6];
    QuantDivisors luma, chroma;
    PrepareQuantDivisors(quant[0], luma);
    PrepareQuantDivisors(quant[1], chroma);
    dcPredictor[0] = dcPredictor[1] = dcPredictor[2] = 0;

    // The decoder converts back only for a mode byte of 0, so that is what
    // decides here too.
    const bool yuv = modeByte == 0;
    const size_t rowBytes = static_cast<size_t>(paddedWidth) * 4;
    const size_t imageBytes = static_cast<size_t>(width) * 4;
    // An image without columns or rows has no blocks, however long its other
    // side: do not walk it.
    if (paddedWidth == 0 || paddedHeight == 0) return;
    std::vector<uint8_t> strip(yuv ? rowBytes * 8 : 0);

    for (int32_t y = 0; y < paddedHeight; y += 8) {
        const uint8_t *rows = pixels + static_cast<size_t>(y) * rowBytes;
        if (yuv) {
            for (int r = 0; r < 8; ++r) {
                const uint8_t *src = rows + static_cast<size_t>(r) * rowBytes;
                uint8_t *dst = strip.data() + static_cast<size_t>(r) * rowBytes;
                if (y + r < height) {
                    k.rgbToYcc(src, dst, width);
                    std::memcpy(dst + imageBytes, src + imageBytes, rowBytes - imageBytes);
                } else {
                    std::memcpy(dst, src, rowBytes);
                }
            }
            rows = strip.data();
        }
        // Two positions at a time where they exist: the wide kernels pair
        // their six blocks. The symbols go out in the same order as one by one.
        int32_t x = 0;
        if (k.forwardBlocks2Prepared) {
            // The kernel also finds each coefficient's category and value
            // bits, which leaves the coder only the code lookups.
            for (; x + 16 <= paddedWidth; x += 16) {
                k.forwardBlocks2Prepared(rows + static_cast<size_t>(x) * 4, rowBytes, luma, chroma, prepared);
                EncodePreparedPositions(writer, prepared, 2, dcPredictor);
            }
        }
        for (; x + 16 <= paddedWidth; x += 16) {
            k.forwardBlocks2(rows + static_cast<size_t>(x) * 4, rowBytes, luma, chroma, pair);
            for (int c = 0; c < 6; ++c)
                EncodeBlockSymbols(writer, pair[c], kClassOf[c % 3], dcPredictor[c % 3]);
        }
        if (x < paddedWidth) {
            k.forwardBlocks(rows + static_cast<size_t>(x) * 4, rowBytes, luma, chroma, block);
            for (int c = 0; c < 3; ++c) EncodeBlockSymbols(writer, block[c], kClassOf[c], dcPredictor[c]);
        }
    }
}

int32_t Codec::DecodeFile(const char *path) {
    if (!path || !reader.OpenFile(path)) return 0;
    return DecodeFromReader();
}

int32_t Codec::DecodeMemory(const void *data, int32_t size) {
    if (!reader.OpenMemory(data, size)) return 0;
    return DecodeFromReader();
}

int32_t Codec::DecodeFromReader() {
    uint8_t raw[kHeaderSize];
    if (reader.ReadBlock(raw, kHeaderSize) < static_cast<int32_t>(kHeaderSize)) {
        reader.Close();
        return 0;
    }
    PlixHeader h = ParseHeader(raw);
    if (h.extra != 0) reader.Seek(h.extra, 1);
    if (!h.HasMagic()) {
        header = h;
        reader.Close();
        return 0;
    }
    // No tables exist for other matrix sets.
    if (h.matrix >= kMatrixSets) {
        reader.Close();
        return 0;
    }
    header = h;
    // The decoder stores every byte of every pixel, byte 3 included as the
    // 0xFF a new image holds, so the buffer need not be filled first.
    if (!AllocateImage(h.width, h.height, false)) {
        reader.Close();
        return 0;
    }
    DecodeBlocks();
    dataLasted = reader.BitsTaken() <= reader.DataBytes() * 8;
    reader.Close();
    return 1;
}

void Codec::DecodeBlocks() {
    BuildQuantTables(header.matrix, header.qfactor, quant[0], quant[1]);
    dcPredictor[0] = dcPredictor[1] = dcPredictor[2] = 0;
    const Dsp &k = Kernels();
    alignas(32) int32_t pair[6][64] = {};  // two positions' work areas
    useMmx = k.packed ? 1 : 0;
    const bool yuv = header.mode == 0;
    const YccToRgbTables &tables = GetYccToRgbTables();
    const size_t rowBytes = static_cast<size_t>(paddedWidth) * 4;
    if (paddedWidth == 0 || paddedHeight == 0) return;
    int32_t luma[64], chroma[64];
    ZigzagQuant(quant[0], luma);
    ZigzagQuant(quant[1], chroma);

    for (int32_t y = 0; y < paddedHeight; y += 8) {
        uint8_t *rows = pixels + static_cast<size_t>(y) * rowBytes;
        int32_t x = 0;
        // Columns from 0 to converted are in RGB already.
        int32_t converted = 0;
        if (k.inverseDecoded2) {
            // The kernel limits the coefficients and skips the blocks
            // without AC, which the decoder then need not clear. Pairs of
            // positions wholly inside the image are converted on the way.
            const bool convert = yuv && y + 8 <= height;
            for (; x + 16 <= paddedWidth; x += 16) {
                const uint32_t dcOnly = DecodePositionsRaw(reader, pair, 2, luma, chroma, dcPredictor);
                const bool inside = convert && x + 16 <= width;
                k.inverseDecoded2(pair, dcOnly, rows + static_cast<size_t>(x) * 4, rowBytes,
                                  inside ? &tables : nullptr);
                if (inside) converted = x + 16;
            }
        }
        for (; x + 16 <= paddedWidth; x += 16) {
            DecodePositions(reader, pair, 2, luma, chroma, dcPredictor);
            k.inverseBlocks2(pair, rows + static_cast<size_t>(x) * 4, rowBytes);
        }
        if (x < paddedWidth) {
            DecodePositions(reader, block, 1, luma, chroma, dcPredictor);
            k.inverseBlocks(block, rows + static_cast<size_t>(x) * 4, rowBytes);
        }
        // The image area only: the padding keeps its Y, Cb and Cr.
        if (yuv && y < height)
            k.yccToRgb(rows + static_cast<size_t>(converted) * 4, paddedWidth, width - converted,
                       std::min(8, height - y), tables);
    }
}

} // namespace plix
