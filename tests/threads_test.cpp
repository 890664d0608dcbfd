// Several codec objects encoding and decoding on several threads at once; the
// ThreadSanitizer build runs this to prove the shared tables and the kernel
// choice race-free.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "band_encoder.h"
#include "codec.h"
#include "streams.h"

namespace plix {
namespace {

TEST(Threads, CodecsOnSeveralThreadsAgree) {
    constexpr int kThreads = 4;
    std::vector<std::string> files(kThreads);
    std::vector<std::vector<uint8_t>> decoded(kThreads);
    std::vector<std::thread> pool;
    for (int t = 0; t < kThreads; ++t) {
        pool.emplace_back([t, &files, &decoded] {
            for (int round = 0; round < 3; ++round) {
                Codec c;  // constructed on this thread, racing the others
                if (!c.Picture().Create(37, 29)) return;
                for (int y = 0; y < 29; ++y)
                    for (int x = 0; x < 37; ++x)
                        c.Picture().SetPixel(x, y, static_cast<uint32_t>(x * 7 + y * 3) * 0x010203u);
                std::string plx;
                if (!c.EncodeMemory(plx, 0, 2, 0)) return;
                Codec d;
                if (!d.DecodeMemory(plx.data(), static_cast<int32_t>(plx.size()))) return;
                files[t] = plx;
                decoded[t].assign(d.Picture().Pixels(),
                                  d.Picture().Pixels() + static_cast<size_t>(d.Picture().PaddedWidth()) *
                                                       d.Picture().PaddedHeight() * 4);
            }
        });
    }
    for (auto &th : pool) th.join();
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_FALSE(files[t].empty());
        EXPECT_EQ(files[t], files[0]);
        EXPECT_EQ(decoded[t], decoded[0]);
    }
}

}  // namespace
}  // namespace plix

// libplixcodec's threads: every thread count gives the bytes and pixels of
// one thread. The pictures of the vectors are too small for the threads to
// pay off, so here the threads take pictures of any size.
#include <algorithm>
#include <random>

#include "allocation_probe.h"
#include "api/stream_decoder.h"
#include "api/stream_encoder.h"
#include "bitmap.h"
#include "conformance_cases.h"
#include "image.h"
#include "kernel_levels.h"
#include "plix/codec.h"
#include "test_util.h"

