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
    FUZZ_CHECK(a.Picture().Width() == b.Picture().Width() && a.Picture().Height() == b.Picture().Height());
    FUZZ_CHECK(a.Picture().PaddedWidth() == b.Picture().PaddedWidth() &&
               a.Picture().PaddedHeight() == b.Picture().PaddedHeight());
    FUZZ_CHECK(a.Picture().Pixels() && b.Picture().Pixels());
    if (BufferBytes(a))
        FUZZ_CHECK(std::memcmp(a.Picture().Pixels(), b.Picture().Pixels(), BufferBytes(a)) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 0x7FFFFFFF) return -1;
    if (plix::fuzz::PlixDeclaresLargeImage(data, size)) return -1;

    plix::Codec fromMemory;
    const int32_t okMemory = fromMemory.DecodeMemory(data, static_cast<int32_t>(size));
    if (okMemory &&
        plix::fuzz::PaddedPixels(fromMemory.Picture().PaddedWidth(), fromMemory.Picture().PaddedHeight()) >
            plix::fuzz::kMaxCheckedPixels)
        return 0;

    const std::string path = ScratchPath("input.plx");
    FUZZ_CHECK(plix::fuzz::WriteFile(path, data, size));
    plix::Codec fromFile;
    fromFile.UseKernels(plix::GetDspLevel(plix::DspLevel::kPlain));
    const int32_t okFile = fromFile.DecodeFile(path.c_str());
    FUZZ_CHECK(okMemory == okFile);

    if (!okMemory) {
        // A fresh codec that failed holds no image.
        FUZZ_CHECK(fromMemory.Picture().Pixels() == nullptr && fromFile.Picture().Pixels() == nullptr);
        return 0;
    }
    FUZZ_CHECK(fromMemory.Picture().Width() >= 0 && fromMemory.Picture().Height() >= 0);
    CheckSameImage(fromMemory, fromFile);

    // Pixel access stays inside the image, at its edges too.
    const int32_t w = fromMemory.Picture().Width(), h = fromMemory.Picture().Height();
    for (int32_t y : {-1, 0, h - 1, h})
        for (int32_t x : {-1, 0, w - 1, w}) {
            const uint32_t c = fromMemory.Picture().GetPixel(x, y);
            if (x < 0 || y < 0 || x >= w || y >= h) FUZZ_CHECK(c == 0);
        }

    // The same codec decoding the same bytes again gives the same pixels.
    std::vector<uint8_t> first(fromMemory.Picture().Pixels(),
                               fromMemory.Picture().Pixels() + BufferBytes(fromMemory));
    fromMemory.UseKernels(plix::GetDspLevel(plix::DspLevel::kSse2));
    FUZZ_CHECK(fromMemory.DecodeMemory(data, static_cast<int32_t>(size)) == 1);
    if (!first.empty())
        FUZZ_CHECK(std::memcmp(first.data(), fromMemory.Picture().Pixels(), first.size()) == 0);
    return 0;
}
