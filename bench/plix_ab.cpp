// Two builds of libplixcodec in one process, timed call for call: each
// repetition runs both, in turns that swap every time, so that both meet the
// same machine (on a shared virtual machine the speed of a whole run moves by
// 10-20 %, more than the changes worth measuring). Pictures come from a PLIX
// file; encoding codes its pixels again at the q-factor given.
// Usage: plix_ab LIB_A LIB_B FILE.plx encode|decode QFACTOR [REPS]
// Prints, for each build, the median milliseconds on 1 and on 2 threads.
// With LIB_B "-" only LIB_A is timed. Two copies of one build can differ by
// 10 % in one process on some processors (the decoder's branches and tables
// at two places at once): compare a build with a copy of itself first, and
// where they differ use bench/ab.sh, which runs each build in a process of
// its own. PLIX_AB_THREADS=1 times one-thread calls only.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/library.h"
#include "plix/codec.h"

namespace {

using EncodeFn = int (*)(const void *, uint32_t, uint32_t, size_t, plix_format,
                         const plix_encode_options *, void **, size_t *);
using DecodeFn = int (*)(const void *, size_t, const plix_decode_options *, plix_format, void *,
                         size_t, plix_info *);
using FreeFn = void (*)(void *);
using InfoFn = int (*)(const void *, size_t, plix_info *);

struct Build {
    plix::platform::Library library;
    EncodeFn encode = nullptr;
    DecodeFn decode = nullptr;
    FreeFn release = nullptr;
    InfoFn info = nullptr;
    std::vector<double> ms[2];  // one thread, two

    bool Load(const char *path) {
        if (!library.Load(path)) return false;
        encode = reinterpret_cast<EncodeFn>(library.Symbol("plix_encode"));
        decode = reinterpret_cast<DecodeFn>(library.Symbol("plix_decode"));
        release = reinterpret_cast<FreeFn>(library.Symbol("plix_free"));
        info = reinterpret_cast<InfoFn>(library.Symbol("plix_read_info"));
        return encode && decode && release && info;
    }
};

std::vector<uint8_t> ReadFile(const char *path) {
    std::vector<uint8_t> bytes;
    if (FILE *f = std::fopen(path, "rb")) {
        uint8_t buffer[65536];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
            bytes.insert(bytes.end(), buffer, buffer + n);
        std::fclose(f);
    }
    return bytes;
}

double Median(std::vector<double> v) {
    if (v.empty()) return std::nan("");
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 6) {
        std::fprintf(stderr, "usage: %s LIB_A LIB_B FILE.plx encode|decode QFACTOR [REPS]\n",
                     argv[0]);
        return 2;
    }
    Build builds[2];
    const int count = std::strcmp(argv[2], "-") == 0 ? 1 : 2;
    for (int b = 0; b < count; ++b)
        if (!builds[b].Load(argv[1 + b])) {
            std::fprintf(stderr, "cannot load %s\n", argv[1 + b]);
            return 1;
        }
    const std::vector<uint8_t> file = ReadFile(argv[3]);
    const bool encode = std::strcmp(argv[4], "encode") == 0;
    const uint32_t q = static_cast<uint32_t>(std::atoi(argv[5]));
    const int reps = argc > 6 ? std::max(1, std::atoi(argv[6])) : 31;
    plix_info info{};
    if (builds[0].info(file.data(), file.size(), &info) != PLIX_OK) {
        std::fprintf(stderr, "%s is not a PLIX file\n", argv[3]);
        return 1;
    }
    const size_t stride = size_t{info.width} * 4;
    std::vector<uint8_t> pixels(stride * info.height);
    if (builds[0].decode(file.data(), file.size(), nullptr, PLIX_BGRA, pixels.data(), stride,
                         nullptr) < 0)
        return 1;
    // What decoding reads: the pixels coded again at q.
    std::vector<uint8_t> coded;
    {
        const plix_encode_options options{0, q, 0, 1};
        void *data = nullptr;
        size_t size = 0;
        if (builds[0].encode(pixels.data(), info.width, info.height, stride, PLIX_BGRA, &options,
                             &data, &size) != PLIX_OK)
            return 1;
        coded.assign(static_cast<uint8_t *>(data), static_cast<uint8_t *>(data) + size);
        builds[0].release(data);
    }
    std::vector<uint8_t> out(pixels.size());
    const auto run = [&](Build &b, uint32_t threads) {
        const auto start = std::chrono::steady_clock::now();
        if (encode) {
            const plix_encode_options options{0, q, 0, threads};
            void *data = nullptr;
            size_t size = 0;
            if (b.encode(pixels.data(), info.width, info.height, stride, PLIX_BGRA, &options,
                         &data, &size) != PLIX_OK)
                std::abort();
            b.release(data);
        } else {
            const plix_decode_options options{0, threads};
            if (b.decode(coded.data(), coded.size(), &options, PLIX_BGRA, out.data(), stride,
                         nullptr) != PLIX_OK)
                std::abort();
        }
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count();
    };
    const char *most = std::getenv("PLIX_AB_THREADS");
    const uint32_t maxThreads = most && std::strcmp(most, "1") == 0 ? 1 : 2;
    for (int r = -1; r < reps; ++r)  // the first round warms up
        for (uint32_t threads = 1; threads <= maxThreads; ++threads)
            for (int turn = 0; turn < count; ++turn) {
                Build &b = builds[(turn + r + count) % count];
                const double ms = run(b, threads);
                if (r >= 0) b.ms[threads - 1].push_back(ms);
            }
    for (int b = 0; b < count; ++b) {
        const double one = Median(builds[b].ms[0]), two = Median(builds[b].ms[1]);
        std::printf("%s %s q%u: 1 thread %.3f ms, 2 threads %.3f ms (%.2f x)\n", b ? "B" : "A",
                    argv[4], q, one, two, one / two);
    }
    if (count == 1) return 0;
    const double a = Median(builds[0].ms[0]), b = Median(builds[1].ms[0]);
    const double a2 = Median(builds[0].ms[1]), b2 = Median(builds[1].ms[1]);
    std::printf("B over A: 1 thread %+.1f %%, 2 threads %+.1f %% time\n", (b / a - 1) * 100,
                (b2 / a2 - 1) * 100);
    return 0;
}
