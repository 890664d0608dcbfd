// libplixcodec: every vector through the caller-buffer functions and the
// incremental decoder and encoder, against the vectors' own files and the
// classic operations on the same bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "allocation_probe.h"
#include "bitmap.h"
#include "codec_api_c_calls.h"
#include "conformance_cases.h"
#include "decode_report.h"
#include "image.h"
#include "plix/codec.h"
#include "plix/plix.h"
#include "test_util.h"

namespace {

using plix::test::ConformanceCase;
using plix::test::ConformanceCases;
using plix::test::ConformancePath;
using plix::test::ReadFileBytes;
using Bytes = std::vector<uint8_t>;

constexpr plix_format kFormats[] = {PLIX_RGB, PLIX_RGBA, PLIX_BGR, PLIX_BGRA};
constexpr uint8_t kGuard = 0xA7;

size_t PixelBytes(plix_format f) {
    return f == PLIX_RGB || f == PLIX_BGR ? 3 : 4;
}

// A caller's buffer: rows with room after them, filled with guard bytes.
struct Canvas {
    Canvas(uint32_t w, uint32_t h, plix_format f, size_t slack = 5)
        : width(w),
          height(h),
          format(f),
          stride(w * PixelBytes(f) + slack),
          bytes(stride * h + 1, kGuard) {}
    uint32_t width, height;
    plix_format format;
    size_t stride;
    Bytes bytes;

    // Pixels in the format, as the classic buffer (blue, green, red, fourth)
    // holds them, and guards everywhere else.
    static Canvas FromClassic(const uint8_t *buffer, size_t rowBytes, uint32_t w, uint32_t h,
                              plix_format f) {
        Canvas c(w, h, f);
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) {
                const uint8_t *p = buffer + y * rowBytes + x * 4;
                uint8_t *q = c.bytes.data() + y * c.stride + x * PixelBytes(f);
                const bool rgbFirst = f == PLIX_RGB || f == PLIX_RGBA;
                q[0] = rgbFirst ? p[2] : p[0];
                q[1] = p[1];
                q[2] = rgbFirst ? p[0] : p[2];
                if (PixelBytes(f) == 4) q[3] = 0xFF;
            }
        return c;
    }
};

// The classic decode of the same bytes: the expected pixels of every door.
struct Classic {
    explicit Classic(const Bytes &data) : codec(PLIX_Constructor, PLIX_Destructor) {
        ok = codec.decodeMemory(data.data(), static_cast<int32_t>(data.size()));
        if (ok) {
            codec.imageSize(width, height);
            codec.bufferSize(paddedWidth, paddedHeight);
            plix::BlockCount count;
            plix::CountWholeBlocks(data.data(), data.size(), count);
            blocks = static_cast<uint64_t>(count.total);
            whole = static_cast<uint64_t>(count.whole);
        }
    }
    Canvas As(plix_format f) const {
        return Canvas::FromClassic(codec.imageBuffer(), static_cast<size_t>(paddedWidth) * 4,
                                   static_cast<uint32_t>(width), static_cast<uint32_t>(height), f);
    }
    plix::CodecHandle codec;
    bool ok = false;
    int32_t width = 0, height = 0, paddedWidth = 0, paddedHeight = 0;
    uint64_t blocks = 0, whole = 0;
};

Bytes CaseFile(const ConformanceCase &c) {
    return ReadFileBytes(ConformancePath(c["plx"]));
}

// What the incremental decoder gives when fed pieces of chunk bytes (0: all
// at once), reading a few rows at a time.
int DecodeInPieces(const Bytes &data, size_t chunk, Canvas &out, plix_info *info,
                   uint32_t rowsAtOnce = 3) {
    plix_decoder *d = plix_decoder_new(nullptr);
    if (!d) return PLIX_ERROR_MEMORY;
    uint32_t y = 0;
    int r = PLIX_OK;
    auto drain = [&] {
        uint32_t got = 0;
        while ((r = plix_decoder_read_rows(d, out.format, out.bytes.data() + y * out.stride,
                                           out.stride, std::min(rowsAtOnce, out.height - y),
                                           &got)) >= 0 &&
               got > 0)
            y += got;
    };
    for (size_t at = 0; at < data.size() && r >= 0;) {
        const size_t n = chunk == 0 ? data.size() : std::min(chunk, data.size() - at);
        r = plix_decoder_push(d, data.data() + at, n);
        at += n;
        if (r >= 0 && y < out.height) drain();
    }
    if (r >= 0) r = plix_decoder_finish(d);
    if (r >= 0) drain();
    plix_decoder_info(d, info);
    plix_decoder_free(d);
    return r;
}

