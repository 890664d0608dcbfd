// PLIX decoding of hostile bytes, from memory and through a file. Both must
// agree on the result and on every byte of the pixel buffer, and decoding the
// same bytes again must give the same pixels (the reader's filler rule). The
// three decodes use different kernel variants (the best for this processor,
// the plain ones, SSE2), which must agree bit for bit.
#include <cstdint>
#include <cstring>
#include <vector>

#include "codec.h"
#include "dsp/dsp.h"
#include "fuzz_util.h"

using plix::fuzz::BufferBytes;
using plix::fuzz::ScratchPath;

namespace {

void CheckSameImage(const plix::Codec &a, const plix::Codec &b) {
    FUZZ_CHECK(a.image.width == b.image.width && a.image.height == b.image.height);
    FUZZ_CHECK(a.image.paddedWidth == b.image.paddedWidth &&
               a.image.paddedHeight == b.image.paddedHeight);
    FUZZ_CHECK(a.image.pixels && b.image.pixels);
    if (BufferBytes(a))
        FUZZ_CHECK(std::memcmp(a.image.pixels, b.image.pixels, BufferBytes(a)) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 0x7FFFFFFF) return -1;
    if (plix::fuzz::PlixDeclaresLargeImage(data, size)) return -1;

    plix::Codec fromMemory;
    const int32_t okMemory = fromMemory.DecodeMemory(data, static_cast<int32_t>(size));
    if (okMemory &&
        plix::fuzz::PaddedPixels(fromMemory.image.paddedWidth, fromMemory.image.paddedHeight) >
            plix::fuzz::kMaxCheckedPixels)
        return 0;

    const std::string path = ScratchPath("input.plx");
    FUZZ_CHECK(plix::fuzz::WriteFile(path, data, size));
    plix::Codec fromFile;
    fromFile.dsp = plix::GetDspLevel(plix::DspLevel::kPlain);
    const int32_t okFile = fromFile.DecodeFile(path.c_str());
    FUZZ_CHECK(okMemory == okFile);

    if (!okMemory) {
        // A fresh codec that failed holds no image.
        FUZZ_CHECK(fromMemory.image.pixels == nullptr && fromFile.image.pixels == nullptr);
        return 0;
    }
    FUZZ_CHECK(fromMemory.image.width >= 0 && fromMemory.image.height >= 0);
    CheckSameImage(fromMemory, fromFile);

    // Pixel access stays inside the image, at its edges too.
    const int32_t w = fromMemory.image.width, h = fromMemory.image.height;
    for (int32_t y : {-1, 0, h - 1, h})
        for (int32_t x : {-1, 0, w - 1, w}) {
            const uint32_t c = fromMemory.image.GetPixel(x, y);
            if (x < 0 || y < 0 || x >= w || y >= h) FUZZ_CHECK(c == 0);
        }

    // The same codec decoding the same bytes again gives the same pixels.
    std::vector<uint8_t> first(fromMemory.image.pixels,
                               fromMemory.image.pixels + BufferBytes(fromMemory));
    fromMemory.dsp = plix::GetDspLevel(plix::DspLevel::kSse2);
    FUZZ_CHECK(fromMemory.DecodeMemory(data, static_cast<int32_t>(size)) == 1);
    if (!first.empty())
        FUZZ_CHECK(std::memcmp(first.data(), fromMemory.image.pixels, first.size()) == 0);
    return 0;
}