namespace plix {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr unsigned kMostThreads = 8;
constexpr uint8_t kGuard = 0x3D;

struct Decoded {
    int result = 0;
    uint64_t present = 0;
    Bytes pixels;
    bool threaded = false;  // the strips went through the threads
    bool operator==(const Decoded &o) const {
        return result == o.result && present == o.present && pixels == o.pixels;
    }
};

size_t PixelBytes(plix_format f) {
    return f == PLIX_RGB || f == PLIX_BGR ? 3 : 4;
}

// As plix_decode, with pictures of any size on the threads when threads is
// above 1 (0 for the public function itself, on one thread); firstStrips and
// tailFrom and mostKept as DecodeInBands takes them.
Decoded Decode(const Bytes &data, unsigned threads, plix_format f = PLIX_RGBA,
               int64_t firstStrips = -1, int64_t tailFrom = -1,
               uint64_t mostKept = kMostKeptInAll, const Dsp *kernels = nullptr) {
    Decoded out;
    plix_info info{};
    if (plix_read_info(data.data(), data.size(), &info) != PLIX_OK) return out;
    const size_t stride = info.width * PixelBytes(f) + 3;
    out.pixels.assign(stride * info.height + 1, kGuard);
    if (threads == 0) {
        out.result = plix_decode(data.data(), data.size(), nullptr, f, out.pixels.data(), stride,
                                 &info);
        out.present = info.blocks_present;
        return out;
    }
    const plix_decode_options options{0, threads};
    api::StreamDecoder d(&options);
    if (kernels) d.UseKernels(*kernels);
    out.result = d.PushWhole(data.data(), data.size());
    if (out.result != PLIX_OK) return out;
    out.threaded = d.ReadAllInBands(f, out.pixels.data(), stride, threads, 0, 1, firstStrips,
                                    tailFrom, mostKept);
    uint32_t rows = 0;
    out.result = d.ReadRows(f, out.pixels.data(), stride, out.threaded ? 0 : info.height, &rows);
    d.Info(&info);
    out.present = info.blocks_present;
    return out;
}

struct Collect final : ByteSink {
    Bytes bytes;
    bool Put(const void *data, size_t n) override {
        bytes.insert(bytes.end(), static_cast<const uint8_t *>(data),
                     static_cast<const uint8_t *>(data) + n);
        return true;
    }
};

// As plix_encode (rows given step at a time; 0: all at once), any picture on
// the threads.
Bytes Encode(const Bytes &pixels, uint32_t w, uint32_t h, plix_format f,
             plix_encode_options options, uint32_t step = 0) {
    Collect sink;
    api::StreamEncoder e;
    e.SetBandMinimum(0);
    const size_t stride = w * PixelBytes(f);
    if (e.Start(w, h, &options, sink) != PLIX_OK) return {};
    if (step == 0) step = std::max(h, 1u);
    for (uint32_t y = 0; y < h; y += step)
        if (e.WriteRows(pixels.data() + y * stride, stride, f, std::min(step, h - y)) != PLIX_OK)
            return {};
    return e.Finish() == PLIX_OK ? sink.bytes : Bytes{};
}

// Rows of a picture as RGB bytes, from a classic buffer.
Bytes RgbOf(const Image &image) {
    Bytes rgb;
    for (int32_t y = 0; y < image.Height(); ++y)
        for (int32_t x = 0; x < image.Width(); ++x) {
            const uint8_t *p = image.Pixels() + y * image.RowBytes() + x * 4;
            rgb.insert(rgb.end(), {p[2], p[1], p[0]});
        }
    return rgb;
}

using test::EncodeRgb;

TEST(Threads, EveryVectorDecodesAlikeOnEveryThreadCount) {
    int eligible = 0, threaded = 0;
    for (const test::ConformanceCase &c : test::ConformanceCases()) {
        const Bytes data = test::ReadFileBytes(test::ConformancePath(c["plx"]));
        for (unsigned t = 1; t <= kMostThreads; ++t) {
            const Decoded got = Decode(data, t, t % 2 ? PLIX_RGB : PLIX_RGBA);
            const Decoded same = Decode(data, 0, t % 2 ? PLIX_RGB : PLIX_RGBA);
            ASSERT_TRUE(got == same) << c["name"] << ", " << t << " threads";
            // Pictures of two strips or more go through the threads where
            // the parts fall into step, as they nearly always do.
            EXPECT_TRUE(!got.threaded || (t > 1 && c.Int("padded_height") >= 16)) << c["name"];
            eligible += t > 1 && c.Int("padded_height") >= 16;
            threaded += got.threaded;
        }
    }
    EXPECT_GT(threaded, eligible * 9 / 10);
}

TEST(Threads, PartsOutOfRoomToKeepPositionsDecodeAlike) {
    // Parts that keep all their positions, none, a few hundred values'
    // worth, or a few thousand, then read the rest for their codes alone; on
    // every level, keeping whatever the bits.
    for (const test::ConformanceCase &c : test::ConformanceCases()) {
        const Bytes data = test::ReadFileBytes(test::ConformancePath(c["plx"]));
        const Decoded same = Decode(data, 0);
        for (const Dsp &k : test::KeepingKernelLevels())
            for (unsigned t : {2u, 3u})
                for (uint64_t most : {kMostKeptInAll, uint64_t{0}, uint64_t{400}, uint64_t{5000}})
                    ASSERT_TRUE(Decode(data, t, PLIX_RGBA, -1, -1, most, &k) == same)
                        << c["name"] << ", " << k.name << ", " << t << " threads, " << most
                        << " values kept";
    }
}

TEST(Threads, BandsOutgrowingTheirRoomJoinToTheBytesOfOneThread) {
    // Noise at the finest q-factor takes more than the byte a pixel each
    // band has room for at first, and its bands more than one chunk of the
    // writer's; the threads' memory is kept from one call to the next, so
    // the second call starts with the first one's blocks, whatever they hold.
    const uint32_t w = 256, h = 512;
    std::mt19937 random(31);
    Bytes noise(size_t{w} * h * 3);
    for (uint8_t &b : noise) b = static_cast<uint8_t>(random());
    const Bytes one = Encode(noise, w, h, PLIX_RGB, {1, 0, 0, 1});
    ASSERT_GT(one.size(), size_t{w} * h * 2) << one.size();
    for (unsigned t = 2; t <= 4; ++t)
        for (int round = 0; round < 2; ++round)
            ASSERT_EQ(Encode(noise, w, h, PLIX_RGB, {1, 0, 0, t}), one) << t << " threads";
}

TEST(Threads, EveryVectorEncodesToItsBytesOnEveryThreadCount) {
    for (const test::ConformanceCase &c : test::ConformanceCases()) {
        if (!c.IsEncode()) continue;
        Image source;
        ASSERT_EQ(ImportBitmap(source, test::ConformancePath(c["input_bmp"]).c_str()),
                  BitmapImport::Ok);
        const Bytes expected = test::ReadFileBytes(test::ConformancePath(c["plx"]));
        const Bytes rgb = RgbOf(source);
        const uint32_t w = static_cast<uint32_t>(source.Width()),
                       h = static_cast<uint32_t>(source.Height());
        for (unsigned t = 1; t <= kMostThreads; ++t) {
            const plix_encode_options options{static_cast<uint32_t>(c.Int("mode")),
                                              static_cast<uint32_t>(c.Int("qfactor")),
                                              static_cast<uint32_t>(c.Int("matrix")), t};
            ASSERT_EQ(Encode(rgb, w, h, PLIX_RGB, options), expected) << c["name"] << ", " << t;
            // Rows a few at a time wait for the threads in strips kept.
            ASSERT_EQ(Encode(rgb, w, h, PLIX_RGB, options, 3 + t), expected) << c["name"] << ", " << t;
        }
    }
}

TEST(Threads, BandsShortOfMemoryForTheirBitsGiveTheBytesOfOneThread) {
    // The bands' bit strings are the large allocations made while coding:
    // whichever of them fails, after the first band went out, the calling
    // thread codes the rest itself.
    const uint32_t w = 256, h = 300;  // 38 strips; bands of 6 and more fail
    const Bytes px = test::BusyRgb(w, h, 5);
    for (uint32_t q : {0u, 9u}) {
        const Bytes expected = Encode(px, w, h, PLIX_RGB, {0, q, 0, 1});
        ASSERT_FALSE(expected.empty());
        for (unsigned t : {2u, 3u, 5u})
            for (long after = 0; after < 3; ++after) {
                Collect sink;
                sink.bytes.reserve(expected.size() + 65536);  // nothing to grow
                api::StreamEncoder e;
                e.SetBandMinimum(0);
                const plix_encode_options options{0, q, 0, t};
                ASSERT_EQ(e.Start(w, h, &options, sink), PLIX_OK);
                test::FailLargeAllocations(6 * w * 4 * 2, after);
                const int wrote = e.WriteRows(px.data(), w * 3, PLIX_RGB, h);
                test::FailLargeAllocations(0, 0);
                ASSERT_EQ(wrote, PLIX_OK);
                ASSERT_EQ(e.Finish(), PLIX_OK);
                EXPECT_EQ(sink.bytes, expected) << "q" << q << ", " << t << " threads, " << after;
            }
    }
}

TEST(Threads, TruncationsDecodeAlikeOnEveryThreadCount) {
    for (const test::ConformanceCase &c : test::ConformanceCases()) {
        if (c.Int("padded_height") < 16) continue;
        const Bytes data = test::ReadFileBytes(test::ConformancePath(c["plx"]));
        for (size_t size = 16; size < data.size(); size += 1 + size / 3) {
            const Bytes cut(data.begin(), data.begin() + static_cast<ptrdiff_t>(size));
            const Decoded one = Decode(cut, 0);
            for (unsigned t : {2u, 7u})
                ASSERT_TRUE(Decode(cut, t) == one) << c["name"] << " cut at " << size << ", " << t;
        }
    }
}

TEST(Threads, CorruptedStreamsDecodeAlikeOnEveryThreadCount) {
    std::mt19937 random(26);
    for (const test::ConformanceCase &c : test::ConformanceCases()) {
        if (c.Int("padded_height") < 16) continue;
        const Bytes data = test::ReadFileBytes(test::ConformancePath(c["plx"]));
        for (int round = 0; round < 4; ++round) {
            Bytes bad = data;
            // Bits flipped, bytes replaced, a run of the body dropped.
            for (int i = 0; i < 1 + round * 3; ++i) {
                const size_t at = 16 + random() % (bad.size() - 16);
                if (round % 2) bad[at] = static_cast<uint8_t>(random());
                else bad[at] ^= static_cast<uint8_t>(1u << random() % 8);
            }
            if (round == 3 && bad.size() > 40)
                bad.erase(bad.begin() + 20, bad.begin() + 20 + random() % (bad.size() - 40));
            const Decoded one = Decode(bad, 0);
            for (unsigned t = 2; t <= kMostThreads; t += 3)
                ASSERT_TRUE(Decode(bad, t) == one) << c["name"] << " round " << round << ", " << t;
        }
    }
}

// Bodies of arbitrary bytes long enough that the parts' codes are read away
// from their ends, where the reading of codes alone has its own fast path:
// uniform bytes, bytes that lean on long codes and runs past the block's
// end, and long runs of one byte.
TEST(Threads, ArbitraryLongBodiesDecodeAlikeOnEveryThreadCount) {
    const uint32_t w = 320, h = 240;
    const Bytes good = EncodeRgb(test::BusyRgb(w, h, 9), w, h, {0, 0, 1, 1});
    ASSERT_GT(good.size(), 20000u);
    std::mt19937 random(41);
    int threaded = 0;
    for (int kind = 0; kind < 6; ++kind) {
        Bytes bad = good;
        for (size_t i = 64; i < bad.size(); ++i) {
            const auto b = static_cast<uint8_t>(random());
            bad[i] = kind % 3 == 0 ? b : kind % 3 == 1 ? static_cast<uint8_t>(b | 0xE0)
                                                       : static_cast<uint8_t>(i / 997 % 2 ? 0xFF : b & 0x0F);
        }
        if (kind >= 3) bad.resize(bad.size() * (kind - 1) / 5);  // and cut short
        const Decoded one = Decode(bad, 0);
        for (unsigned t : {2u, 3u, 5u}) {
            const Decoded more = Decode(bad, t);
            ASSERT_TRUE(more == one) << "kind " << kind << ", " << t << " threads";
            threaded += more.threaded;
        }
    }
    EXPECT_GE(threaded, 9);  // the threads did the work, not the fallback
}

// Thread 0 decodes in full from the start until the other threads have read
// their parts, wherever that leaves it: at the first strip, within part 0,
// past it into the next parts, at the last strip or past it. The tail it
// then decodes straight on starts wherever the parts leave it, or anywhere
// from there. Each gives one thread's pixels and outcome, whole, cut short
// within a part and corrupted, with parts of less than a strip among them.
TEST(Threads, WhereverTheFirstThreadStopsAndTheTailStartsTheStripsDecodeAlike) {
    const uint32_t w = 200, h = 96;  // 12 strips
    const Bytes px = test::BusyRgb(w, h, 5);
    int threaded = 0;
    for (uint32_t q : {0u, 9u}) {
        const Bytes good = EncodeRgb(px, w, h, {0, q, 0, 1});
        ASSERT_FALSE(good.empty());
        const size_t size = good.size();
        Bytes bad = good;
        for (size_t i = 0; i < 3; ++i) bad[16 + (i * 7919 + q * 31) % (bad.size() - 16)] ^= 0x24;
        const Bytes cuts[] = {good, Bytes(good.begin(), good.begin() + static_cast<ptrdiff_t>(size / 2)),
                              Bytes(good.begin(), good.begin() + static_cast<ptrdiff_t>(size - 5)), bad};
        for (const Bytes &data : cuts) {
            const Decoded one = Decode(data, 0);
            for (unsigned t : {2u, 3u, 8u})
                for (int64_t stop = -1; stop <= 14; ++stop)
                    for (int64_t tail : {int64_t{-1}, stop + 1, stop + 4}) {
                        const Decoded more = Decode(data, t, PLIX_RGBA, stop, tail);
                        ASSERT_TRUE(more == one) << "q" << q << ", " << data.size() << " bytes, " << t
                                                 << " threads, stopped after " << stop
                                                 << ", tail from " << tail;
                        threaded += more.threaded;
                    }
        }
    }
    EXPECT_GT(threaded, 2 * 4 * 3 * 16 * 3 * 9 / 10);
}

// The incremental decoder: bytes pushed piece by piece, rows read at most
// rowsAtOnce at a time as they come (fewer than a window of strips: they go
// through the decoder's window; more: straight into the rows), then the
// input finished and the rest read.
struct Streamed {
    int result = PLIX_NEED_DATA;
    uint64_t present = 0;
    Bytes rgb;
    bool early = false;  // the data's end reported before a row of its strip
    uint64_t ahead = 0;  // strips decoded ahead on the threads
    bool operator==(const Streamed &o) const {
        return result == o.result && present == o.present && rgb == o.rgb && early == o.early;
    }
};

Streamed DecodeStreamed(const Bytes &data, unsigned threads, size_t piece, int64_t aheadPixels,
                        uint32_t rowsAtOnce = 5) {
    Streamed out;
    const plix_decode_options options{0, threads};
    api::StreamDecoder d(&options);
    d.SetAheadMinimum(aheadPixels, 1);
    uint32_t y = 0;
    bool cut = false;
    const auto read = [&] {
        plix_info info{};
        if (d.Info(&info) != PLIX_OK || info.width == 0 || info.height == 0) return;
        const size_t rowBytes = size_t{info.width} * 3;
        out.rgb.resize(rowBytes * info.height, kGuard);
        for (;;) {
            uint32_t got = 0;
            out.result = d.ReadRows(PLIX_RGB, out.rgb.data() + y * rowBytes, rowBytes,
                                    std::min(rowsAtOnce, info.height - y), &got);
            y += got;
            if (out.result == PLIX_TRUNCATED && !cut) {
                cut = true;
                d.Info(&info);
                const uint64_t perStrip = 3 * uint64_t{(info.width + 7) / 8};
                out.early = y <= info.blocks_present / perStrip * 8;
            }
            if (out.result < 0 || got == 0) return;
        }
    };
    for (size_t at = 0; at < data.size(); at += piece) {
        if (d.Push(data.data() + at, std::min(piece, data.size() - at)) != PLIX_OK) break;
        read();
    }
    d.Finish();
    read();
    plix_info info{};
    d.Info(&info);
    out.present = info.blocks_present;
    out.ahead = d.StripsDecodedAhead();
    return out;
}

// Strips decoded ahead on the threads, windows of two strips: every vector of
// three strips or more, whole, cut short and corrupted, in small pieces and
// at once, gives one thread's rows and outcome.
TEST(Threads, IncrementalDecoderOnThreadsHandsOutTheRowsOfOneThread) {
    uint64_t ahead = 0;
    for (const test::ConformanceCase &c : test::ConformanceCases()) {
        if (c.Int("padded_height") < 24) continue;
        const Bytes data = test::ReadFileBytes(test::ConformancePath(c["plx"]));
        Bytes bad = data;
        for (size_t i = 0; i < 3; ++i) bad[16 + (i * 7919 + data.size()) % (bad.size() - 16)] ^= 0x41;
        const Bytes cut(data.begin(), data.begin() + static_cast<ptrdiff_t>(16 + (data.size() - 16) * 2 / 3));
        for (const Bytes *v : {&data, &cut, static_cast<const Bytes *>(&bad)}) {
            const Streamed one = DecodeStreamed(*v, 1, 4096, 0);
            EXPECT_FALSE(one.early) << c["name"];
            for (unsigned t : {2u, 5u})
                for (size_t piece : {size_t{700}, v->size()})
                    for (uint32_t rows : {5u, 40u}) {
                        const Streamed more = DecodeStreamed(*v, t, piece, 0, rows);
                        ASSERT_TRUE(more == one) << c["name"] << ", " << v->size() << " bytes, " << t
                                                 << " threads, pieces of " << piece << ", " << rows
                                                 << " rows at once";
                        ahead += more.ahead;
                    }
        }
    }
    EXPECT_GT(ahead, 1000u);
}

// A larger picture in windows of six strips, cut at many lengths.
TEST(Threads, IncrementalDecoderOnThreadsCutAnywhere) {
    const uint32_t w = 320, h = 240;
    const Bytes good = EncodeRgb(test::BusyRgb(w, h, 12), w, h, {0, 0, 0, 1});
    ASSERT_FALSE(good.empty());
    uint64_t ahead = 0;
    for (size_t keep = 16; keep <= good.size(); keep += 1 + keep / 2) {
        const Bytes cut(good.begin(), good.begin() + static_cast<ptrdiff_t>(keep));
        const Streamed one = DecodeStreamed(cut, 1, 65536, 0);
        EXPECT_FALSE(one.early) << keep;
        for (unsigned t : {2u, 3u}) {
            const Streamed more =
                DecodeStreamed(cut, t, keep % 2 ? 1000 : 65536, w * 8 * 6, keep % 3 ? 5 : 64);
            ASSERT_TRUE(more == one) << keep << " bytes, " << t << " threads";
            ahead += more.ahead;
        }
    }
    EXPECT_GT(ahead, 100u);
}

TEST(Threads, LargerPicturesThroughThePublicFunctions) {
    // Past the size from which the threads pay off, through plix_encode and
    // plix_decode themselves; cut at many lengths, and the incremental
    // doors with threads asked for.
    // Just past the megapixel from which decoding takes threads.
    const uint32_t w = 1031, h = 1019;
    const Bytes px = test::BusyRgb(w, h, 3);
    for (uint32_t q : {0u, 9u}) {
        Bytes expected;
        for (unsigned t = 1; t <= kMostThreads; t += t < 3 ? 1 : 5) {
            const plix_encode_options options{0, q, 1, t};
            void *out = nullptr;
            size_t size = 0;
            ASSERT_EQ(plix_encode(px.data(), w, h, w * 3, PLIX_RGB, &options, &out, &size), PLIX_OK);
            const Bytes bytes(static_cast<uint8_t *>(out), static_cast<uint8_t *>(out) + size);
            plix_free(out);
            if (t == 1) expected = bytes;
            ASSERT_EQ(bytes, expected) << "q" << q << ", " << t << " threads";
        }
        for (size_t size = 16; size <= expected.size(); size += 1 + size * 3 / 4) {
            const Bytes cut(expected.begin(), expected.begin() + static_cast<ptrdiff_t>(size));
            Bytes one(w * 4 * h, 0), more(w * 4 * h, 1);
            plix_info a{}, b{};
            const plix_decode_options options{0, 4};
            const int ra = plix_decode(cut.data(), cut.size(), nullptr, PLIX_BGRA, one.data(), w * 4, &a);
            const int rb = plix_decode(cut.data(), cut.size(), &options, PLIX_BGRA, more.data(), w * 4, &b);
            ASSERT_EQ(ra, rb) << size;
            ASSERT_EQ(a.blocks_present, b.blocks_present) << size;
            ASSERT_EQ(one, more) << size;
        }
        // The incremental decoder with threads asked for: plix_decode's rows.
        Bytes whole(w * 3 * h), pieces(w * 3 * h);
        ASSERT_EQ(plix_decode(expected.data(), expected.size(), nullptr, PLIX_RGB, whole.data(), w * 3, nullptr), PLIX_OK);
        const plix_decode_options options{0, 3};
        plix_decoder *d = plix_decoder_new(&options);
        ASSERT_NE(d, nullptr);
        uint32_t y = 0, got = 0;
        for (size_t at = 0; at < expected.size(); at += 4096) {
            ASSERT_EQ(plix_decoder_push(d, expected.data() + at, std::min<size_t>(4096, expected.size() - at)), PLIX_OK);
            while (plix_decoder_read_rows(d, PLIX_RGB, pieces.data() + y * w * 3, w * 3, h - y, &got) >= 0 && got) y += got;
        }
        ASSERT_EQ(plix_decoder_finish(d), PLIX_OK);
        while (plix_decoder_read_rows(d, PLIX_RGB, pieces.data() + y * w * 3, w * 3, h - y, &got) >= 0 && got) y += got;
        plix_decoder_free(d);
        EXPECT_EQ(y, h);
        EXPECT_EQ(pieces, whole);
        // And the incremental encoder: rows in any numbers, the same bytes.
        for (uint32_t step : {1u, 8u, 77u}) {
            struct Out {
                Bytes bytes;
                static int Write(void *user, const void *data, size_t n) {
                    auto *o = static_cast<Out *>(user);
                    o->bytes.insert(o->bytes.end(), static_cast<const uint8_t *>(data), static_cast<const uint8_t *>(data) + n);
                    return 0;
                }
            } out;
            const plix_encode_options eo{0, q, 1, 2};
            plix_encoder *e = nullptr;
            ASSERT_EQ(plix_encoder_new(w, h, &eo, Out::Write, &out, &e), PLIX_OK);
            for (uint32_t row = 0; row < h; row += step)
                ASSERT_EQ(plix_encoder_write_rows(e, px.data() + row * w * 3, w * 3, PLIX_RGB, std::min(step, h - row)), PLIX_OK);
            ASSERT_EQ(plix_encoder_finish(e), PLIX_OK);
            plix_encoder_free(e);
            EXPECT_EQ(out.bytes, expected) << "q" << q << " step " << step;
        }
    }
}

TEST(Threads, JoiningBitStringsAtEveryOffset) {
    // Bit strings of every length written after every number of pending
    // bits read back as the same bits, across the writer's chunks.
    std::mt19937 random(5);
    Bytes source(70000);
    for (uint8_t &b : source) b = static_cast<uint8_t>(random());
    for (int pending = 0; pending < 8; ++pending)
        for (uint64_t bits : {uint64_t{0}, uint64_t{1}, uint64_t{63}, uint64_t{64}, uint64_t{65},
                              uint64_t{513}, uint64_t{source.size() * 8 - 3}}) {
            std::string joined, plain;
            StreamWriter a, b;
            a.OpenMemory(&joined);
            b.OpenMemory(&plain);
            for (StreamWriter *w : {&a, &b})
                if (pending) w->WriteBits(0x5A, pending);
            a.WriteBitString(source.data(), bits);
            for (uint64_t i = 0; i < bits; ++i) b.WriteBits(source[i / 8] >> (7 - i % 8) & 1, 1);
            EXPECT_EQ(a.BitsWritten(), b.BitsWritten());
            a.Flush();
            b.Flush();
            a.Close();
            b.Close();
            ASSERT_EQ(joined, plain) << pending << " pending, " << bits << " bits";
        }
}

// A sink that lends its memory, as plix_encode's does.
struct Lending final : ByteSink {
    Bytes bytes;
    size_t size = 0;
    bool Put(const void *data, size_t n) override {
        bytes.resize(size);
        bytes.insert(bytes.end(), static_cast<const uint8_t *>(data),
                     static_cast<const uint8_t *>(data) + n);
        size += n;
        return true;
    }
    uint8_t *Room(size_t n) override {
        bytes.resize(size + n);
        return bytes.data() + size;
    }
    void Took(size_t n) override { size += n; }
};

TEST(Threads, JoiningManyBitStrings) {
    // Strings of every awkward length (none, shorter than a byte, a word
    // and a bit), after every number of pending bits, joined as the bands
    // come in, into the sink's own memory: the bits written one by one.
    std::mt19937 random(9);
    const std::vector<uint64_t> lengths = {0, 1, 3, 7, 8, 9, 13, 63, 64, 65, 500, 4099, 0, 2, 70001};
    std::vector<Bytes> strings;
    for (uint64_t bits : lengths) {
        Bytes b((bits + 7) / 8);
        for (uint8_t &v : b) v = static_cast<uint8_t>(random());
        strings.push_back(b);
    }
    for (int pending = 0; pending < 8; ++pending)
        for (size_t first = 0; first < lengths.size(); first += 3) {
                std::vector<const uint8_t *> data;
                std::vector<uint64_t> bits;
                for (size_t k = first; k < lengths.size(); ++k) {
                    data.push_back(strings[k].data());
                    bits.push_back(lengths[k]);
                }
                Lending lent;
                std::string plain;
                StreamWriter a, b;
                a.OpenSink(&lent);
                b.OpenMemory(&plain);
                for (StreamWriter *w : {&a, &b}) {
                    w->WriteBits(0x3C5, 10);  // a whole byte and 2 bits more
                    if (pending) w->WriteBits(0x5A, pending);
                }
                for (size_t k = 0; k < data.size(); ++k) a.WriteBitString(data[k], bits[k]);
                for (size_t k = 0; k < data.size(); ++k)
                    for (uint64_t i = 0; i < bits[k]; ++i)
                        b.WriteBits(data[k][i / 8] >> (7 - i % 8) & 1, 1);
                EXPECT_EQ(a.BitsWritten(), b.BitsWritten());
                a.WriteBits(0x2B, 6);  // and the writer goes on from there
                b.WriteBits(0x2B, 6);
                a.Flush();
                b.Flush();
                a.Close();
                b.Close();
                lent.bytes.resize(lent.size);
                ASSERT_EQ(lent.bytes, Bytes(plain.begin(), plain.end()))
                    << pending << " pending, from " << first;
            }
}

}  // namespace
}  // namespace plix

