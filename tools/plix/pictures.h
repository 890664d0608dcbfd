// The picture files plix reads and writes besides PLIX: PNG, PPM and BMP,
// streamed a band of rows at a time. Bytes come from a ByteSource and go to a
// ByteSink; the caller does the file access.
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

// Where a reader's bytes come from. Each returns an empty string or the
// reason of a failure.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Up to size bytes; got is short only at the end.
    virtual std::string Read(void *data, size_t size, size_t &got) = 0;
    // Sources that can seek: their size, else -1.
    virtual int64_t Size() const = 0;
    // Up to size bytes at offset (from the start of the data); got is short
    // only at the end. Only where Size() >= 0.
    virtual std::string ReadAt(uint64_t offset, void *data, size_t size, size_t &got) = 0;
};

// Bytes held in memory.
class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::string_view data) : data_(data) {}
    std::string Read(void *data, size_t size, size_t &got) override;
    int64_t Size() const override { return static_cast<int64_t>(data_.size()); }
    std::string ReadAt(uint64_t offset, void *data, size_t size, size_t &got) override;

private:
    std::string_view data_;
    size_t pos_ = 0;
};

// Where a writer's bytes go. WriteAt is for rows stored bottom-up; a sink
// that cannot seek is never given to such a writer (see NeedsSeeking).
class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual std::string Write(const void *data, size_t size) = 0;
    virtual std::string WriteAt(uint64_t offset, const void *data, size_t size) = 0;
};

class StringSink final : public ByteSink {
public:
    explicit StringSink(std::string &out) : out_(out) {}
    std::string Write(const void *data, size_t size) override;
    std::string WriteAt(uint64_t offset, const void *data, size_t size) override;

private:
    std::string &out_;
};

// Reads a picture's rows from the top down. Start reads the headers and
// refuses sizes above maxPixels before any pixel memory is taken.
class PictureReader {
public:
    virtual ~PictureReader() = default;
    virtual ReadResult Start(uint64_t maxPixels) = 0;
    uint32_t Width() const { return width_; }
    uint32_t Height() const { return height_; }
    // Whether rows come as blue, green, red (else red, green, blue).
    virtual bool GivesBgr() const { return false; }
    // The next count rows, 3 bytes a pixel, stride bytes apart.
    virtual ReadResult ReadRows(uint8_t *rows, size_t stride, uint32_t count) = 0;

protected:
    uint32_t width_ = 0, height_ = 0;
};

// PNG of any colour type and depth: palette and grey expanded, alpha dropped,
// 16-bit samples rounded to 8 bits, no gamma or transparency applied.
// Interlaced pictures are decoded whole before their rows are given.
std::unique_ptr<PictureReader> MakePngReader(ByteSource &source);
// Binary (P6) or plain (P3) PPM with any maximum value up to 65535; samples
// are scaled to 0..255 with rounding.
std::unique_ptr<PictureReader> MakePpmReader(ByteSource &source);
// BMP as the codec's classic import reads it, pixel for pixel: 16, 24 or 32
// bits per pixel, plain or bit fields, information headers of 40, 52, 56,
// 108 or 124 bytes, rows bottom-up or top-down, any data offset; the rest is
// refused with the variant or damage named. Rows stored bottom-up are read
// from the end, so the source must seek (Size() >= 0).
std::unique_ptr<PictureReader> MakeBmpReader(ByteSource &source);
// Whether a BMP's rows are stored bottom-up, from its first 26 bytes (false
// when it cannot tell: the reader then refuses the file anyway).
bool BmpIsBottomUp(std::string_view head);

// Whole pictures in memory, through the readers above.
ReadResult ReadPng(std::string_view data, uint64_t maxPixels, RgbPicture &out);
ReadResult ReadPpm(std::string_view data, uint64_t maxPixels, RgbPicture &out);
// The BMP reader's checks of a file in memory: what it would refuse, and why.
ReadResult CheckBmp(std::string_view data, uint64_t maxPixels);

// How a writer works.
struct WriterOptions {
    // PNG: 0 stores the rows uncompressed; 1 (the default) is the fast
    // setting; 2 to 9 are zlib's levels with its full search for matches.
    int pngCompression = 1;
    // PNG: threads that compress bands at once (0 or 1: the caller's only).
    // The file's bytes do not depend on it.
    unsigned threads = 1;
};

// Writes a picture as its rows come, top-down, 3 bytes a pixel, to a sink.
class PictureWriter {
public:
    virtual ~PictureWriter() = default;
    // Whether rows come as blue, green, red (else red, green, blue).
    virtual bool WantsBgr() const { return false; }
    // Whether the sink must take WriteAt.
    virtual bool NeedsSeeking() const { return false; }
    // Each returns an empty reason for success; sink must outlive the writer.
    virtual std::string Begin(int64_t width, int64_t height, ByteSink &sink) = 0;
    virtual std::string AddRows(const uint8_t *rows, size_t stride, uint32_t count) = 0;
    virtual std::string Finish() = 0;
};

// PNG (8-bit RGB), BMP (24 bits, bottom-up, rows padded to 4 bytes: the layout
// the codec writes) or binary PPM (maximum value 255); null for other kinds.
std::unique_ptr<PictureWriter> MakePictureWriter(FileKind kind, const WriterOptions &options = {});

// A whole picture through MakePictureWriter(kind).
std::string WritePicture(FileKind kind, const RgbPicture &picture, std::string &out,
                         const WriterOptions &options = {});

}  // namespace plix::tool
