// The plix tool's PNG and PPM readers (and its BMP check) on arbitrary bytes.
// What a reader accepts is a picture of the size it declares, within the
// pixel limit; written out again as PNG or PPM and read back, it gives the
// same samples.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_util.h"
#include "pictures.h"

using namespace plix::tool;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    const uint64_t limit = static_cast<uint64_t>(plix::fuzz::kMaxFuzzPixels);
    RgbPicture pic;
    ReadResult r;
    switch (DetectKind(bytes)) {
        case FileKind::Png:
            r = ReadPng(bytes, limit, pic);
            break;
        case FileKind::Ppm:
            r = ReadPpm(bytes, limit, pic);
            break;
        case FileKind::Bmp:
            (void)CheckBmp(bytes, limit);
            return 0;
        default:
            // Each reader refuses what is not its own.
            FUZZ_CHECK(!ReadPpm(bytes, limit, pic).ok());
            FUZZ_CHECK(!ReadPng(bytes, limit, pic).ok());
            return 0;
    }
    if (!r.ok()) {
        FUZZ_CHECK(!r.tooLarge || r.reason.find("larger than the limit") != std::string::npos);
        return 0;
    }
    FUZZ_CHECK(pic.width > 0 && pic.height > 0);
    FUZZ_CHECK(uint64_t(pic.width) * uint64_t(pic.height) <= limit);
    FUZZ_CHECK(pic.rgb.size() == size_t(pic.width) * size_t(pic.height) * 3);

    if (uint64_t(pic.width) * uint64_t(pic.height) > uint64_t(plix::fuzz::kMaxCheckedPixels))
        return 0;
    std::string png, ppm;
    FUZZ_CHECK(WritePicture(FileKind::Png, pic, png).empty());
    FUZZ_CHECK(WritePicture(FileKind::Ppm, pic, ppm).empty());
    RgbPicture back;
    FUZZ_CHECK(ReadPng(png, limit, back).ok() && back.rgb == pic.rgb);
    FUZZ_CHECK(ReadPpm(ppm, limit, back).ok() && back.rgb == pic.rgb);
    return 0;
}