class CodecApi : public ::testing::TestWithParam<size_t> {
protected:
    const ConformanceCase &c() const { return ConformanceCases()[GetParam()]; }
};

TEST_P(CodecApi, DecodesEveryFormatToTheClassicPixelsLeavingTheRestAlone) {
    const Bytes data = CaseFile(c());
    const Classic classic(data);
    ASSERT_TRUE(classic.ok);
    // The vector's own buffer is what the classic decode must give.
    ASSERT_EQ(ReadFileBytes(ConformancePath(c()["expected_buffer"])),
              Bytes(classic.codec.imageBuffer(),
                    classic.codec.imageBuffer() +
                        static_cast<size_t>(classic.paddedWidth) * classic.paddedHeight * 4));
    for (plix_format f : kFormats) {
        Canvas got(static_cast<uint32_t>(c().Int("width")),
                   static_cast<uint32_t>(c().Int("height")), f);
        plix_info info;
        const int r =
            plix_decode(data.data(), data.size(), nullptr, f, got.bytes.data(), got.stride, &info);
        EXPECT_EQ(r, classic.whole == classic.blocks ? PLIX_OK : PLIX_TRUNCATED);
        EXPECT_EQ(got.bytes, classic.As(f).bytes) << "format " << f;
        EXPECT_EQ(info.width, static_cast<uint32_t>(c().Int("width")));
        EXPECT_EQ(info.height, static_cast<uint32_t>(c().Int("height")));
        EXPECT_EQ(info.mode, static_cast<uint32_t>(c().Int("mode") != 0));
        EXPECT_EQ(info.matrix, static_cast<uint32_t>(c().Int("matrix")));
        EXPECT_EQ(info.qfactor, static_cast<uint32_t>(c().Int("qfactor")));
        EXPECT_EQ(info.blocks, classic.blocks);
        EXPECT_EQ(info.blocks_present, classic.whole);
    }
}

TEST_P(CodecApi, IncrementalDecodeEqualsOneShotWhateverThePieces) {
    const Bytes data = CaseFile(c());
    const uint32_t w = static_cast<uint32_t>(c().Int("width"));
    const uint32_t h = static_cast<uint32_t>(c().Int("height"));
    Canvas whole(w, h, PLIX_BGR);
    plix_info wholeInfo;
    const int expected = plix_decode(data.data(), data.size(), nullptr, PLIX_BGR,
                                     whole.bytes.data(), whole.stride, &wholeInfo);
    for (size_t chunk : {size_t{1}, size_t{7}, size_t{4096}, size_t{0}}) {
        Canvas got(w, h, PLIX_BGR);
        plix_info info;
        EXPECT_EQ(DecodeInPieces(data, chunk, got, &info), expected) << chunk;
        EXPECT_EQ(got.bytes, whole.bytes) << chunk;
        EXPECT_EQ(info.blocks_present, wholeInfo.blocks_present) << chunk;
    }
}

class CodecApiEncode : public CodecApi {};

TEST_P(CodecApiEncode, EncodesTheClassicPixelsToTheClassicBytesFromEveryFormat) {
    plix::Image source;
    ASSERT_EQ(plix::ImportBitmap(source, ConformancePath(c()["input_bmp"]).c_str()),
              plix::BitmapImport::Ok);
    const Bytes expected = CaseFile(c());
    const uint32_t w = static_cast<uint32_t>(source.Width()),
                   h = static_cast<uint32_t>(source.Height());
    plix_encode_options options{};
    options.mode = static_cast<uint32_t>(c().Int("mode"));
    options.qfactor = static_cast<uint32_t>(c().Int("qfactor"));
    options.matrix = static_cast<uint32_t>(c().Int("matrix"));
    for (plix_format f : kFormats) {
        Canvas in = Canvas::FromClassic(source.Pixels(), source.RowBytes(), w, h, f);
        void *out = nullptr;
        size_t size = 0;
        ASSERT_EQ(plix_encode(in.bytes.data(), w, h, in.stride, f, &options, &out, &size), PLIX_OK);
        EXPECT_EQ(Bytes(static_cast<uint8_t *>(out), static_cast<uint8_t *>(out) + size), expected)
            << "format " << f;
        plix_free(out);
        options.threads = 2;  // the same bytes on more threads
    }
}

