// libplixcodec's one-shot functions on one thread, timed as bench/wasm.mjs
// times the WebAssembly package: RGBA pixels from a 24-bit BMP, plix_encode
// to memory and plix_decode into a caller's buffer, the median of several
// runs after a warm-up. Prints one line per setting: q-factor, bytes,
// encode ms, decode ms into a buffer used before, and decode ms into a new
// buffer each time (as the package's decode() returns a new array: memory
// touched for the first time costs a page fault per page).
// Usage: plix_api_bench PICTURE.bmp REPS QFACTOR...
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

#include "bitmap.h"
#include "image.h"
#include "plix/codec.h"

namespace {

double MedianMs(int reps, const std::function<void()> &fn) {
    fn();
    std::vector<double> t;
    for (int i = 0; i < reps; ++i) {
        const auto a = std::chrono::steady_clock::now();
        fn();
        t.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - a)
                        .count());
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s PICTURE.bmp REPS QFACTOR...\n", argv[0]);
        return 2;
    }
    plix::Image image;
    if (plix::ImportBitmap(image, argv[1]) != plix::BitmapImport::Ok) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    const uint32_t w = static_cast<uint32_t>(image.Width()), h = static_cast<uint32_t>(image.Height());
    // The picture as RGBA rows, as a browser's canvas holds it.
    std::vector<uint8_t> rgba(size_t{w} * h * 4);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const uint8_t *p = image.Pixels() + y * image.RowBytes() + x * 4;
            uint8_t *q = rgba.data() + (size_t{y} * w + x) * 4;
            q[0] = p[2];
            q[1] = p[1];
            q[2] = p[0];
            q[3] = 255;
        }
    const int reps = std::atoi(argv[2]);
    std::vector<uint8_t> out(rgba.size());
    for (int i = 3; i < argc; ++i) {
        plix_encode_options options{};
        options.qfactor = static_cast<uint32_t>(std::atoi(argv[i]));
        options.threads = 1;
        void *data = nullptr;
        size_t size = 0;
        const double encodeMs = MedianMs(reps, [&] {
            plix_free(data);
            if (plix_encode(rgba.data(), w, h, size_t{w} * 4, PLIX_RGBA, &options, &data, &size) !=
                PLIX_OK)
                std::abort();
        });
        plix_decode_options decodeOptions{};
        decodeOptions.threads = 1;
        const double decodeMs = MedianMs(reps, [&] {
            if (plix_decode(data, size, &decodeOptions, PLIX_RGBA, out.data(), size_t{w} * 4,
                            nullptr) != PLIX_OK)
                std::abort();
        });
        const double freshMs = MedianMs(reps, [&] {
            std::unique_ptr<uint8_t[]> fresh(new uint8_t[rgba.size()]);
            if (plix_decode(data, size, &decodeOptions, PLIX_RGBA, fresh.get(), size_t{w} * 4,
                            nullptr) != PLIX_OK)
                std::abort();
        });
        std::printf("%s %zu %.2f %.2f %.2f\n", argv[i], size, encodeMs, decodeMs, freshMs);
        plix_free(data);
    }
    return 0;
}
