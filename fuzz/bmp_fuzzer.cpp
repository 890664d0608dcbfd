// BMP import of hostile bytes, from memory and through a file, and the
// one-call conversion EncodeBitmapFile. Memory and file must agree on the
// verdict and the pixels; an imported image encodes and decodes, and its
// 24-bit export imports back to the same colours.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "bitmap.h"
#include "codec.h"
#include "fuzz_util.h"

using plix::BitmapImport;
using plix::fuzz::BufferBytes;
using plix::fuzz::ScratchPath;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Each image goes through seven passes here; keep them small.
    if (plix::fuzz::BmpDeclaredPixels(data, size) > plix::fuzz::kMaxCheckedPixels * 2) return -1;
    plix::Codec fromMemory;
    const BitmapImport memoryResult = plix::ImportBitmapMemory(fromMemory.Picture(), data, size);

    const std::string path = ScratchPath("input.bmp");
    FUZZ_CHECK(plix::fuzz::WriteFile(path, data, size));
    plix::Codec fromFile;
    const BitmapImport fileResult = plix::ImportBitmap(fromFile.Picture(), path.c_str());
    FUZZ_CHECK(memoryResult == fileResult);
    FUZZ_CHECK(memoryResult != BitmapImport::CannotOpen);

    // The one-call conversion says the same and leaves no image behind.
    const std::string plx = ScratchPath("output.plx");
    std::remove(plx.c_str());
    plix::Codec converter;
    const int32_t converted = converter.EncodeBitmapFile(path.c_str(), plx.c_str(), 0, 0, 0);
    FUZZ_CHECK(converted == (memoryResult == BitmapImport::Ok ? 1 : 0));
    FUZZ_CHECK(converter.Picture().Pixels() == nullptr);

    if (memoryResult != BitmapImport::Ok) {
        FUZZ_CHECK(fromMemory.Picture().Pixels() == nullptr && fromFile.Picture().Pixels() == nullptr);
        FUZZ_CHECK(!std::filesystem::exists(plx));
        return 0;
    }
    FUZZ_CHECK(fromMemory.Picture().Width() > 0 && fromMemory.Picture().Height() > 0);
    FUZZ_CHECK(fromMemory.Picture().Width() == fromFile.Picture().Width() &&
               fromMemory.Picture().Height() == fromFile.Picture().Height());
    FUZZ_CHECK(
        std::memcmp(fromMemory.Picture().Pixels(), fromFile.Picture().Pixels(), BufferBytes(fromMemory)) == 0);

    // The converter's file is the encoding of the imported image.
    std::string written, encoded;
    FUZZ_CHECK(plix::fuzz::ReadFile(plx, written));
    FUZZ_CHECK(fromMemory.EncodeMemory(encoded, 0, 0, 0) == 1);
    FUZZ_CHECK(written == encoded);
    plix::Codec decoded;
    FUZZ_CHECK(decoded.DecodeMemory(encoded.data(), static_cast<int32_t>(encoded.size())) == 1);
    FUZZ_CHECK(decoded.Picture().Width() == fromMemory.Picture().Width() &&
               decoded.Picture().Height() == fromMemory.Picture().Height());

    // 24-bit export and import give back the colours of the image area.
    const std::string exported = ScratchPath("export.bmp");
    FUZZ_CHECK(plix::ExportBitmap(fromMemory.Picture(), exported.c_str()));
    plix::Codec back;
    FUZZ_CHECK(plix::ImportBitmap(back.Picture(), exported.c_str()) == BitmapImport::Ok);
    FUZZ_CHECK(back.Picture().Width() == fromMemory.Picture().Width() &&
               back.Picture().Height() == fromMemory.Picture().Height());
    for (int32_t y = 0; y < back.Picture().Height(); ++y)
        for (int32_t x = 0; x < back.Picture().Width(); ++x)
            FUZZ_CHECK(back.Picture().GetPixel(x, y) == fromMemory.Picture().GetPixel(x, y));
    return 0;
}
