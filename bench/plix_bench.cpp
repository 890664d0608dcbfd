// PLIX against a fast JPEG library at the same bits per pixel, in one run.
//
// For each picture and setting: PLIX size, bits per pixel and PSNR; encode and
// decode speed in memory on one thread (median of repetitions after a warm-up);
// then TurboJPEG 4:4:4 with the accurate integer DCT at the quality whose file
// is closest in size, timed the same way; and the ratios. memcpy of the pixel
// buffer gives the machine's ceiling, and the plain kernels run beside the
// packed ones. libplixcodec's plix_encode and plix_decode (BGRA in memory) are
// timed on one thread and on --threads N (default 2) in alternation.
#include <turbojpeg.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <utility>
#include <string>
#include <thread>
#include <vector>

#include "bitmap.h"
#include "codec.h"
#include "dsp/dsp.h"
#include "plix/codec.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    int reps = 7;
    std::vector<std::string> files;
    bool plain = true;
    unsigned threads = 2;  // 0: no threads columns
};

// Median wall time of reps runs of fn, after one warm-up run, in seconds.
double MedianSeconds(int reps, const std::function<void()> &fn) {
    fn();
    std::vector<double> t;
    for (int i = 0; i < reps; ++i) {
        auto a = Clock::now();
        fn();
        t.push_back(std::chrono::duration<double>(Clock::now() - a).count());
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

// Medians of a and b timed in alternation, so that both see the same state of
// a noisy machine; seconds. At least reps runs each, and more until each side
// has run for kPairSeconds (at most kMaxPairRuns runs): a small picture's
// fraction of a millisecond is too short a sample for a few runs to tell.
constexpr double kPairSeconds = 0.25;
constexpr int kMaxPairRuns = 1000;

std::pair<double, double> MedianPair(int reps, const std::function<void()> &a,
                                     const std::function<void()> &b) {
    a();
    b();
    std::vector<double> ta, tb;
    double sumA = 0, sumB = 0;
    for (int i = 0; i < reps || ((sumA < kPairSeconds || sumB < kPairSeconds) && i < kMaxPairRuns);
         ++i) {
        auto t0 = Clock::now();
        a();
        auto t1 = Clock::now();
        b();
        auto t2 = Clock::now();
        ta.push_back(std::chrono::duration<double>(t1 - t0).count());
        tb.push_back(std::chrono::duration<double>(t2 - t1).count());
        sumA += ta.back();
        sumB += tb.back();
    }
    std::sort(ta.begin(), ta.end());
    std::sort(tb.begin(), tb.end());
    return {ta[ta.size() / 2], tb[tb.size() / 2]};
}

// What threads bring on this machine to a job that shares nothing: each
// thread mixes words in a buffer of its own that stays in its core's cache,
// the threads started for each run as the library starts its own. The api
// columns' x is to be read against this, not against the thread count.
double SharedNothingSpeedup(int reps, unsigned threads) {
    constexpr size_t kWords = 2048;  // 16 KiB a thread
    constexpr int kRounds = 65536;   // about 10 ms of work in all
    std::vector<std::vector<uint64_t>> buffers(threads, std::vector<uint64_t>(kWords, 1));
    const auto mix = [&](unsigned t, int rounds) {
        uint64_t *b = buffers[t].data();
        for (int r = 0; r < rounds; ++r)
            for (size_t i = 0; i < kWords; ++i) b[i] = b[i] * 0x9E3779B97F4A7C15u + i;
    };
    const auto run = [&](unsigned n) {
        std::vector<std::thread> team;
        for (unsigned t = 1; t < n; ++t) team.emplace_back(mix, t, kRounds / static_cast<int>(n));
        mix(0, kRounds / static_cast<int>(n));
        for (auto &t : team) t.join();
    };
    const auto [one, many] = MedianPair(reps, [&] { run(1); }, [&] { run(threads); });
    return one / many;
}

double Psnr(const uint8_t *a, const uint8_t *b, int w, int h, size_t strideA, size_t strideB) {
    double sum = 0;
    for (int y = 0; y < h; ++y) {
        const uint8_t *pa = a + y * strideA, *pb = b + y * strideB;
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                double d = double(pa[x * 4 + c]) - double(pb[x * 4 + c]);
                sum += d * d;
            }
    }
    double mse = sum / (3.0 * w * h);
    return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

struct Jpeg {
    tjhandle enc = tjInitCompress();
    tjhandle dec = tjInitDecompress();
    ~Jpeg() {
        tjDestroy(enc);
        tjDestroy(dec);
    }
    std::vector<uint8_t> Compress(const uint8_t *bgrx, int w, int h, int quality) {
        unsigned char *buf = nullptr;
        unsigned long size = 0;
        if (tjCompress2(enc, bgrx, w, w * 4, h, TJPF_BGRX, &buf, &size, TJSAMP_444, quality,
                        TJFLAG_ACCURATEDCT) != 0) {
            std::fprintf(stderr, "TurboJPEG: %s\n", tjGetErrorStr2(enc));
            std::exit(1);
        }
        std::vector<uint8_t> out(buf, buf + size);
        tjFree(buf);
        return out;
    }
    void Decompress(const std::vector<uint8_t> &jpg, uint8_t *bgrx, int w, int h) {
        if (tjDecompress2(dec, jpg.data(), jpg.size(), bgrx, w, w * 4, h, TJPF_BGRX,
                          TJFLAG_ACCURATEDCT) != 0) {
            std::fprintf(stderr, "TurboJPEG: %s\n", tjGetErrorStr2(dec));
            std::exit(1);
        }
    }
};

struct Setting {
    int q, matrix;
};

void RunPicture(const Options &opt, const std::string &path) {
    plix::Codec src;
    if (plix::ImportBitmap(src.Picture(), path.c_str()) != plix::BitmapImport::Ok) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return;
    }
    const int w = src.Picture().Width(), h = src.Picture().Height();
    const double mp = double(w) * h / 1e6;
    const size_t stride = size_t(src.Picture().PaddedWidth()) * 4;
    // Tight BGRX copy for TurboJPEG and the quality comparisons.
    std::vector<uint8_t> bgrx(size_t(w) * h * 4);
    for (int y = 0; y < h; ++y)
        std::memcpy(&bgrx[size_t(y) * w * 4], src.Picture().Pixels() + y * stride, size_t(w) * 4);

    std::vector<uint8_t> copy(size_t(src.Picture().PaddedWidth()) * src.Picture().PaddedHeight() * 4);
    double tcopy =
        MedianSeconds(opt.reps, [&] { std::memcpy(copy.data(), src.Picture().Pixels(), copy.size()); });

    const char *name =
        std::strrchr(path.c_str(), '/') ? std::strrchr(path.c_str(), '/') + 1 : path.c_str();
    std::printf("\n%s: %d x %d (%.2f MP), memcpy of the pixel buffer %.0f MP/s, kernels %s\n", name,
                w, h, mp, mp / tcopy, plix::GetDsp().name);
    std::printf("%-9s %6s %6s | %7s %7s | %4s %6s %6s | %7s %7s | %6s %6s", "setting", "bpp",
                "PSNR", "enc MP/s", "dec MP/s", "jpgQ", "bpp", "PSNR", "enc MP/s", "dec MP/s",
                "enc x", "dec x");
    if (opt.plain) std::printf(" | %9s %9s", "plain enc", "plain dec");
    if (opt.threads)
        std::printf(" | %8s %8s %5s %8s %8s %5s", "api enc1", "enc", "x", "api dec1", "dec", "x");
    std::printf("\n");

    Jpeg jpeg;
    const Setting settings[] = {{0, 0}, {2, 0}, {4, 0}, {8, 0}, {15, 0}, {4, 1}};
    for (const Setting &s : settings) {
        std::string plx;
        src.EncodeMemory(plx, 0, s.q, s.matrix);
        plix::Codec dec;
        dec.DecodeMemory(plx.data(), int32_t(plx.size()));
        double psnr = Psnr(src.Picture().Pixels(), dec.Picture().Pixels(), w, h, stride, stride);
        double bpp = plx.size() * 8.0 / (double(w) * h);

        // JPEG quality whose size is closest to the PLIX file (sizes grow with quality).
        int lo = 1, hi = 100;
        while (lo < hi) {
            int mid = (lo + hi) / 2;
            if (jpeg.Compress(bgrx.data(), w, h, mid).size() < plx.size())
                lo = mid + 1;
            else
                hi = mid;
        }
        int bestQ = lo;
        size_t bestDiff = SIZE_MAX;
        for (int qq = std::max(1, lo - 1); qq <= std::min(100, lo + 1); ++qq) {
            size_t sz = jpeg.Compress(bgrx.data(), w, h, qq).size();
            size_t diff = sz > plx.size() ? sz - plx.size() : plx.size() - sz;
            if (diff < bestDiff) bestDiff = diff, bestQ = qq;
        }
        std::vector<uint8_t> jpg;
        auto [tenc, tjenc] = MedianPair(
            opt.reps,
            [&] {
                plx.clear();
                src.EncodeMemory(plx, 0, s.q, s.matrix);
            },
            [&] { jpg = jpeg.Compress(bgrx.data(), w, h, bestQ); });
        std::vector<uint8_t> out(bgrx.size());
        auto [tdec, tjdec] = MedianPair(
            opt.reps, [&] { dec.DecodeMemory(plx.data(), int32_t(plx.size())); },
            [&] { jpeg.Decompress(jpg, out.data(), w, h); });
        double jpsnr = Psnr(bgrx.data(), out.data(), w, h, size_t(w) * 4, size_t(w) * 4);

        char label[32];
        std::snprintf(label, sizeof label, "q%d m%d", s.q, s.matrix);
        std::printf("%-9s %6.2f %6.2f | %8.1f %8.1f | %4d %6.2f %6.2f | %8.1f %8.1f | %6.2f %6.2f",
                    label, bpp, psnr, mp / tenc, mp / tdec, bestQ,
                    jpg.size() * 8.0 / (double(w) * h), jpsnr, mp / tjenc, mp / tjdec, tjenc / tenc,
                    tjdec / tdec);
        if (opt.plain) {
            const plix::Dsp *plainDsp = plix::GetDspLevel(plix::DspLevel::kPlain);
            src.UseKernels(plainDsp);
            dec.UseKernels(plainDsp);
            std::string plx2;
            double penc = MedianSeconds(std::max(1, opt.reps / 2), [&] {
                plx2.clear();
                src.EncodeMemory(plx2, 0, s.q, s.matrix);
            });
            double pdec = MedianSeconds(std::max(1, opt.reps / 2), [&] {
                dec.DecodeMemory(plx2.data(), int32_t(plx2.size()));
            });
            src.UseKernels(nullptr);
            dec.UseKernels(nullptr);
            if (plx2 != plx) std::printf("  PLAIN AND PACKED FILES DIFFER");
            std::printf(" | %9.1f %9.1f", mp / penc, mp / pdec);
        }
        if (opt.threads) {
            // libplixcodec on one thread and on opt.threads, in alternation.
            plix_encode_options one{0, uint32_t(s.q), uint32_t(s.matrix), 1};
            plix_encode_options more = one;
            more.threads = opt.threads;
            void *d1 = nullptr, *dn = nullptr;
            size_t n1 = 0, nn = 0;
            auto [e1, en] = MedianPair(
                opt.reps,
                [&] {
                    plix_free(d1);
                    plix_encode(bgrx.data(), w, h, size_t(w) * 4, PLIX_BGRA, &one, &d1, &n1);
                },
                [&] {
                    plix_free(dn);
                    plix_encode(bgrx.data(), w, h, size_t(w) * 4, PLIX_BGRA, &more, &dn, &nn);
                });
            const plix_decode_options dec1{0, 1}, decn{0, opt.threads};
            std::vector<uint8_t> px1(bgrx.size()), pxn(bgrx.size());
            auto [t1, tn] = MedianPair(
                opt.reps,
                [&] { plix_decode(d1, n1, &dec1, PLIX_BGRA, px1.data(), size_t(w) * 4, nullptr); },
                [&] { plix_decode(d1, n1, &decn, PLIX_BGRA, pxn.data(), size_t(w) * 4, nullptr); });
            if (n1 != nn || std::memcmp(d1, dn, n1) != 0 || px1 != pxn)
                std::printf("  THREADS CHANGED THE RESULT");
            std::printf(" | %8.1f %8.1f %5.2f %8.1f %8.1f %5.2f", mp / e1, mp / en, e1 / en, mp / t1,
                        mp / tn, t1 / tn);
            plix_free(d1);
            plix_free(dn);
        }
        std::printf("\n");
        std::fflush(stdout);
    }
}

}  // namespace

