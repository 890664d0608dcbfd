// The image a codec holds: its sizes and its pixel buffer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plix {

// Largest pixel buffer, in bytes: the format's sizes are 32-bit.
inline constexpr int64_t kMaxBufferBytes = 0x7FFFFFFF;

// Padded width x padded height pixels of 4 bytes (blue, green, red, no
// colour), rows top-down; the image proper is the top-left width x height.
struct Image {
    Image() = default;
    ~Image() { Release(); }
    Image(const Image &) = delete;
    Image &operator=(const Image &) = delete;

    // Sets the sizes and replaces the buffer, filled with 0xFF bytes unless
    // fill is false (for a decoder that writes every byte). 0 when the sizes
    // are refused or no memory is left: then there is no buffer.
    int32_t Create(int32_t w, int32_t h, bool fill = true);
    void Release();
    uint32_t GetPixel(int32_t x, int32_t y) const;
    void SetPixel(int32_t x, int32_t y, uint32_t colour);
    size_t RowBytes() const { return static_cast<size_t>(paddedWidth_) * 4; }
    size_t ByteSize() const { return bytes_; }

    int32_t Width() const { return width_; }
    int32_t Height() const { return height_; }
    int32_t PaddedWidth() const { return paddedWidth_; }
    int32_t PaddedHeight() const { return paddedHeight_; }
    uint8_t *Pixels() { return pixels_; }
    const uint8_t *Pixels() const { return pixels_; }

private:
    int32_t width_ = 0;
    int32_t height_ = 0;
    int32_t paddedWidth_ = 0;
    int32_t paddedHeight_ = 0;
    uint8_t *pixels_ = nullptr;
    size_t bytes_ = 0;  // size of the pixel buffer
};

}  // namespace plix