namespace plix {
namespace {

TEST(Threads, BandsCoverTheStripsLargestFirstAndEndSmall) {
    for (unsigned threads : {1u, 2u, 3u, 4u, 8u, 64u, 100u}) {
        const int64_t t = std::min<int64_t>(threads, 64);
        for (int64_t count = 1; count < 700; count += count < 40 ? 1 : 7) {
            const std::vector<int64_t> starts = PlanBands(count, threads);
            SCOPED_TRACE(testing::Message() << count << " strips, " << threads << " threads");
            ASSERT_GE(starts.size(), 2u);
            EXPECT_EQ(starts.front(), 0);
            EXPECT_EQ(starts.back(), count);
            for (size_t b = 1; b < starts.size(); ++b) {
                const int64_t size = starts[b] - starts[b - 1];
                EXPECT_GE(size, 1);
                if (b >= 2) {
                    EXPECT_LE(size, starts[b - 1] - starts[b - 2]);
                }
            }
            // No band holds more than half a thread's share, so all threads
            // start at once; the last is at most a 32nd of one.
            const int64_t least = std::max<int64_t>(1, count / (32 * t));
            EXPECT_LE(starts[1], std::max(least, (count + 2 * t - 1) / (2 * t)));
            EXPECT_LE(count - starts[starts.size() - 2], least);
        }
    }
}

}  // namespace
}  // namespace plix

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <stdexcept>

