// Encoding the pixel buffer into a PLIX stream, one strip of 8 rows at a time.
#include "encoder.h"

#include <vector>

#include "image.h"
#include "strips.h"

namespace plix {

namespace {

void EncodeBlocks(const Image &image, const PlixHeader &header, const Dsp &k,
                  StreamWriter &writer) {
    // An image without columns or rows has no blocks, however long its other
    // side: do not walk it.
    if (image.PaddedWidth() == 0 || image.PaddedHeight() == 0) return;
    StripEncoder strips(header, k);
    const size_t rowBytes = image.RowBytes();
    // The caller's pixels stay as they are.
    std::vector<uint8_t> scratch(header.mode == 0 ? rowBytes * 8 : 0);
    for (const uint8_t *rows = image.Pixels(); !strips.Done(); rows += 8 * rowBytes)
        strips.Next(writer, rows, rowBytes, scratch.data());
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
