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
    const BitmapImport memoryResult = plix::ImportBitmapMemory(fromMemory.image, data, size);

    const std::string path = ScratchPath("input.bmp");
    FUZZ_CHECK(plix::fuzz::WriteFile(path, data, size));
    plix::Codec fromFile;
    const BitmapImport fileResult = plix::ImportBitmap(fromFile.image, path.c_str());
    FUZZ_CHECK(memoryResult == fileResult);
    FUZZ_CHECK(memoryResult != BitmapImport::CannotOpen);

    // The one-call conversion says the same and leaves no image behind.
    const std::string plx = ScratchPath("output.plx");
    std::remove(plx.c_str());
    plix::Codec converter;
    const int32_t converted = converter.EncodeBitmapFile(path.c_str(), plx.c_str(), 0, 0, 0);
    FUZZ_CHECK(converted == (memoryResult == BitmapImport::Ok ? 1 : 0));
    FUZZ_CHECK(converter.image.pixels == nullptr);

    if (memoryResult != BitmapImport::Ok) {
        FUZZ_CHECK(fromMemory.image.pixels == nullptr && fromFile.image.pixels == nullptr);
        FUZZ_CHECK(!std::filesystem::exists(plx));
        return 0;
    }
    FUZZ_CHECK(fromMemory.image.width > 0 && fromMemory.image.height > 0);
    FUZZ_CHECK(fromMemory.image.width == fromFile.image.width &&
               fromMemory.image.height == fromFile.image.height);
    FUZZ_CHECK(
        std::memcmp(fromMemory.image.pixels, fromFile.image.pixels, BufferBytes(fromMemory)) == 0);

    // The converter's file is the encoding of the imported image.
    std::string written, encoded;
    FUZZ_CHECK(plix::fuzz::ReadFile(plx, written));
    FUZZ_CHECK(fromMemory.EncodeMemory(encoded, 0, 0, 0) == 1);
    FUZZ_CHECK(written == encoded);
    plix::Codec decoded;
    FUZZ_CHECK(decoded.DecodeMemory(encoded.data(), static_cast<int32_t>(encoded.size())) == 1);
    FUZZ_CHECK(decoded.image.width == fromMemory.image.width &&
               decoded.image.height == fromMemory.image.height);

    // 24-bit export and import give back the colours of the image area.
    const std::string exported = ScratchPath("export.bmp");
    FUZZ_CHECK(plix::ExportBitmap(fromMemory.image, exported.c_str()));
    plix::Codec back;
    FUZZ_CHECK(plix::ImportBitmap(back.image, exported.c_str()) == BitmapImport::Ok);
    FUZZ_CHECK(back.image.width == fromMemory.image.width &&
               back.image.height == fromMemory.image.height);
    for (int32_t y = 0; y < back.image.height; ++y)
        for (int32_t x = 0; x < back.image.width; ++x)
            FUZZ_CHECK(back.image.GetPixel(x, y) == fromMemory.image.GetPixel(x, y));
    return 0;
}