INSTANTIATE_TEST_SUITE_P(Vectors, CodecApi,
                         ::testing::ValuesIn(plix::test::ConformanceIndices(false)),
                         plix::test::ConformanceCaseName);
INSTANTIATE_TEST_SUITE_P(Vectors, CodecApiEncode,
                         ::testing::ValuesIn(plix::test::ConformanceIndices(true)),
                         plix::test::ConformanceCaseName);

Bytes NamedCase(const std::string &name) {
    return ReadFileBytes(ConformancePath("cases/" + name + ".plx"));
}

Bytes Header(uint8_t mode, uint8_t matrix, uint8_t q, int32_t w, int32_t h) {
    Bytes b = {'P', 'L', 'I', 'X', mode, matrix, q, 0};
    for (int32_t v : {h, w})
        for (int i = 0; i < 4; ++i)
            b.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
    return b;
}

TEST(CodecApiCuts, EveryCutDecodesAsTheClassicDecodeWithItsCount) {
    const Bytes data = NamedCase("mix_100x75_m0_q4_x0");
    for (size_t size = 16; size <= data.size(); size += size < 64 ? 1 : 37) {
        const Bytes cut(data.begin(), data.begin() + size);
        const Classic classic(cut);
        ASSERT_TRUE(classic.ok);
        Canvas got(100, 75, PLIX_RGBA);
        plix_info info;
        const int r = plix_decode(cut.data(), cut.size(), nullptr, PLIX_RGBA, got.bytes.data(),
                                  got.stride, &info);
        ASSERT_EQ(r, size == data.size() ? PLIX_OK : PLIX_TRUNCATED) << size;
        ASSERT_EQ(got.bytes, classic.As(PLIX_RGBA).bytes) << size;
        ASSERT_EQ(info.blocks_present, classic.whole) << size;
        // Counted without decoding, the same.
        plix_info scanned;
        ASSERT_EQ(plix_scan(cut.data(), cut.size(), &scanned), r) << size;
        ASSERT_EQ(scanned.blocks_present, classic.whole) << size;
        // Pushed a few bytes at a time, the same.
        Canvas pieces(100, 75, PLIX_RGBA);
        plix_info pieceInfo;
        ASSERT_EQ(DecodeInPieces(cut, size % 5 + 1, pieces, &pieceInfo, 8), r) << size;
        ASSERT_EQ(pieces.bytes, got.bytes) << size;
        ASSERT_EQ(pieceInfo.blocks_present, info.blocks_present) << size;
    }
}

TEST(CodecApiCuts, AHeaderAloneDecodesFromTheFillerAndCountsNothing) {
    const Bytes header = Header(0, 0, 0, 20, 10);
    const Classic classic(header);
    ASSERT_TRUE(classic.ok);
    Canvas got(20, 10, PLIX_RGB);
    plix_info info;
    EXPECT_EQ(plix_decode(header.data(), header.size(), nullptr, PLIX_RGB, got.bytes.data(),
                          got.stride, &info),
              PLIX_TRUNCATED);
    EXPECT_EQ(got.bytes, classic.As(PLIX_RGB).bytes);
    EXPECT_EQ(info.blocks, 3u * 3 * 2);
    EXPECT_EQ(info.blocks_present, 0u);
}

TEST(CodecApiCuts, APictureOfNoRowsAsWideAsTheHeaderAllowsDecodesAsTheClassicDecode) {
    // The classic decode accepts it with an empty image; no strip is needed.
    const Bytes header = Header(0, 2, 15, INT32_MAX, 0);
    ASSERT_TRUE(Classic(header).ok);
    uint8_t px[1] = {kGuard};
    plix_info info;
    EXPECT_EQ(plix_decode(header.data(), header.size(), nullptr, PLIX_RGB, px, SIZE_MAX / 4, &info),
              PLIX_OK);
    EXPECT_EQ(info.width, static_cast<uint32_t>(INT32_MAX));
    EXPECT_EQ(info.blocks, 0u);
    EXPECT_EQ(px[0], kGuard);
    plix_decoder *d = plix_decoder_new(nullptr);
    EXPECT_EQ(plix_decoder_push(d, header.data(), header.size()), PLIX_OK);
    EXPECT_EQ(plix_decoder_finish(d), PLIX_OK);
    uint32_t rows = 1;
    EXPECT_EQ(plix_decoder_read_rows(d, PLIX_RGB, px, SIZE_MAX / 4, 8, &rows), PLIX_OK);
    EXPECT_EQ(rows, 0u);
    plix_decoder_free(d);
    // And it encodes as the header alone, as the classic encoder writes it.
    void *out = nullptr;
    size_t size = 0;
    const plix_encode_options options{0, 15, 2, 0};
    ASSERT_EQ(plix_encode(px, INT32_MAX, 0, SIZE_MAX / 4, PLIX_RGB, &options, &out, &size),
              PLIX_OK);
    EXPECT_EQ(Bytes(static_cast<uint8_t *>(out), static_cast<uint8_t *>(out) + size), header);
    plix_free(out);
}

