// Encoding the pixel buffer into a PLIX stream.
//
// The padded image is walked one strip of 8 rows at a time. In YUV mode a copy
// of each strip is converted while it is in cache (the caller's pixels stay as
// they are, the padding is coded unconverted): per pixel the same conversion
// as one pass over the image before coding, so the results are identical.
#include "encoder.h"

#include <cstring>
#include <vector>

#include "coefficients.h"
#include "entropy/block_encoder.h"
#include "image.h"
#include "kernel_table.h"
#include "transform/fdct.h"
#include "transform/quant.h"

namespace plix {

namespace {

constexpr int kClassOf[3] = {0, 1, 1};
constexpr int kPairsAtOnce = 4;

void EncodeBlocks(const Image &image, const PlixHeader &header, const Dsp &k,
                  StreamWriter &writer) {
    // The tables come from the bytes the header keeps, as a decoder's will.
    int32_t quant[2][64];
    BuildQuantTables(header.matrix, header.qfactor, quant[0], quant[1]);
    QuantDivisors luma, chroma;
    PrepareQuantDivisors(quant[0], luma);
    PrepareQuantDivisors(quant[1], chroma);
    int32_t predictors[3] = {0, 0, 0};

    // An image without columns or rows has no blocks, however long its other
    // side: do not walk it.
    if (image.paddedWidth == 0 || image.paddedHeight == 0) return;
    // The decoder converts back only for a mode byte of 0, so that is what
    // decides here too.
    const bool yuv = header.mode == 0;
    const size_t rowBytes = image.RowBytes();
    const size_t imageBytes = static_cast<size_t>(image.width) * 4;
    std::vector<uint8_t> strip(yuv ? rowBytes * 8 : 0);
    PreparedBlock prepared[6 * kPairsAtOnce];
    alignas(32) int32_t single[3][64];

    for (int32_t y = 0; y < image.paddedHeight; y += 8) {
        const uint8_t *rows = image.pixels + static_cast<size_t>(y) * rowBytes;
        if (yuv) {
            for (int r = 0; r < 8; ++r) {
                const uint8_t *src = rows + static_cast<size_t>(r) * rowBytes;
                uint8_t *dst = strip.data() + static_cast<size_t>(r) * rowBytes;
                if (y + r < image.height) {
                    k.rgbToYcc(src, dst, image.width);
                    std::memcpy(dst + imageBytes, src + imageBytes, rowBytes - imageBytes);
                } else {
                    std::memcpy(dst, src, rowBytes);
                }
            }
            rows = strip.data();
        }
        // Two positions at a time where they exist: the kernel also finds each
        // coefficient's category and value bits, which leaves the coder only
        // the code lookups. The symbols go out in the same order as one by one.
        // A few pairs are prepared before they are coded, so that the coder's
        // loop runs longer at a time.
        int32_t x = 0;
        while (x + 16 <= image.paddedWidth) {
            int pairs = 0;
            for (; pairs < kPairsAtOnce && x + 16 <= image.paddedWidth; ++pairs, x += 16)
                k.forwardBlocks2Prepared(rows + static_cast<size_t>(x) * 4, rowBytes, luma, chroma,
                                         prepared + 6 * pairs);
            k.encodePreparedPositions(writer, prepared, 2 * pairs, predictors);
        }
        if (x < image.paddedWidth) {
            k.forwardBlocks(rows + static_cast<size_t>(x) * 4, rowBytes, luma, chroma, single);
            for (int c = 0; c < 3; ++c)
                EncodeBlockSymbols(writer, single[c], kClassOf[c], predictors[c]);
        }
    }
}

}  // namespace

int32_t Encoder::EncodeFile(const Image &image, const PlixHeader &header, const char *path,
                            const Dsp &dsp) {
    if (!path || !writer_.OpenFile(path)) return 0;
    return Encode(image, header, dsp);
}

int32_t Encoder::EncodeMemory(const Image &image, const PlixHeader &header, std::string &out,
                              const Dsp &dsp) {
    if (!writer_.OpenMemory(&out)) return 0;
    return Encode(image, header, dsp);
}

int32_t Encoder::Encode(const Image &image, const PlixHeader &header, const Dsp &dsp) {
    uint8_t raw[kHeaderSize];
    SerializeHeader(header, raw);
    writer_.WriteBlock(raw, kHeaderSize);
    EncodeBlocks(image, header, dsp, writer_);
    writer_.Flush();
    return writer_.Close() ? 1 : 0;
}

}  // namespace plix
