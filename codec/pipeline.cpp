// Encoding the pixel buffer into a PLIX stream and decoding one back.
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
// Pixel byte that holds each component.
constexpr int kByteOf[3] = {2, 1, 0};

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
    // The tables are built from the bytes the header keeps, as a decoder will.
    BuildQuantTables(header.matrix, header.qfactor, quant[0], quant[1]);
    EncodeBlocks(header.mode);
    writer.Flush();
    return writer.Close() ? 1 : 0;
}

void Codec::EncodeBlocks(int32_t modeByte) {
    const Dsp &dsp = GetDsp();
    dcPredictor[0] = dcPredictor[1] = dcPredictor[2] = 0;
    const bool yuv = modeByte == 0;
    const size_t rowBytes = static_cast<size_t>(paddedWidth) * 4;
    // In YUV mode the image area is converted strip by strip into this copy, so
    // the caller's pixels stay as they are; the padding is coded unconverted.
    std::vector<uint8_t> strip(yuv ? rowBytes * 8 : 0);

    for (int32_t y = 0; y < paddedHeight; y += 8) {
        const uint8_t *rows = pixels + static_cast<size_t>(y) * rowBytes;
        if (yuv) {
            std::memcpy(strip.data(), rows, rowBytes * 8);
            for (int r = 0; r < 8 && y + r < height; ++r) {
                uint8_t *row = strip.data() + static_cast<size_t>(r) * rowBytes;
                ConvertRgbToYccPixels(row, row, width);
            }
            rows = strip.data();
        }
        for (int32_t x = 0; x < paddedWidth; x += 8) {
            for (int r = 0; r < 8; ++r) {
                const uint8_t *p = rows + static_cast<size_t>(r) * rowBytes + static_cast<size_t>(x) * 4;
                for (int c = 0; c < 8; ++c, p += 4) {
                    for (int k = 0; k < 3; ++k) block[k][r * 8 + c] = int32_t{p[kByteOf[k]]} - 128;
                }
            }
            for (int k = 0; k < 3; ++k) {
                dsp.forwardDct(block[k]);
                QuantiseBlock(block[k], quant[kClassOf[k]]);
                EncodeBlockSymbols(writer, block[k], kClassOf[k], dcPredictor[k]);
            }
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
    if (!ops->CreateImage(this, h.width, h.height)) {
        reader.Close();
        return 0;
    }
    DecodeBlocks();
    if (header.mode == 0) GetDsp().yccToRgb(pixels, paddedWidth, width, height, GetYccToRgbTables());
    reader.Close();
    return 1;
}

void Codec::DecodeBlocks() {
    BuildQuantTables(header.matrix, header.qfactor, quant[0], quant[1]);
    dcPredictor[0] = dcPredictor[1] = dcPredictor[2] = 0;
    const Dsp &dsp = GetDsp();
    useMmx = dsp.packed ? 1 : 0;
    const size_t rowBytes = static_cast<size_t>(paddedWidth) * 4;
    for (int32_t y = 0; y < paddedHeight; y += 8) {
        uint8_t *rows = pixels + static_cast<size_t>(y) * rowBytes;
        for (int32_t x = 0; x < paddedWidth; x += 8) {
            for (int k = 0; k < 3; ++k) {
                DecodeBlock(reader, block[k], quant[kClassOf[k]], kClassOf[k], dcPredictor[k]);
                dsp.inverseDct(block[k]);
            }
            for (int r = 0; r < 8; ++r) {
                uint8_t *p = rows + static_cast<size_t>(r) * rowBytes + static_cast<size_t>(x) * 4;
                for (int c = 0; c < 8; ++c, p += 4) {
                    for (int k = 0; k < 3; ++k) p[kByteOf[k]] = static_cast<uint8_t>(block[k][r * 8 + c]);
                }
            }
        }
    }
}

} // namespace plix
