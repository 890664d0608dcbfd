// What the picture readers and writers share among themselves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "pictures.h"

namespace plix::tool {

// Reads a source through a buffer, for readers that take a few bytes at a time.
class BufferedReader {
public:
    explicit BufferedReader(ByteSource &source) : source_(source), buffer_(new uint8_t[kBytes]) {}
    // Up to size bytes; got is short only at the end. Large reads skip the buffer.
    std::string Read(void *data, size_t size, size_t &got);
    // The next byte, or -1 at the end or on a failure (then Error() says why).
    int Peek();
    int Get();
    const std::string &Error() const { return error_; }

private:
    static constexpr size_t kBytes = size_t{1} << 16;
    std::string Fill();

    ByteSource &source_;
    std::unique_ptr<uint8_t[]> buffer_;
    size_t pos_ = 0, end_ = 0;
    uint64_t consumed_ = 0;
    std::string error_;
};

// Start, then every row into out.
ReadResult ReadWhole(PictureReader &reader, uint64_t maxPixels, RgbPicture &out);

std::unique_ptr<PictureWriter> MakePngWriter(const WriterOptions &options);

}  // namespace plix::tool
