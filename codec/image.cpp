#include "image.h"

#include <cstdlib>
#include <cstring>

#include "platform/memory.h"

namespace plix {

namespace {

// Rounds up to a multiple of 8 without overflow; negative sizes stay as the
// truncating division makes them.
int64_t PadToBlock(int32_t v) {
    return (static_cast<int64_t>(v) + 7) / 8 * 8;
}

}  // namespace

void Image::Release() {
    std::free(pixels_);
    pixels_ = nullptr;
    bytes_ = 0;
}

int32_t Image::Create(int32_t w, int32_t h, bool fill) {
    width_ = w;
    height_ = h;
    const int64_t pw = PadToBlock(w);
    const int64_t ph = PadToBlock(h);
    // The padded sizes of a valid image fit; others are kept as far as they do.
    paddedWidth_ = static_cast<int32_t>(pw > INT32_MAX ? INT32_MAX : pw);
    paddedHeight_ = static_cast<int32_t>(ph > INT32_MAX ? INT32_MAX : ph);
    if (w < 0 || h < 0 || (pw != 0 && ph > kMaxBufferBytes / 4 / pw)) {
        // pw and ph are below 2^31 each; the test divides so nothing overflows.
        Release();
        return 0;
    }
    const size_t bytes = static_cast<size_t>(pw * ph * 4);
    // A buffer of the same size is used again: a fresh one of many megabytes
    // costs its page faults on every decode. Callers never keep the pointer
    // across CreateImage, so nothing can tell.
    if (!pixels_ || bytes != bytes_) {
        Release();
        // An empty image still has a buffer (of one byte).
        pixels_ = static_cast<uint8_t *>(platform::AllocatePictureBuffer(bytes));
        if (!pixels_) return 0;
        bytes_ = bytes;
    }
    if (fill || bytes == 0) std::memset(pixels_, 0xFF, bytes > 0 ? bytes : 1);
    return 1;
}

uint32_t Image::GetPixel(int32_t x, int32_t y) const {
    if (!pixels_ || x < 0 || x >= width_ || y < 0 || y >= height_) return 0;
    const uint8_t *p =
        pixels_ +
        (static_cast<size_t>(y) * static_cast<size_t>(paddedWidth_) + static_cast<size_t>(x)) * 4;
    return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
}

void Image::SetPixel(int32_t x, int32_t y, uint32_t colour) {
    if (!pixels_ || x < 0 || x >= width_ || y < 0 || y >= height_) return;
    uint8_t *p =
        pixels_ +
        (static_cast<size_t>(y) * static_cast<size_t>(paddedWidth_) + static_cast<size_t>(x)) * 4;
    p[0] = static_cast<uint8_t>(colour >> 16);
    p[1] = static_cast<uint8_t>(colour >> 8);
    p[2] = static_cast<uint8_t>(colour);
    p[3] = 0;
}

}  // namespace plix
