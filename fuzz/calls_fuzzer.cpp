// Call sequences: the input is a program of up to 64 calls on one codec
// through its table of operations, in any order and with hostile arguments
// (negative, huge and out-of-range sizes, coordinates and settings; files
// that do not exist or were just written). Whatever the order, nothing may
// crash or read outside the buffers, and the codec's answers must stay
// consistent with each other.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "codec.h"
#include "fuzz_util.h"
#include "plix/plix.h"

using plix::fuzz::ScratchPath;

namespace {

// Reads the input from the front; zeros once it is used up.
class Reader {
public:
    Reader(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    bool Done() const { return pos_ >= size_; }
    uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    int32_t Int() {
        // Mostly small values, now and then the edges of the 32-bit range.
        switch (const uint8_t kind = Byte(); kind >> 5) {
            case 0:
                return -1 - (kind & 31);
            case 1:
                return INT32_MAX - (kind & 31);
            case 2:
                return INT32_MIN + (kind & 31);
            case 3:
                return static_cast<int32_t>(static_cast<uint32_t>(Byte()) << 8 | Byte());
            default:
                return kind & 127;
        }
    }
    // The next n bytes (fewer at the end).
    std::string Slice(size_t n) {
        const size_t take = n < size_ - pos_ ? n : size_ - pos_;
        std::string s(reinterpret_cast<const char *>(data_ + pos_), take);
        pos_ += take;
        return s;
    }

private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};

const char *PathFor(uint8_t which, const std::string &plx, const std::string &bmp) {
    switch (which & 7) {
        case 0:
            return plx.c_str();
        case 1:
            return bmp.c_str();
        case 2:
            return "";
        case 3:
            return "/nonexistent-folder/x";
        case 4:
            return "/dev/full";
        case 5:
            return "/";
        case 6:
            return nullptr;
        default:
            return "/dev/null";
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    PlixCodec *codec = PLIX_Constructor();
    FUZZ_CHECK(codec != nullptr);
    const PlixCodecOps &ops = *codec->ops;
    const std::string plx = ScratchPath("calls.plx");
    const std::string bmp = ScratchPath("calls.bmp");
    std::remove(plx.c_str());
    std::remove(bmp.c_str());

    Reader in(data, size);
    for (int call = 0; call < 64 && !in.Done(); ++call) {
        int32_t w = 0, h = 0, pw = 0, ph = 0;
        ops.GetImageSize(codec, &w, &h);
        ops.GetBufferSize(codec, &pw, &ph);
        uint8_t *buffer = ops.GetImageBuffer(codec);
        const bool hasImage = buffer != nullptr;
        if (hasImage) {
            FUZZ_CHECK(w >= 0 && h >= 0 && pw >= w && ph >= h);
            // An image with a zero side keeps the other side as far as it fits.
            if (w > 0 && h > 0) FUZZ_CHECK(pw % 8 == 0 && ph % 8 == 0 && pw - w < 8 && ph - h < 8);
        }

        switch (in.Byte() % 12) {
            case 0: {
                const int32_t cw = in.Int(), ch = in.Int();
                // Keep to small images; large ones only show that the limit holds.
                if (plix::fuzz::PaddedPixels(cw, ch) > plix::fuzz::kMaxCheckedPixels &&
                    plix::fuzz::PaddedPixels(cw, ch) <= 0x7FFFFFFF / 4)
                    break;
                const int32_t ok = ops.CreateImage(codec, cw, ch);
                FUZZ_CHECK(ok == (cw >= 0 && ch >= 0 &&
                                  plix::fuzz::PaddedPixels(cw, ch) <= 0x7FFFFFFF / 4));
                FUZZ_CHECK((ops.GetImageBuffer(codec) != nullptr) == (ok == 1));
                break;
            }
            case 1: {
                const int32_t x = in.Int(), y = in.Int();
                const uint32_t c = ops.GetPixel(codec, x, y);
                if (!hasImage || x < 0 || y < 0 || x >= w || y >= h) FUZZ_CHECK(c == 0);
                FUZZ_CHECK(c <= 0xFFFFFF);
                break;
            }
            case 2: {
                const int32_t x = in.Int(), y = in.Int();
                const uint32_t colour = static_cast<uint32_t>(in.Int());
                ops.SetPixel(codec, x, y, colour);
                if (hasImage && x >= 0 && y >= 0 && x < w && y < h)
                    FUZZ_CHECK(ops.GetPixel(codec, x, y) == (colour & 0xFFFFFF));
                break;
            }
            case 3: {
                const int32_t mode = in.Int(), q = in.Int(), m = in.Int();
                const char *path = PathFor(in.Byte(), plx, bmp);
                const int32_t ok = ops.EncodeFile(codec, path, mode, q, m);
                if (!hasImage || m < 0 || m > 2) FUZZ_CHECK(ok == 0);
                break;
            }
            case 4: {
                const int32_t ok = ops.DecodeFile(codec, PathFor(in.Byte(), plx, bmp));
                if (!ok && hasImage) {
                    // A failure keeps the image unless the header asked for
                    // one that cannot be made.
                    int32_t w2 = 0, h2 = 0;
                    ops.GetImageSize(codec, &w2, &h2);
                    if (ops.GetImageBuffer(codec)) FUZZ_CHECK(w2 == w && h2 == h);
                }
                break;
            }
            case 5: {
                const std::string bytes = in.Slice(in.Byte());
                if (bytes.size() >= 16 &&
                    plix::fuzz::PlixDeclaresLargeImage(
                        reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size()))
                    break;
                ops.DecodeMemory(codec, bytes.data(), static_cast<int32_t>(bytes.size()));
                break;
            }
            case 6: {
                // A file to read later: raw bytes from the input.
                const std::string bytes = in.Slice(in.Byte());
                const bool asPlix = in.Byte() & 1;
                if (plix::fuzz::PlixDeclaresLargeImage(
                        reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size()))
                    break;
                FUZZ_CHECK(plix::fuzz::WriteFile(asPlix ? plx : bmp, bytes.data(), bytes.size()));
                break;
            }
            case 7: {
                const char *from = PathFor(in.Byte(), plx, bmp);
                const char *to = PathFor(in.Byte(), plx, bmp);
                const int32_t mode = in.Int(), q = in.Int(), m = in.Int();
                // A file that opens is imported and released, whatever the outcome.
                if (ops.EncodeBitmapFile(codec, from, to, mode, q, m))
                    FUZZ_CHECK(ops.GetImageBuffer(codec) == nullptr);
                break;
            }
            case 8: {
                const char *from = PathFor(in.Byte(), plx, bmp);
                const char *to = PathFor(in.Byte(), plx, bmp);
                ops.DecodeToBitmapFile(codec, from, to);
                break;
            }
            case 9:
                // The buffer is the caller's to write, padding included.
                if (hasImage && pw > 0 && ph > 0)
                    std::memset(buffer, in.Byte(),
                                static_cast<size_t>(pw) * static_cast<size_t>(ph) * 4);
                break;
            case 10:
                FUZZ_CHECK(ops.GetVersion(codec) == 8);
                break;
            default:
                ops.GetImageSize(codec, nullptr, nullptr);
                ops.GetBufferSize(codec, nullptr, nullptr);
                break;
        }
    }
    PLIX_Destructor(codec);
    return 0;
}