#include "threads.h"

namespace plix {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// Items taken in turn by job(0) and whichever helpers come.
struct SharedItems {
    static constexpr size_t kItems = 120;
    std::atomic<size_t> next{0};
    std::atomic<int> taken[kItems] = {};
    std::atomic<int> begun{0}, ended{0}, helperItems{0};

    void Work(unsigned worker) {
        begun.fetch_add(1);
        for (size_t i; (i = next.fetch_add(1)) < kItems;) {
            taken[i].fetch_add(1);
            if (worker > 0) helperItems.fetch_add(1);
            std::this_thread::sleep_for(std::chrono::microseconds(20));
        }
        ended.fetch_add(1);
    }
};

TEST(Threads, TeamsShareTheirWorkWhateverHelpersTheyGet) {
    for (unsigned team : {1u, 2u, 3u, 8u, 64u, 100u}) {
        const unsigned members = std::min(team, kMaxThreads);
        bool helped = false;
        for (int round = 0; round < 12; ++round) {
            SharedItems s;
            std::vector<std::atomic<int>> ran(members);
            RunTogether(team, [&](unsigned worker) {
                ASSERT_LT(worker, members);
                ran[worker].fetch_add(1);
                s.Work(worker);
            });
            SCOPED_TRACE(testing::Message() << "team " << team << ", round " << round);
            // Back only when every job begun is done; each item once.
            EXPECT_EQ(s.begun.load(), s.ended.load());
            EXPECT_EQ(ran[0].load(), 1);
            for (unsigned w = 1; w < members; ++w) EXPECT_LE(ran[w].load(), 1);
            for (const auto &t : s.taken) EXPECT_EQ(t.load(), 1);
            helped = helped || s.helperItems.load() > 0;
        }
#if !defined(__EMSCRIPTEN__)
        if (team > 1) {
            EXPECT_TRUE(helped) << "no helper took an item in 12 rounds, team " << team;
        }
#endif
    }
}

TEST(Threads, TeamsWaitForTheirHelpersWhenTheFirstJobThrows) {
    for (int round = 0; round < 8; ++round) {
        std::atomic<int> begun{0}, ended{0};
        EXPECT_THROW(RunTogether(3,
                                 [&](unsigned worker) {
                                     if (worker == 0) {
                                         const auto until = steady_clock::now() + milliseconds(200);
                                         while (begun.load() == 0 && steady_clock::now() < until)
                                             std::this_thread::yield();
                                         throw std::runtime_error("first job");
                                     }
                                     begun.fetch_add(1);
                                     std::this_thread::sleep_for(milliseconds(3));
                                     ended.fetch_add(1);
                                 }),
                     std::runtime_error);
        EXPECT_EQ(begun.load(), ended.load());
    }
}

#if !defined(_WIN32) && !defined(__EMSCRIPTEN__)
thread_local int jobsOnThisThread = 0;

TEST(Threads, HelpersAreKeptFromOneCallToTheNext) {
    // A thread started for each call would count one job at most.
    int most = 0;
    for (int call = 0; call < 30 && most < 2; ++call) {
        SharedItems s;
        std::atomic<int> seen{0};
        RunTogether(2, [&](unsigned worker) {
            if (worker > 0) seen.store(++jobsOnThisThread);
            s.Work(worker);
        });
        most = std::max(most, seen.load());
    }
    EXPECT_GE(most, 2);
}
#endif

}  // namespace
}  // namespace plix

#if !defined(_WIN32) && !defined(__EMSCRIPTEN__)
namespace plix {
namespace {

// Outside the Threads suite, which the ThreadSanitizer build runs: a fork
// from a process with threads is beyond what it follows.
TEST(KeptThreads, ChildProcessAfterAForkGetsHelpersOfItsOwn) {
    SharedItems before;
    RunTogether(2, [&](unsigned worker) { before.Work(worker); });
    GTEST_FLAG_SET(death_test_style, "fast");
    // In the child the parent's kept thread does not exist: a helper must
    // still come, and the child must end.
    EXPECT_EXIT(
        {
            std::atomic<bool> helper{false};
            bool waited = false;
            RunTogether(2, [&](unsigned worker) {
                if (worker > 0) {
                    helper.store(true);
                    return;
                }
                const auto until = steady_clock::now() + std::chrono::seconds(5);
                while (!helper.load() && steady_clock::now() < until) std::this_thread::yield();
                waited = true;
            });
            std::exit(waited && helper.load() ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace plix
#endif