TEST(CodecApiInfo, ReadsTheHeaderOnly) {
    const Bytes data = NamedCase("edges_17x9_m1_q4_x1");
    plix_info info;
    info.blocks_present = 99;
    ASSERT_EQ(plix_read_info(data.data(), 16, &info), PLIX_OK);
    EXPECT_EQ(info.width, 17u);
    EXPECT_EQ(info.height, 9u);
    EXPECT_EQ(info.mode, 1u);
    EXPECT_EQ(info.qfactor, 4u);
    EXPECT_EQ(info.matrix, 1u);
    EXPECT_EQ(info.blocks, 18u);  // 3 columns, 2 rows, 3 components
    EXPECT_EQ(info.blocks_present, 0u);
    // What the classic decode accepts: any mode byte but 0 is RGB, any
    // q-factor byte as it stands.
    ASSERT_EQ(plix_read_info(Header(7, 2, 200, 1, 1).data(), 16, &info), PLIX_OK);
    EXPECT_EQ(info.mode, 1u);
    EXPECT_EQ(info.qfactor, 200u);
}

TEST(CodecApiInfo, PicturesWithoutPixelsNeedNoBuffer) {
    // Sizes the classic decode takes, with no rows or no columns to write.
    for (const Bytes &header : {Header(0, 0, 0, 0, 16777217), Header(1, 2, 3, 0x7FFFFFFF, 0)}) {
        ASSERT_TRUE(plix::CodecHandle(PLIX_Constructor, PLIX_Destructor)
                        .decodeMemory(header.data(), static_cast<int32_t>(header.size())));
        plix_info info;
        EXPECT_EQ(plix_decode(header.data(), header.size(), nullptr, PLIX_RGB, nullptr, 0, &info),
                  PLIX_OK);
        EXPECT_EQ(info.blocks, 0u);
        EXPECT_EQ(plix_scan(header.data(), header.size(), &info), PLIX_OK);
        plix_decoder *d = plix_decoder_new(nullptr);
        ASSERT_EQ(plix_decoder_push(d, header.data(), header.size()), PLIX_OK);
        ASSERT_EQ(plix_decoder_finish(d), PLIX_OK);
        uint32_t rows = 1;
        EXPECT_EQ(plix_decoder_read_rows(d, PLIX_RGB, nullptr, 0, 8, &rows), PLIX_OK);
        EXPECT_EQ(rows, 0u);
        plix_decoder_free(d);
    }
}

TEST(CodecApiRefusals, JunkShortAndUnknownHeadersAreNotPlix) {
    const Bytes good = NamedCase("pixel_1x1_m0_q0_x0");
    Bytes junk(64, 0x42);
    Bytes matrix = good;
    matrix[5] = 3;
    Bytes negative = good;
    std::memset(negative.data() + 8, 0xFF, 4);
    uint8_t px[4 * 4];
    plix_info info;
    for (const Bytes *b : {&junk, &matrix, &negative}) {
        EXPECT_EQ(plix_read_info(b->data(), b->size(), &info), PLIX_ERROR_NOT_PLIX);
        EXPECT_EQ(plix_decode(b->data(), b->size(), nullptr, PLIX_RGB, px, 12, nullptr),
                  PLIX_ERROR_NOT_PLIX);
        EXPECT_FALSE(plix::CodecHandle(PLIX_Constructor, PLIX_Destructor)
                         .decodeMemory(b->data(), static_cast<int32_t>(b->size())));
    }
    EXPECT_EQ(plix_read_info(good.data(), 15, &info), PLIX_ERROR_NOT_PLIX);
    EXPECT_EQ(plix_decode(good.data(), 15, nullptr, PLIX_RGB, px, 3, nullptr), PLIX_ERROR_NOT_PLIX);
    // Finished before the header was in.
    plix_decoder *d = plix_decoder_new(nullptr);
    EXPECT_EQ(plix_decoder_push(d, good.data(), 10), PLIX_OK);
    EXPECT_EQ(plix_decoder_info(d, &info), PLIX_NEED_DATA);
    EXPECT_EQ(plix_decoder_finish(d), PLIX_ERROR_NOT_PLIX);
    uint32_t rows = 1;
    EXPECT_EQ(plix_decoder_read_rows(d, PLIX_RGB, px, 3, 1, &rows), PLIX_ERROR_NOT_PLIX);
    EXPECT_EQ(rows, 0u);
    plix_decoder_free(d);
}

