// The picture files plix reads and writes besides PLIX: PNG, PPM and BMP.
// Everything works on bytes in memory; the caller does the file access.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace plix::tool {

enum class FileKind { Plix, Png, Bmp, Ppm, Unknown };

// Tells the kind from the first bytes.
FileKind DetectKind(std::string_view data);

// 8-bit RGB samples, rows top-down, no padding.
struct RgbPicture {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> rgb;
};

// The result of reading or checking a file: empty reason for success.
// tooLarge marks a refusal by the pixel limit.
struct ReadResult {
    std::string reason;
    bool tooLarge = false;
    bool ok() const { return reason.empty(); }
};

// The refusal text for a declared size above the limit.
std::string TooLargeReason(int64_t width, int64_t height, uint64_t maxPixels);

// PNG of any colour type and depth: palette and grey expanded, alpha dropped,
// 16-bit samples rounded to 8 bits. Sizes above maxPixels are refused before
// any pixel memory is taken.
ReadResult ReadPng(std::string_view data, uint64_t maxPixels, RgbPicture &out);

// Binary (P6) or plain (P3) PPM with any maximum value up to 65535; samples
// are scaled to 0..255 with rounding.
ReadResult ReadPpm(std::string_view data, uint64_t maxPixels, RgbPicture &out);

// Names what the codec's BMP import would refuse, so that the message can say
// which variant or damage it is: compression other than plain pixels or
// bit-field masks, other than 16, 24 or 32 bits per pixel, information headers
// other than 40, 52, 56, 108 or 124 bytes, pixel data inside the headers,
// missing rows. Also refuses declared sizes above maxPixels. What passes goes
// to the import as it stands (headers, masks, top-down rows, data offset).
ReadResult CheckBmp(std::string_view data, uint64_t maxPixels);

// Writes a picture as its rows come, top-down, 3 bytes a pixel, into out.
class PictureWriter {
public:
    virtual ~PictureWriter() = default;
    // Whether rows come as blue, green, red (else red, green, blue).
    virtual bool WantsBgr() const { return false; }
    // Each returns an empty reason for success; out must outlive the writer.
    virtual std::string Begin(int32_t width, int32_t height, std::string &out) = 0;
    virtual std::string AddRows(const uint8_t *rows, size_t stride, uint32_t count) = 0;
    virtual std::string Finish() = 0;
};

// PNG (8-bit RGB), BMP (24 bits, bottom-up, rows padded to 4 bytes: the layout
// the codec writes) or binary PPM (maximum value 255); null for other kinds.
std::unique_ptr<PictureWriter> MakePictureWriter(FileKind kind);

// A whole picture through MakePictureWriter(kind).
std::string WritePicture(FileKind kind, const RgbPicture &picture, std::string &out);

}  // namespace plix::tool
