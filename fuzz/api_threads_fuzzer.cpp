// libplixcodec on several threads against one: the input is a PLIX file, its
// last byte also asks for 2 to 9 threads and a pixel format. Decoded on the
// threads (pictures of any size are sent there), whole and by the
// incremental decoder from pieces, the rows, the result and the whole blocks
// are those of plix_decode on one thread; and the picture it gives, encoded
// on those threads with rows given a few at a time, has the bytes of one
// thread's encode.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "api/stream_decoder.h"
#include "api/stream_encoder.h"
#include "dsp/dsp.h"
#include "fuzz_util.h"
#include "plix/codec.h"

namespace {

constexpr uint8_t kGuard = 0xC3;

// The machine's kernels, keeping what the threads decode ahead whatever the
// bits a position takes.
const plix::Dsp &Keeping() {
    static const plix::Dsp k = plix::KeepingAlways(plix::GetDsp());
    return k;
}

struct Collect final : plix::ByteSink {
    std::vector<uint8_t> bytes;
    bool Put(const void *data, size_t n) override {
        bytes.insert(bytes.end(), static_cast<const uint8_t *>(data),
                     static_cast<const uint8_t *>(data) + n);
        return true;
    }
};

std::vector<uint8_t> Encode(const std::vector<uint8_t> &rgba, uint32_t w, uint32_t h,
                            const plix_encode_options &options, uint32_t step) {
    Collect sink;
    plix::api::StreamEncoder e;
    e.SetBandMinimum(0);
    FUZZ_CHECK(e.Start(w, h, &options, sink) == PLIX_OK);
    for (uint32_t y = 0; y < h; y += step)
        FUZZ_CHECK(e.WriteRows(rgba.data() + size_t{y} * w * 4, size_t{w} * 4, PLIX_RGBA,
                               std::min(step, h - y)) == PLIX_OK);
    FUZZ_CHECK(e.Finish() == PLIX_OK);
    return sink.bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    const uint8_t pick = data[size - 1];
    const unsigned threads = 2 + pick % 8;
    const auto format = static_cast<plix_format>(pick / 8 % 4);
    plix_info header;
    if (plix_read_info(data, size, &header) != PLIX_OK) return 0;
    const uint64_t pixels = uint64_t{header.width} * header.height;
    // Small pictures: the decodes and encodes, and starting their threads on
    // a busy machine, must take well under a second with the sanitizers.
    if (pixels == 0 || pixels > static_cast<uint64_t>(plix::fuzz::kMaxCheckedPixels) / 4) return 0;
    const size_t bpp = format == PLIX_RGB || format == PLIX_BGR ? 3 : 4;
    const size_t stride = header.width * bpp + 1;

    std::vector<uint8_t> one(stride * header.height + 1, kGuard);
    plix_info oneInfo;
    const int r = plix_decode(data, size, nullptr, format, one.data(), stride, &oneInfo);
    if (r == PLIX_ERROR_MEMORY) return 0;
    FUZZ_CHECK(r == PLIX_OK || r == PLIX_TRUNCATED);

    std::vector<uint8_t> more(one.size(), kGuard);
    const plix_decode_options options{0, threads};
    // For half of the inputs, the parts keep what they decode ahead, in room
    // for all, for none, or running out part-way.
    const uint8_t keep = size >= 5 ? data[size - 5] : 0;
    static constexpr uint64_t kRooms[] = {plix::kMostKeptInAll, 0, 300, 5000};
    plix::api::StreamDecoder d(&options);
    if (keep % 2) d.UseKernels(Keeping());
    FUZZ_CHECK(d.PushWhole(data, size) == PLIX_OK);
    // Any picture, in parts of any size; for half of the inputs, the first
    // thread stops decoding in full after a given strip (past the last too)
    // rather than when the others have read their parts, and for half the
    // tail starts at a given strip rather than where the parts end.
    const uint8_t stop = size >= 2 ? data[size - 2] : 0;
    const uint8_t tail = size >= 3 ? data[size - 3] : 0;
    const int64_t strips = header.height / 8 + 3;
    const int64_t firstStrips = stop % 2 ? stop / 2 % strips : -1;
    const int64_t tailFrom = tail % 2 ? tail / 2 % strips : -1;
    const bool threaded = d.ReadAllInBands(format, more.data(), stride, threads, 0, 1, firstStrips,
                                           tailFrom, kRooms[keep / 2 % 4]);
    FUZZ_CHECK(!threaded || (header.height > 8 && size > 16u + data[7]));
    uint32_t rows = 0;
    const int rm = d.ReadRows(format, more.data(), stride, threaded ? 0 : header.height, &rows);
    plix_info moreInfo;
    d.Info(&moreInfo);
    FUZZ_CHECK(rm == r && moreInfo.blocks_present == oneInfo.blocks_present);
    FUZZ_CHECK(more == one);

    // The incremental decoder on the threads: the bytes in pieces, rows a few
    // at a time or all at once, rounds of strips of any size.
    {
        plix::api::StreamDecoder s(&options);
        if (keep % 2) s.UseKernels(Keeping());
        const uint8_t shape = size >= 4 ? data[size - 4] : 0;
        s.SetAheadMinimum(int64_t{header.width} * 8 * (shape % 4), 1);
        const size_t piece = 1 + size_t{shape} * 37;
        const uint32_t atOnce = shape % 2 ? header.height : 1 + shape % 11;
        std::vector<uint8_t> got(one.size(), kGuard);
        uint32_t y = 0;
        int last = PLIX_NEED_DATA;
        const auto read = [&] {
            for (;;) {
                uint32_t n = 0;
                last = s.ReadRows(format, got.data() + size_t{y} * stride, stride,
                                  std::min(atOnce, header.height - y), &n);
                y += n;
                if (last < 0 || n == 0) return;
            }
        };
        for (size_t at = 0; at < size; at += piece) {
            FUZZ_CHECK(s.Push(data + at, std::min(piece, size - at)) == PLIX_OK);
            read();
        }
        FUZZ_CHECK(s.Finish() == PLIX_OK);
        read();
        plix_info info;
        s.Info(&info);
        FUZZ_CHECK(y == header.height && last == r && info.blocks_present == oneInfo.blocks_present);
        FUZZ_CHECK(got == one);
    }

    // The decoded picture encoded again, on one thread and on the threads
    // (for a third of the inputs: the encoder's own harnesses cover the rest).
    if (pick % 3 != 0) return 0;
    plix_info none;
    std::vector<uint8_t> rgba(pixels * 4);
    FUZZ_CHECK(plix_decode(data, size, nullptr, PLIX_RGBA, rgba.data(), header.width * 4, &none) ==
               r);
    plix_encode_options encode{header.mode, std::min(header.qfactor, 15u), header.matrix, 1};
    const uint32_t step = 1 + pick % 19;
    const std::vector<uint8_t> serial = Encode(rgba, header.width, header.height, encode, step);
    encode.threads = threads;
    FUZZ_CHECK(Encode(rgba, header.width, header.height, encode, step) == serial);
    FUZZ_CHECK(Encode(rgba, header.width, header.height, encode, header.height) == serial);
    return 0;
}