TEST(CodecApiRefusals, EveryNullOrUndersizedArgument) {
    const Bytes data = NamedCase("checker_16x16_m0_q0_x0");
    Bytes px(16 * 16 * 4);
    plix_info info;
    void *out = nullptr;
    size_t size = 0;
    EXPECT_EQ(plix_read_info(nullptr, 16, &info), PLIX_ERROR_ARGUMENT);
    EXPECT_EQ(plix_read_info(data.data(), data.size(), nullptr), PLIX_ERROR_ARGUMENT);
    EXPECT_EQ(plix_decode(nullptr, 0, nullptr, PLIX_RGB, px.data(), 48, nullptr),
              PLIX_ERROR_ARGUMENT);
    for (int bad : {4, -1, 255})
        EXPECT_EQ(CallDecodeWithFormat(data.data(), data.size(), bad, px.data(), 64),
                  PLIX_ERROR_ARGUMENT);
    EXPECT_EQ(plix_decode(data.data(), data.size(), nullptr, PLIX_RGB, nullptr, 48, nullptr),
              PLIX_ERROR_ARGUMENT);
    EXPECT_EQ(plix_decode(data.data(), data.size(), nullptr, PLIX_RGBA, px.data(), 63, nullptr),
              PLIX_ERROR_ARGUMENT);
    EXPECT_EQ(plix_encode(nullptr, 16, 16, 48, PLIX_RGB, nullptr, &out, &size),
              PLIX_ERROR_ARGUMENT);
    EXPECT_EQ(plix_encode(px.data(), 16, 16, 47, PLIX_RGB, nullptr, &out, &size),
              PLIX_ERROR_ARGUMENT);
    EXPECT_EQ(CallEncodeWithFormat(px.data(), 16, 16, 64, 4, &out, &size), PLIX_ERROR_ARGUMENT);
    EXPECT_EQ(plix_encode(px.data(), 16, 16, 48, PLIX_RGB, nullptr, nullptr, &size),
              PLIX_ERROR_ARGUMENT);
    EXPECT_EQ(plix_encode(px.data(), 16, 16, 48, PLIX_RGB, nullptr, &out, nullptr),
              PLIX_ERROR_ARGUMENT);
    EXPECT_EQ(plix_encode(px.data(), 0x80000000u, 1, SIZE_MAX, PLIX_RGB, nullptr, &out, &size),
              PLIX_ERROR_ARGUMENT);
    for (auto set : {plix_encode_options{2, 0, 0, 0}, plix_encode_options{0, 16, 0, 0},
                     plix_encode_options{0, 0, 3, 0}})
        EXPECT_EQ(plix_encode(px.data(), 16, 16, 48, PLIX_RGB, &set, &out, &size),
                  PLIX_ERROR_ARGUMENT);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(size, 0u);

    uint32_t rows = 0;
    EXPECT_EQ(plix_decoder_push(nullptr, data.data(), 1), PLIX_ERROR_ARGUMENT);
    EXPECT_EQ(plix_decoder_finish(nullptr), PLIX_ERROR_ARGUMENT);
    EXPECT_EQ(plix_decoder_info(nullptr, &info), PLIX_ERROR_ARGUMENT);
    EXPECT_EQ(plix_decoder_read_rows(nullptr, PLIX_RGB, px.data(), 48, 1, &rows),
              PLIX_ERROR_ARGUMENT);
    plix_decoder *d = plix_decoder_new(nullptr);
    ASSERT_EQ(plix_decoder_push(d, data.data(), data.size()), PLIX_OK);
    EXPECT_EQ(plix_decoder_push(d, nullptr, 1), PLIX_ERROR_ARGUMENT);
    EXPECT_EQ(plix_decoder_info(d, nullptr), PLIX_ERROR_ARGUMENT);
    EXPECT_EQ(plix_decoder_read_rows(d, PLIX_RGB, px.data(), 47, 1, &rows), PLIX_ERROR_ARGUMENT);
    EXPECT_EQ(CallReadRowsWithFormat(d, 4, px.data(), 64, &rows), PLIX_ERROR_ARGUMENT);
    EXPECT_EQ(plix_decoder_read_rows(d, PLIX_RGB, nullptr, 48, 1, &rows), PLIX_ERROR_ARGUMENT);
    EXPECT_EQ(plix_decoder_read_rows(d, PLIX_RGB, px.data(), 48, 1, nullptr), PLIX_ERROR_ARGUMENT);
    ASSERT_EQ(plix_decoder_finish(d), PLIX_OK);
    EXPECT_EQ(plix_decoder_push(d, data.data(), 1), PLIX_ERROR_ARGUMENT);  // after the end
    plix_decoder_free(d);

    auto sink = [](void *, const void *, size_t) { return 0; };
    plix_encoder *e = reinterpret_cast<plix_encoder *>(&px);
    EXPECT_EQ(plix_encoder_new(16, 16, nullptr, nullptr, nullptr, &e), PLIX_ERROR_ARGUMENT);
    EXPECT_EQ(e, nullptr);
    EXPECT_EQ(plix_encoder_new(16, 16, nullptr, sink, nullptr, nullptr), PLIX_ERROR_ARGUMENT);
    ASSERT_EQ(plix_encoder_new(16, 16, nullptr, sink, nullptr, &e), PLIX_OK);
    EXPECT_EQ(plix_encoder_write_rows(e, px.data(), 47, PLIX_RGB, 1), PLIX_ERROR_ARGUMENT);
    EXPECT_EQ(CallWriteRowsWithFormat(e, 7, px.data(), 64), PLIX_ERROR_ARGUMENT);
    EXPECT_EQ(plix_encoder_write_rows(e, px.data(), 48, PLIX_RGB, 17), PLIX_ERROR_ARGUMENT);
    EXPECT_EQ(plix_encoder_write_rows(e, nullptr, 48, PLIX_RGB, 1), PLIX_ERROR_ARGUMENT);
    EXPECT_EQ(plix_encoder_finish(e), PLIX_ERROR_ARGUMENT);  // rows missing
    EXPECT_EQ(plix_encoder_write_rows(nullptr, px.data(), 48, PLIX_RGB, 1), PLIX_ERROR_ARGUMENT);
    EXPECT_EQ(plix_encoder_finish(nullptr), PLIX_ERROR_ARGUMENT);
    plix_encoder_free(e);
    plix_encoder_free(nullptr);
    plix_decoder_free(nullptr);
}