int main(int argc, char **argv) {
    Options opt;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--reps" && i + 1 < argc)
            opt.reps = std::max(1, std::atoi(argv[++i]));
        else if (a == "--no-plain")
            opt.plain = false;
        else if (a == "--threads" && i + 1 < argc)
            opt.threads = static_cast<unsigned>(std::max(0, std::atoi(argv[++i])));
        else if (a == "--help" || a == "-h") {
            std::printf("usage: plix_bench [--reps N] [--no-plain] [--threads N] picture.bmp...\n");
            return 0;
        } else
            opt.files.push_back(a);
    }
    if (opt.files.empty()) {
        std::fprintf(stderr, "usage: plix_bench [--reps N] [--no-plain] [--threads N] picture.bmp...\n");
        return 2;
    }
    std::printf(
        "PLIX benchmark: one thread, in memory, median of at least %d runs (and of %.2f s of "
        "each)\n"
        "(the api columns: libplixcodec on 1 thread and on --threads, BGRA, x = their ratio)\n"
        "after a warm-up, PLIX and JPEG timed in alternation; YUV mode.\n"
        "JPEG: TurboJPEG %s, 4:4:4, accurate integer DCT, BGRX, at the quality closest in size.\n"
        "x = PLIX speed / JPEG speed.\n",
        opt.reps, kPairSeconds, "(libturbojpeg)");
    if (opt.threads > 1)
        std::printf("Machine: %u threads of a job that shares nothing run %.2f x as fast as one.\n",
                    opt.threads, SharedNothingSpeedup(std::max(opt.reps, 15), opt.threads));
    for (const auto &f : opt.files) RunPicture(opt, f);
    return 0;
}
