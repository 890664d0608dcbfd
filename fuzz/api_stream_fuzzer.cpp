// libplixcodec's incremental decoder on hostile bytes pushed in pieces of
// random sizes, rows taken in random numbers: the same rows and result as
// plix_decode of the whole.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_util.h"
#include "plix/codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // The first bytes steer the pieces and the rows taken; the rest is the file.
    if (size < 4) return 0;
    uint32_t steer = uint32_t{data[0]} | uint32_t{data[1]} << 8 | uint32_t{data[2]} << 16 |
                     uint32_t{data[3]} << 24;
    data += 4;
    size -= 4;
    auto next = [&steer](uint32_t range) {
        steer = steer * 1103515245u + 12345u;
        return 1 + (steer >> 8) % range;
    };

    const plix_decode_options options{static_cast<uint64_t>(plix::fuzz::kMaxFuzzPixels), 1};
    plix_info info;
    const int read = plix_read_info(data, size, &info);
    size_t stride = 0;
    std::vector<uint8_t> whole(1), pieces(1);
    if (read == PLIX_OK && uint64_t{info.width} * info.height <= options.max_pixels) {
        stride = size_t{info.width} * 3;
        whole.assign(stride * info.height + 1, 0);
        pieces.assign(whole.size(), 0);
    }
    plix_info wholeInfo{};
    const int expected =
        plix_decode(data, size, &options, PLIX_BGR, whole.data(), stride, &wholeInfo);

    plix_decoder *d = plix_decoder_new(&options);
    FUZZ_CHECK(d);
    int r = PLIX_OK;
    uint32_t y = 0;
    auto drain = [&] {
        uint32_t got = 0;
        do {
            const uint32_t want = std::min<uint32_t>(next(20), info.height - y);
            r = plix_decoder_read_rows(d, PLIX_BGR, pieces.data() + size_t{y} * stride, stride,
                                       want, &got);
            y += r >= 0 ? got : 0;
        } while (r >= 0 && got > 0);
    };
    for (size_t at = 0; at < size && r >= 0;) {
        const size_t n = std::min<size_t>(next(300), size - at);
        r = plix_decoder_push(d, data + at, n);
        at += n;
        if (r == PLIX_OK && stride > 0) drain();
    }
    if (r >= 0) r = plix_decoder_finish(d);
    if (r >= 0 && stride > 0) drain();
    plix_info got{};
    plix_decoder_info(d, &got);
    plix_decoder_free(d);

    if (expected < 0) {
        FUZZ_CHECK(r == expected);
        return 0;
    }
    FUZZ_CHECK(r == expected && y == (stride > 0 ? info.height : 0));
    FUZZ_CHECK(got.blocks_present == wholeInfo.blocks_present);
    FUZZ_CHECK(pieces == whole);
    return 0;
}