TEST(CodecApiLimits, TheLimitComesBeforeAnyAllocationAndCanBeRaised) {
    const Bytes huge = Header(0, 0, 0, 20000, 20000);
    uint8_t px[3];
    plix_info info;
    plix_decoder *d = plix_decoder_new(nullptr);
    plix::test::WatchAllocations(true);
    const int oneShot = plix_decode(huge.data(), huge.size(), nullptr, PLIX_RGB, px, 3, &info);
    const int pushed = plix_decoder_push(d, huge.data(), huge.size());
    plix::test::WatchAllocations(false);
    EXPECT_EQ(oneShot, PLIX_ERROR_LIMIT);
    EXPECT_EQ(pushed, PLIX_ERROR_LIMIT);
    EXPECT_EQ(plix::test::AllocationsSeen(), 0u);
    EXPECT_EQ(info.width, 20000u);  // the facts are there for the message
    plix_decoder_free(d);
    // 2^28 pixels pass by default, one more does not; a caller may allow
    // more or fewer.
    const Bytes edge = Header(0, 0, 0, 16384, 16384);
    const Bytes over = Header(0, 0, 0, 16385, 16384);
    for (const auto &[bytes, limit, result] :
         {std::tuple{&edge, uint64_t{0}, PLIX_OK}, std::tuple{&over, uint64_t{0}, PLIX_ERROR_LIMIT},
          std::tuple{&over, uint64_t{1} << 30, PLIX_OK},
          std::tuple{&edge, uint64_t{16384} * 16384 - 1, PLIX_ERROR_LIMIT}}) {
        const plix_decode_options options{limit, 1};
        d = plix_decoder_new(&options);
        EXPECT_EQ(plix_decoder_push(d, bytes->data(), bytes->size()), result);
        plix_decoder_free(d);
    }
}

