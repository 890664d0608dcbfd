// Decoding a PLIX stream into the pixel buffer, one strip of 8 rows at a time.
#include "decoder.h"

#include <cstdint>

#include "image.h"
#include "strips.h"

namespace plix {

namespace {
constexpr size_t kStreamingBytes = size_t{256} << 10;
}  // namespace

int32_t Decoder::DecodeFile(const char *path, Image &image, const Dsp &dsp) {
    if (!path || !reader_.OpenFile(path)) return 0;
    return Decode(image, dsp);
}

int32_t Decoder::DecodeMemory(const void *data, int32_t size, Image &image, const Dsp &dsp) {
    if (!reader_.OpenMemory(data, size)) return 0;
    return Decode(image, dsp);
}

int32_t Decoder::Decode(Image &image, const Dsp &dsp) {
    report_ = DecodeReport{};
    const int32_t ok = [&] {
        uint8_t raw[kHeaderSize];
        if (reader_.ReadBlock(raw, kHeaderSize) < static_cast<int32_t>(kHeaderSize)) return 0;
        PlixHeader h;
        const HeaderCheck check = ReadHeader(raw, kHeaderSize, h);
        if (h.extra != 0) reader_.Seek(h.extra, 1);
        if (check == HeaderCheck::kWrongMagic || check == HeaderCheck::kUnknownMatrix) return 0;
        // Negative sizes are refused by the image, which keeps them.
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
    if (image.PaddedWidth() == 0 || image.PaddedHeight() == 0) return;
    StripDecoder strips(header, k);
    const size_t rowBytes = image.RowBytes();
    // Pictures beyond the first-level caches are streamed out: they are
    // written once and not read again while decoding.
    const bool stream = image.ByteSize() >= kStreamingBytes &&
                        reinterpret_cast<uintptr_t>(image.Pixels()) % 64 == 0 && rowBytes % 32 == 0;
    for (uint8_t *rows = image.Pixels(); !strips.Done(); rows += 8 * rowBytes)
        strips.Next(reader_, rows, rowBytes, stream);
    strips.Finish();
    report_.positions = static_cast<int64_t>(image.PaddedWidth() / 8) * (image.PaddedHeight() / 8);
}

}  // namespace plix
