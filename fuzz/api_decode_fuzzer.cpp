// libplixcodec's one-shot functions on hostile bytes: plix_read_info,
// plix_scan and plix_decode agree with each other and with the classic
// decode of the same bytes, write nothing outside the caller's rows, and
// give only the documented results.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_util.h"
#include "plix/codec.h"
#include "plix/plix.h"

namespace {

constexpr uint8_t kGuard = 0x5C;

bool Documented(int r) {
    return r == PLIX_OK || r == PLIX_TRUNCATED || r == PLIX_ERROR_NOT_PLIX ||
           r == PLIX_ERROR_LIMIT || r == PLIX_ERROR_MEMORY;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    plix_info header;
    const int read = plix_read_info(data, size, &header);
    FUZZ_CHECK(read == PLIX_OK || read == PLIX_ERROR_NOT_PLIX);
    plix_info scanned;
    const int scan = plix_scan(data, size, &scanned);
    FUZZ_CHECK((read == PLIX_OK) == (scan == PLIX_OK || scan == PLIX_TRUNCATED));
    if (read != PLIX_OK) {
        FUZZ_CHECK(plix_decode(data, size, nullptr, PLIX_RGB, nullptr, 0, nullptr) ==
                   PLIX_ERROR_NOT_PLIX);
        return 0;
    }
    FUZZ_CHECK(scanned.blocks_present <= scanned.blocks && scanned.blocks == header.blocks);

    // The one byte of the input picks the format and the slack after rows.
    const auto format = static_cast<plix_format>(data[size - 1] % 4);
    const size_t bpp = format == PLIX_RGB || format == PLIX_BGR ? 3 : 4;
    const size_t slack = data[size - 1] / 4 % 8;
    const plix_decode_options options{static_cast<uint64_t>(plix::fuzz::kMaxFuzzPixels), 1};
    const uint64_t pixels = uint64_t{header.width} * header.height;
    if (pixels == 0) {
        // No rows to write, however many are declared.
        FUZZ_CHECK(plix_decode(data, size, &options, format, nullptr, 0, nullptr) == scan);
        return 0;
    }
    const size_t stride = header.width * bpp + slack;
    std::vector<uint8_t> out(pixels <= options.max_pixels ? stride * header.height + 1 : 1, kGuard);
    plix_info info;
    const int r = plix_decode(data, size, &options, format, out.data(), stride, &info);
    FUZZ_CHECK(Documented(r));
    if (pixels > options.max_pixels) {
        FUZZ_CHECK(r == PLIX_ERROR_LIMIT);
        return 0;
    }
    if (r == PLIX_ERROR_MEMORY) return 0;
    FUZZ_CHECK(r == scan && info.blocks_present == scanned.blocks_present);
    for (uint32_t y = 0; y < header.height; ++y)
        for (size_t i = header.width * bpp; i < stride; ++i)
            FUZZ_CHECK(out[y * stride + i] == kGuard);
    FUZZ_CHECK(out.back() == kGuard);

    // The classic decode of the same bytes has the same pixels, where it
    // takes them (sizes it can hold, data it can address).
    if (plix::fuzz::PaddedPixels(static_cast<int32_t>(header.width),
                                 static_cast<int32_t>(header.height)) >
            plix::fuzz::kMaxCheckedPixels ||
        size > 0x7FFFFFFF)
        return 0;
    PlixCodec *classic = PLIX_Constructor();
    FUZZ_CHECK(classic && classic->ops->DecodeMemory(classic, data, static_cast<int32_t>(size)));
    const bool rgbOrder = format == PLIX_RGB || format == PLIX_RGBA;
    for (uint32_t y = 0; y < header.height; ++y)
        for (uint32_t x = 0; x < header.width; ++x) {
            const uint32_t c = classic->ops->GetPixel(classic, static_cast<int32_t>(x),
                                                      static_cast<int32_t>(y));
            const uint8_t *p = &out[y * stride + x * bpp];
            FUZZ_CHECK(p[rgbOrder ? 0 : 2] == (c & 0xFF));
            FUZZ_CHECK(p[1] == ((c >> 8) & 0xFF));
            FUZZ_CHECK(p[rgbOrder ? 2 : 0] == ((c >> 16) & 0xFF));
            if (bpp == 4) FUZZ_CHECK(p[3] == 0xFF);
        }
    PLIX_Destructor(classic);
    return 0;
}