TEST(CodecApiLimits, PicturesBeyondTwoGigabytesDecodeRowByRow) {
    // 40000 x 30000 pixels would be 4.8 GB in the classic buffer, which
    // refuses it; the incremental decoder keeps a strip.
    const Bytes header = Header(1, 0, 0, 40000, 30000);
    EXPECT_FALSE(plix::CodecHandle(PLIX_Constructor, PLIX_Destructor)
                     .decodeMemory(header.data(), static_cast<int32_t>(header.size())));
    const plix_decode_options options{uint64_t{40000} * 30000, 0};
    plix_decoder *d = plix_decoder_new(&options);
    ASSERT_EQ(plix_decoder_push(d, header.data(), header.size()), PLIX_OK);
    ASSERT_EQ(plix_decoder_finish(d), PLIX_OK);
    Bytes rows(40000 * 3 * 16);
    uint32_t got = 0;
    EXPECT_EQ(plix_decoder_read_rows(d, PLIX_RGB, rows.data(), 40000 * 3, 16, &got),
              PLIX_TRUNCATED);
    EXPECT_EQ(got, 16u);
    // From the filler, the same as the picture's first rows decode alone.
    const Bytes small = Header(1, 0, 0, 40000, 16);
    Bytes want(rows.size());
    EXPECT_EQ(
        plix_decode(small.data(), small.size(), nullptr, PLIX_RGB, want.data(), 40000 * 3, nullptr),
        PLIX_TRUNCATED);
    EXPECT_EQ(rows, want);
    plix_decoder_free(d);
}

// Collects an encoder's output; fails on the call numbered failAt.
struct Collector {
    Bytes bytes;
    int calls = 0;
    int failAt = -1;
    static int Write(void *user, const void *data, size_t size) {
        auto *c = static_cast<Collector *>(user);
        if (c->calls++ == c->failAt) return 1;
        c->bytes.insert(c->bytes.end(), static_cast<const uint8_t *>(data),
                        static_cast<const uint8_t *>(data) + size);
        return 0;
    }
};

TEST(CodecApiEncoder, RowsInAnyNumbersGiveTheOneShotBytes) {
    std::mt19937 random(7);
    const uint32_t w = 37, h = 29;
    Bytes px(w * h * 3);
    for (uint8_t &b : px) b = static_cast<uint8_t>(random());
    for (uint32_t mode : {0u, 1u}) {
        const plix_encode_options options{mode, 3, 1, 0};
        void *whole = nullptr;
        size_t size = 0;
        ASSERT_EQ(plix_encode(px.data(), w, h, w * 3, PLIX_RGB, &options, &whole, &size), PLIX_OK);
        const Bytes expected(static_cast<uint8_t *>(whole), static_cast<uint8_t *>(whole) + size);
        plix_free(whole);
        for (uint32_t step : {1u, 5u, 8u, 29u}) {
            Collector out;
            plix_encoder *e = nullptr;
            ASSERT_EQ(plix_encoder_new(w, h, &options, Collector::Write, &out, &e), PLIX_OK);
            for (uint32_t y = 0; y < h; y += step)
                ASSERT_EQ(plix_encoder_write_rows(e, px.data() + y * w * 3, w * 3, PLIX_RGB,
                                                  std::min(step, h - y)),
                          PLIX_OK);
            ASSERT_EQ(plix_encoder_finish(e), PLIX_OK);
            EXPECT_EQ(plix_encoder_finish(e), PLIX_ERROR_ARGUMENT);
            plix_encoder_free(e);
            EXPECT_EQ(out.bytes, expected) << "mode " << mode << " step " << step;
        }
    }
}

TEST(CodecApiEncoder, LargeOutputsInMemoryGiveTheIncrementalBytes) {
    // Output from 2 MiB up starts in memory placed for huge pages; noise at
    // q-factor 0 outgrows what a photograph would take, so it grows from
    // there too. Either way: the bytes the incremental encoder hands out.
    std::mt19937 random(11);
    const uint32_t w = 1700, h = 1700;
    Bytes px(size_t{w} * h * 3);
    for (size_t i = 0; i < px.size(); ++i)
        px[i] = static_cast<uint8_t>(i / 3 % w < w / 2 ? random() : i / (w * 3) / 7);
    for (uint32_t q : {0u, 6u}) {
        const plix_encode_options options{0, q, 0, 1};
        void *whole = nullptr;
        size_t size = 0;
        ASSERT_EQ(plix_encode(px.data(), w, h, w * 3, PLIX_RGB, &options, &whole, &size), PLIX_OK);
        const Bytes got(static_cast<uint8_t *>(whole), static_cast<uint8_t *>(whole) + size);
        plix_free(whole);
        Collector out;
        plix_encoder *e = nullptr;
        ASSERT_EQ(plix_encoder_new(w, h, &options, Collector::Write, &out, &e), PLIX_OK);
        ASSERT_EQ(plix_encoder_write_rows(e, px.data(), w * 3, PLIX_RGB, h), PLIX_OK);
        ASSERT_EQ(plix_encoder_finish(e), PLIX_OK);
        plix_encoder_free(e);
        EXPECT_EQ(got, out.bytes) << "q" << q;
        if (q == 0) {
            EXPECT_GT(got.size(), size_t{w} * h * 3 / 4) << "meant to outgrow";
        }
    }
}

TEST(CodecApiEncoder, AFailingOutputStopsTheEncoder) {
    // Big enough for several 64 KiB pieces.
    const uint32_t w = 512, h = 512;
    Bytes px(w * h * 3);
    std::mt19937 random(3);
    for (uint8_t &b : px) b = static_cast<uint8_t>(random());
    for (int failAt : {0, 1, 2}) {
        Collector out;
        out.failAt = failAt;
        plix_encoder *e = nullptr;
        int r = plix_encoder_new(w, h, nullptr, Collector::Write, &out, &e);
        if (failAt == 0) {
            EXPECT_EQ(r, PLIX_ERROR_WRITE);
            EXPECT_EQ(e, nullptr);
            continue;
        }
        ASSERT_EQ(r, PLIX_OK);
        r = plix_encoder_write_rows(e, px.data(), w * 3, PLIX_RGB, h);
        if (r == PLIX_OK) r = plix_encoder_finish(e);
        EXPECT_EQ(r, PLIX_ERROR_WRITE) << failAt;
        EXPECT_EQ(plix_encoder_write_rows(e, px.data(), w * 3, PLIX_RGB, 1), PLIX_ERROR_WRITE);
        plix_encoder_free(e);
    }
}

TEST(CodecApiEncoder, RoundTripsThroughTheDecoderCloseToTheSource) {
    // A smooth picture at the finest setting comes back close to the source,
    // alpha ignored on the way in and 255 on the way out.
    const uint32_t w = 13, h = 11;
    Bytes px(w * h * 4);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t *p = px.data() + (y * w + x) * 4;
            p[0] = static_cast<uint8_t>(150 + 3 * x);
            p[1] = static_cast<uint8_t>(40 + 2 * y);
            p[2] = 90;
            p[3] = static_cast<uint8_t>(x * y);
        }
    for (uint32_t mode : {0u, 1u}) {
        const plix_encode_options options{mode, 0, 0, 0};
        void *data = nullptr;
        size_t size = 0;
        ASSERT_EQ(plix_encode(px.data(), w, h, w * 4, PLIX_BGRA, &options, &data, &size), PLIX_OK);
        Bytes back(w * h * 4);
        ASSERT_EQ(plix_decode(data, size, nullptr, PLIX_BGRA, back.data(), w * 4, nullptr),
                  PLIX_OK);
        plix_free(data);
        for (size_t i = 0; i < px.size(); i += 4) {
            for (size_t k = 0; k < 3; ++k) ASSERT_NEAR(back[i + k], px[i + k], 12) << i;
            ASSERT_EQ(back[i + 3], 255);
        }
    }
}

TEST(CodecApiMisc, ErrorStringsNameEveryResult) {
    for (int r : {PLIX_OK, PLIX_TRUNCATED, PLIX_NEED_DATA, PLIX_ERROR_ARGUMENT, PLIX_ERROR_NOT_PLIX,
                  PLIX_ERROR_LIMIT, PLIX_ERROR_MEMORY, PLIX_ERROR_WRITE, 12345}) {
        ASSERT_NE(plix_error_string(r), nullptr);
        EXPECT_GT(std::strlen(plix_error_string(r)), 3u);
    }
    EXPECT_STRNE(plix_error_string(PLIX_ERROR_LIMIT), plix_error_string(PLIX_ERROR_NOT_PLIX));
    EXPECT_EQ(plix_version(), static_cast<uint32_t>(PLIX_VERSION_NUMBER));
}

}  // namespace
