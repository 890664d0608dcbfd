// Every kind of bad input with the result it gets: through the codec's
// operations, and through the converter run as a process. Whatever fails,
// nothing that existed before is removed or truncated: not the input, not an
// earlier output, not the image the codec held.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "codec.h"
#include "plix/plix.h"
#include "test_util.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using plix::test::BinPath;
using plix::test::DataPath;
using plix::test::kDecodeError;
using plix::test::kEncodeError;
using plix::test::ReadFileBytes;
using plix::test::RunProgram;
using plix::test::RunResult;
using plix::test::TempDir;
using plix::test::WriteFileBytes;

const std::string kConformanceFile = "conformance/cases/mix_100x75_m0_q0_x0.plx";

struct CodecDeleter {
    void operator()(PlixCodec *c) const { PLIX_Destructor(c); }
};
using CodecPtr = std::unique_ptr<PlixCodec, CodecDeleter>;

CodecPtr NewCodec() {
    return CodecPtr(PLIX_Constructor());
}

void Put16(Bytes &v, size_t at, uint32_t x) {
    v[at] = static_cast<uint8_t>(x);
    v[at + 1] = static_cast<uint8_t>(x >> 8);
}

void Put32(Bytes &v, size_t at, uint32_t x) {
    for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
}

// A PLIX header (and body) with the given fields.
Bytes Plix(int32_t width, int32_t height, uint8_t mode = 0, uint8_t matrix = 0, uint8_t q = 0,
           uint8_t extra = 0, const Bytes &body = {}) {
    Bytes b(16 + body.size(), 0);
    const uint8_t head[8] = {'P', 'L', 'I', 'X', mode, matrix, q, extra};
    std::copy(head, head + 8, b.begin());
    Put32(b, 8, static_cast<uint32_t>(height));
    Put32(b, 12, static_cast<uint32_t>(width));
    std::copy(body.begin(), body.end(), b.begin() + 16);
    return b;
}

Bytes RandomBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto &x : b) x = static_cast<uint8_t>(rng());
    return b;
}

// A BMP file: 14-byte file header, information header of infoSize bytes,
// then pixelBytes bytes of pixel data (or the whole rows when -1).
struct Bmp {
    uint32_t infoSize = 40;
    int32_t width = 4;
    int32_t height = 3;
    uint32_t bpp = 24;
    uint32_t compression = 0;
    int64_t offset = -1;      // -1: right after the headers
    int64_t pixelBytes = -1;  // -1: all rows
    const char *type = "BM";

    Bytes Make() const {
        const uint64_t rowBytes =
            (static_cast<uint64_t>(width > 0 ? width : 0) * bpp / 8 + 3) & ~3ull;
        const uint64_t rows = static_cast<uint64_t>(height < 0 ? -int64_t{height} : height);
        const size_t headers = 14 + infoSize;
        const size_t data = pixelBytes >= 0 ? static_cast<size_t>(pixelBytes) : rowBytes * rows;
        Bytes b(headers + data);
        for (size_t i = headers; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 7);
        b[0] = static_cast<uint8_t>(type[0]);
        b[1] = static_cast<uint8_t>(type[1]);
        Put32(b, 2, static_cast<uint32_t>(b.size()));
        Put32(b, 10, static_cast<uint32_t>(offset >= 0 ? offset : int64_t(headers)));
        if (infoSize >= 4) Put32(b, 14, infoSize);
        if (infoSize >= 16) {
            Put32(b, 18, static_cast<uint32_t>(width));
            Put32(b, 22, static_cast<uint32_t>(height));
            Put16(b, 26, 1);
            Put16(b, 28, bpp);
        }
        if (infoSize >= 20) Put32(b, 30, compression);
        return b;
    }
};

// A small true-colour picture the converter accepts, with busy content so that
// its PLIX file is several kilobytes long.
Bytes GoodBmp() {
    Bmp spec;
    spec.width = 64;
    spec.height = 48;
    Bytes b = spec.Make();
    const Bytes noise = RandomBytes(b.size() - 54, 7);
    std::copy(noise.begin(), noise.end(), b.begin() + 54);
    return b;
}

// ---- PLIX input through the codec's operations -------------------------------

struct Snapshot {
    int32_t width = 0, height = 0, paddedWidth = 0, paddedHeight = 0;
    Bytes pixels;
};

Snapshot Take(PlixCodec *c) {
    Snapshot s;
    c->ops->GetImageSize(c, &s.width, &s.height);
    c->ops->GetBufferSize(c, &s.paddedWidth, &s.paddedHeight);
    if (const uint8_t *p = c->ops->GetImageBuffer(c))
        s.pixels.assign(p, p + static_cast<size_t>(s.paddedWidth) * s.paddedHeight * 4);
    return s;
}

bool Same(const Snapshot &a, const Snapshot &b) {
    return a.width == b.width && a.height == b.height && a.paddedWidth == b.paddedWidth &&
           a.paddedHeight == b.paddedHeight && a.pixels == b.pixels;
}

// Decodes bytes from memory and from a file with two fresh codecs; both must
// give the same result and the same image. Returns the memory decode's codec.
CodecPtr DecodeBothWays(const Bytes &bytes, int32_t expected, const TempDir &dir) {
    CodecPtr mem = NewCodec();
    EXPECT_EQ(mem->ops->DecodeMemory(mem.get(), bytes.data(), static_cast<int32_t>(bytes.size())),
              expected);
    const std::string path = dir.File("input.plx");
    WriteFileBytes(path, bytes);
    CodecPtr file = NewCodec();
    EXPECT_EQ(file->ops->DecodeFile(file.get(), path.c_str()), expected);
    EXPECT_TRUE(Same(Take(mem.get()), Take(file.get())));
    EXPECT_EQ(ReadFileBytes(path), bytes);  // the input is only read
    return mem;
}

// Decoding a refused file leaves an image the codec held as it was.
void ExpectRefusedKeepingImage(const Bytes &bytes, const TempDir &dir) {
    const Bytes good = ReadFileBytes(DataPath(kConformanceFile));
    const std::string path = dir.File("refused.plx");
    WriteFileBytes(path, bytes);
    for (bool fromFile : {false, true}) {
        CodecPtr c = NewCodec();
        ASSERT_EQ(c->ops->DecodeMemory(c.get(), good.data(), static_cast<int32_t>(good.size())), 1);
        const Snapshot before = Take(c.get());
        const int32_t r = fromFile ? c->ops->DecodeFile(c.get(), path.c_str())
                                   : c->ops->DecodeMemory(c.get(), bytes.data(),
                                                          static_cast<int32_t>(bytes.size()));
        EXPECT_EQ(r, 0) << (fromFile ? "file" : "memory");
        EXPECT_TRUE(Same(before, Take(c.get()))) << (fromFile ? "file" : "memory");
    }
}

// Refused because the image cannot be created: no image afterwards.
void ExpectRefusedWithoutImage(const Bytes &bytes, const TempDir &dir) {
    CodecPtr c = DecodeBothWays(bytes, 0, dir);
    EXPECT_EQ(c->ops->GetImageBuffer(c.get()), nullptr);
    EXPECT_EQ(c->ops->GetPixel(c.get(), 0, 0), 0u);
}

TEST(BadPlixInput, EmptyShortAndWrongMagicFailAndKeepTheImage) {
    TempDir dir;
    ExpectRefusedKeepingImage({}, dir);
    const Bytes header = Plix(8, 8);
    ExpectRefusedKeepingImage(Bytes(header.begin(), header.begin() + 15), dir);
    Bytes wrong = Plix(8, 8, 0, 0, 0, 0, RandomBytes(100, 1));
    wrong[3] = 'Y';
    ExpectRefusedKeepingImage(wrong, dir);
    ExpectRefusedKeepingImage(Bytes{'B', 'M', 0, 0}, dir);
}

TEST(BadPlixInput, MatrixByteAboveTwoFailsAndKeepsTheImage) {
    TempDir dir;
    for (uint8_t matrix : {3, 4, 255}) ExpectRefusedKeepingImage(Plix(8, 8, 0, matrix), dir);
}

TEST(BadPlixInput, NegativeAndHugeSizesFailWithoutImage) {
    TempDir dir;
    ExpectRefusedWithoutImage(Plix(-1, 8), dir);
    ExpectRefusedWithoutImage(Plix(8, -1), dir);
    ExpectRefusedWithoutImage(Plix(INT32_MIN, INT32_MIN), dir);
    ExpectRefusedWithoutImage(Plix(INT32_MAX, INT32_MAX), dir);
    ExpectRefusedWithoutImage(Plix(INT32_MAX, 1), dir);
    // 8192 x 65536 padded pixels of 4 bytes is 2^31 bytes: one past the limit.
    ExpectRefusedWithoutImage(Plix(8192, 65529), dir);
}

TEST(BadPlixInput, ZeroSizesGiveAnEmptyImage) {
    TempDir dir;
    // One side zero: no block to decode however long the other side is.
    for (auto [w, h] :
         {std::pair{0, 0}, std::pair{0, 8}, std::pair{5, 0}, std::pair{0, INT32_MAX}}) {
        CodecPtr c = DecodeBothWays(Plix(w, h, 0, 0, 0, 0, RandomBytes(64, 2)), 1, dir);
        int32_t width = -1, height = -1;
        c->ops->GetImageSize(c.get(), &width, &height);
        EXPECT_EQ(width, w);
        EXPECT_EQ(height, h);
        EXPECT_EQ(c->ops->GetPixel(c.get(), 0, 0), 0u);
    }
}

TEST(BadPlixInput, ExtraLengthPastTheEndDecodesTheSameEveryTime) {
    TempDir dir;
    for (uint8_t extra : {1, 40, 255}) {
        const Bytes bytes = Plix(20, 12, 0, 1, 3, extra, RandomBytes(20, extra));
        CodecPtr a = DecodeBothWays(bytes, 1, dir);
        CodecPtr b = DecodeBothWays(bytes, 1, dir);
        EXPECT_TRUE(Same(Take(a.get()), Take(b.get())));
    }
}

TEST(BadPlixInput, TruncatedBodiesDecodeTheSameEveryTime) {
    TempDir dir;
    const Bytes whole = ReadFileBytes(DataPath(kConformanceFile));
    CodecPtr full = DecodeBothWays(whole, 1, dir);
    for (size_t keep : {size_t{16}, size_t{17}, size_t{100}, whole.size() / 2, whole.size() - 1}) {
        const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(keep));
        CodecPtr a = DecodeBothWays(cut, 1, dir);
        CodecPtr b = DecodeBothWays(cut, 1, dir);
        EXPECT_TRUE(Same(Take(a.get()), Take(b.get()))) << keep;
        int32_t w = 0, h = 0;
        a->ops->GetImageSize(a.get(), &w, &h);
        EXPECT_EQ(w, 100);
        EXPECT_EQ(h, 75);
    }
}

TEST(BadPlixInput, RandomBodiesDecodeTheSameEveryTime) {
    TempDir dir;
    for (uint32_t seed = 1; seed <= 12; ++seed) {
        const uint8_t mode = static_cast<uint8_t>(seed % 3);  // 2 counts as RGB
        const Bytes bytes =
            Plix(static_cast<int32_t>(seed * 5), static_cast<int32_t>(seed * 3), mode,
                 static_cast<uint8_t>(seed % 3), static_cast<uint8_t>(seed * 21),
                 static_cast<uint8_t>(seed % 2), RandomBytes(seed * 97, seed));
        CodecPtr a = DecodeBothWays(bytes, 1, dir);
        CodecPtr b = DecodeBothWays(bytes, 1, dir);
        EXPECT_TRUE(Same(Take(a.get()), Take(b.get()))) << seed;
    }
}

TEST(BadPlixInput, NullDataAndNegativeSizeFail) {
    CodecPtr c = NewCodec();
    const Bytes bytes = Plix(8, 8);
    EXPECT_EQ(c->ops->DecodeMemory(c.get(), nullptr, 16), 0);
    EXPECT_EQ(c->ops->DecodeMemory(c.get(), bytes.data(), -1), 0);
    EXPECT_EQ(c->ops->DecodeMemory(c.get(), bytes.data(), INT32_MIN), 0);
    EXPECT_EQ(c->ops->DecodeFile(c.get(), nullptr), 0);
    EXPECT_EQ(c->ops->GetImageBuffer(c.get()), nullptr);
}

// ---- BMP input through the codec's operations ---------------------------------

struct RefusedBmp {
    const char *name;
    Bytes bytes;
};

std::vector<RefusedBmp> RefusedBmps() {
    std::vector<RefusedBmp> v;
    auto add = [&](const char *name, Bmp spec) { v.push_back({name, spec.Make()}); };
    for (uint32_t bpp : {1u, 4u, 8u}) {
        Bmp s;
        s.bpp = bpp;
        add(bpp == 1 ? "palette-1" : bpp == 4 ? "palette-4" : "palette-8", s);
    }
    Bmp s;
    s.bpp = 8, s.compression = 1;
    add("rle8", s);
    s = {}, s.bpp = 4, s.compression = 2;
    add("rle4", s);
    s = {}, s.compression = 4;
    add("jpeg", s);
    s = {}, s.compression = 5;
    add("png", s);
    s = {}, s.compression = 3;
    add("bitfields-24", s);
    s = {}, s.compression = 7;
    add("compression-7", s);
    s = {}, s.infoSize = 12;
    add("core-header", s);
    s = {}, s.infoSize = 64;
    add("os2-header", s);
    s = {}, s.width = 0;
    add("width-0", s);
    s = {}, s.width = -4;
    add("width-negative", s);
    s = {}, s.height = 0;
    add("height-0", s);
    s = {}, s.height = INT32_MIN, s.pixelBytes = 64;
    add("height-min", s);
    s = {}, s.offset = 20;
    add("offset-inside-headers", s);
    s = {}, s.offset = 1 << 20;
    add("offset-past-end", s);
    s = {}, s.pixelBytes = 20;
    add("truncated-rows", s);
    s = {}, s.width = 70000, s.height = 70000, s.pixelBytes = 64;
    add("huge-size", s);
    s = {}, s.width = INT32_MAX, s.height = INT32_MAX, s.bpp = 32, s.pixelBytes = 64;
    add("max-size", s);
    s = {}, s.type = "PL";
    add("no-BM", s);
    v.push_back({"empty", {}});
    v.push_back({"ten-bytes", {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0}});
    return v;
}

TEST(BadBmpInput, RefusedVariantsFailAndTouchNothing) {
    TempDir dir;
    const Bytes earlier = {'o', 'l', 'd'};
    for (const RefusedBmp &bmp : RefusedBmps()) {
        const std::string in = dir.File("in.bmp");
        const std::string out = dir.File("out.plx");
        const std::string fresh = dir.File("fresh.plx");
        WriteFileBytes(in, bmp.bytes);
        WriteFileBytes(out, earlier);
        fs::remove(fresh);
        CodecPtr c = NewCodec();
        EXPECT_EQ(c->ops->EncodeBitmapFile(c.get(), in.c_str(), out.c_str(), 0, 0, 0), 0)
            << bmp.name;
        EXPECT_EQ(c->ops->EncodeBitmapFile(c.get(), in.c_str(), fresh.c_str(), 1, 9, 2), 0)
            << bmp.name;
        EXPECT_EQ(c->ops->GetImageBuffer(c.get()), nullptr) << bmp.name;
        EXPECT_EQ(ReadFileBytes(in), bmp.bytes) << bmp.name;
        EXPECT_EQ(ReadFileBytes(out), earlier) << bmp.name;
        EXPECT_FALSE(fs::exists(fresh)) << bmp.name;
    }
}

// ---- Inputs that are not readable files ----------------------------------------

TEST(BadFileInput, DirectoriesMissingAndUnreadableFilesFail) {
    TempDir dir;
    std::vector<std::string> inputs = {dir.path().string(), dir.File("missing.plx"),
                                       dir.File("missing/x.plx")};
    // Opens, but every read fails (reading a process's memory at address 0).
    if (fs::exists("/proc/self/mem")) inputs.push_back("/proc/self/mem");
    const std::string locked = dir.File("locked.plx");
    WriteFileBytes(locked, ReadFileBytes(DataPath(kConformanceFile)));
    ::chmod(locked.c_str(), 0);
    // Permissions do not stop the superuser.
    if (::geteuid() != 0) inputs.push_back(locked);

    const std::string out = dir.File("out.bmp");
    for (const std::string &in : inputs) {
        CodecPtr c = NewCodec();
        EXPECT_EQ(c->ops->DecodeFile(c.get(), in.c_str()), 0) << in;
        EXPECT_EQ(c->ops->DecodeToBitmapFile(c.get(), in.c_str(), out.c_str()), 0) << in;
        EXPECT_EQ(c->ops->EncodeBitmapFile(c.get(), in.c_str(), out.c_str(), 0, 0, 0), 0) << in;
        EXPECT_FALSE(fs::exists(out)) << in;
    }
    EXPECT_TRUE(fs::is_directory(dir.path()));
}

// ---- Outputs that cannot be written --------------------------------------------

TEST(BadOutput, MissingFolderAndFullDeviceFailAndKeepTheImage) {
    TempDir dir;
    const std::string bmp = dir.File("good.bmp");
    const std::string plx = dir.File("good.plx");
    WriteFileBytes(bmp, GoodBmp());
    CodecPtr c = NewCodec();
    ASSERT_EQ(c->ops->EncodeBitmapFile(c.get(), bmp.c_str(), plx.c_str(), 0, 0, 0), 1);

    std::vector<std::string> outputs = {dir.File("missing/out"), dir.path().string()};
    if (fs::exists("/dev/full")) outputs.push_back("/dev/full");
    for (const std::string &out : outputs) {
        EXPECT_EQ(c->ops->EncodeBitmapFile(c.get(), bmp.c_str(), out.c_str(), 0, 0, 0), 0) << out;
        EXPECT_EQ(c->ops->EncodeBitmapFile(c.get(), bmp.c_str(), out.c_str(), 1, 15, 1), 0) << out;

        ASSERT_EQ(c->ops->DecodeFile(c.get(), plx.c_str()), 1);
        const Snapshot decoded = Take(c.get());
        EXPECT_EQ(c->ops->EncodeFile(c.get(), out.c_str(), 0, 0, 0), 0) << out;
        EXPECT_TRUE(Same(decoded, Take(c.get()))) << out;
        EXPECT_EQ(c->ops->DecodeToBitmapFile(c.get(), plx.c_str(), out.c_str()), 0) << out;
        EXPECT_TRUE(Same(decoded, Take(c.get()))) << out;
    }
    EXPECT_FALSE(fs::exists(dir.File("missing")));
    EXPECT_TRUE(fs::is_directory(dir.path()));
}

// ---- The converter as a process --------------------------------------------------

class ConverterRun : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFileBytes(dir_.File("good.bmp"), GoodBmp());
        RunResult r = Run({"e", "good.bmp", "good.plx"});
        ASSERT_EQ(r.exitCode, 0) << r.out;
    }

    RunResult Run(const std::vector<std::string> &args) const {
        std::vector<std::string> argv{BinPath("plixconv")};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunProgram(argv, dir_.path().string());
    }

    // Runs a shell command line in the work folder; $0 is the converter.
    RunResult Shell(const std::string &script) const {
        return RunProgram({"/bin/sh", "-c", script, BinPath("plixconv")}, dir_.path().string());
    }

    // The conversion fails with its message and status 1; the input and an
    // earlier output keep every byte.
    void ExpectFailure(bool decode, const std::string &in, const Bytes &input) {
        const std::string out = decode ? "out.bmp" : "out.plx";
        const Bytes earlier = {'e', 'a', 'r', 'l', 'i', 'e', 'r'};
        WriteFileBytes(dir_.File(out), earlier);
        RunResult r = Run({decode ? "d" : "e", in, out});
        EXPECT_EQ(r.exitCode, 1) << in;
        const std::string &message = decode ? kDecodeError : kEncodeError;
        EXPECT_NE(r.out.find(message), std::string::npos) << in << ": " << r.out;
        EXPECT_EQ(ReadFileBytes(dir_.File(out)), earlier) << in;
        if (in.front() != '/' && fs::is_regular_file(dir_.File(in))) {
            EXPECT_EQ(ReadFileBytes(dir_.File(in)), input) << in;
        }
        fs::remove(dir_.File(out));
    }

    TempDir dir_;
};

TEST_F(ConverterRun, BadPlixFilesFailAndTouchNothing) {
    const Bytes header = Plix(8, 8);
    const std::vector<Bytes> bad = {{},
                                    Bytes(header.begin(), header.begin() + 15),
                                    {'P', 'L', 'I', 'Y', 0, 0, 0, 0, 8, 0, 0, 0, 8, 0, 0, 0},
                                    Plix(8, 8, 0, 3),
                                    Plix(-8, 8),
                                    Plix(8, -8),
                                    Plix(INT32_MAX, INT32_MAX),
                                    Plix(8192, 65529),
                                    GoodBmp()};
    for (size_t i = 0; i < bad.size(); ++i) {
        WriteFileBytes(dir_.File("bad.plx"), bad[i]);
        ExpectFailure(true, "bad.plx", bad[i]);
    }
}

TEST_F(ConverterRun, DamagedPlixBodiesStillConvert) {
    const Bytes whole = ReadFileBytes(dir_.File("good.plx"));
    const std::vector<Bytes> damaged = {Bytes(whole.begin(), whole.begin() + 100),
                                        Plix(64, 48, 0, 0, 0, 255, RandomBytes(30, 3)),
                                        Plix(64, 48, 1, 2, 15, 0, RandomBytes(500, 4))};
    for (const Bytes &bytes : damaged) {
        WriteFileBytes(dir_.File("damaged.plx"), bytes);
        RunResult r = Run({"d", "damaged.plx", "damaged.bmp"});
        EXPECT_EQ(r.exitCode, 0) << r.out;
        // A complete 24-bit BMP of the declared size.
        EXPECT_EQ(ReadFileBytes(dir_.File("damaged.bmp")).size(), 54u + 48 * 192);
    }
}

TEST_F(ConverterRun, RefusedBmpVariantsFailAndTouchNothing) {
    for (const RefusedBmp &bmp : RefusedBmps()) {
        WriteFileBytes(dir_.File("bad.bmp"), bmp.bytes);
        ExpectFailure(false, "bad.bmp", bmp.bytes);
    }
    // A PLIX file is no bitmap.
    ExpectFailure(false, "good.plx", ReadFileBytes(dir_.File("good.plx")));
}

TEST_F(ConverterRun, DirectoriesAndMissingFilesFail) {
    fs::create_directory(dir_.File("folder"));
    for (bool decode : {true, false}) {
        ExpectFailure(decode, "folder", {});
        ExpectFailure(decode, "missing", {});
        ExpectFailure(decode, "/proc/self/mem", {});
    }
    EXPECT_TRUE(fs::is_directory(dir_.File("folder")));
}

TEST_F(ConverterRun, UnwritableOutputsFail) {
    const Bytes bmp = ReadFileBytes(dir_.File("good.bmp"));
    const Bytes plx = ReadFileBytes(dir_.File("good.plx"));
    std::vector<std::string> outputs = {"missing/out", "."};
    if (fs::exists("/dev/full")) outputs.push_back("/dev/full");
    for (const std::string &out : outputs) {
        RunResult r = Run({"e", "good.bmp", out});
        EXPECT_EQ(r.exitCode, 1) << out;
        EXPECT_NE(r.out.find(kEncodeError), std::string::npos) << out;
        r = Run({"d", "good.plx", out});
        EXPECT_EQ(r.exitCode, 1) << out;
        EXPECT_NE(r.out.find(kDecodeError), std::string::npos) << out;
    }
    EXPECT_EQ(ReadFileBytes(dir_.File("good.bmp")), bmp);
    EXPECT_EQ(ReadFileBytes(dir_.File("good.plx")), plx);
    EXPECT_FALSE(fs::exists(dir_.File("missing")));
}

TEST_F(ConverterRun, InterruptedWritesKeepTheEarlierOutput) {
    // A file size limit of 512 bytes cuts every write short: with the signal
    // ignored the write fails and the converter reports it; with the signal's
    // default action the converter is killed in the middle of writing.
    const Bytes earlier(1000, 'x');
    for (const char *decode : {"e good.bmp out", "d good.plx out"}) {
        WriteFileBytes(dir_.File("out"), earlier);
        RunResult r = Shell(std::string("trap '' XFSZ; ulimit -f 1; exec \"$0\" ") + decode);
        EXPECT_EQ(r.exitCode, 1) << decode << ": " << r.out;
        EXPECT_EQ(ReadFileBytes(dir_.File("out")), earlier) << decode;

        r = Shell(std::string("{ ulimit -f 1; \"$0\" ") + decode +
                  "; } 2>/dev/null; echo status $?");
        EXPECT_NE(r.out.find("status "), std::string::npos);
        EXPECT_EQ(r.out.find("status 0"), std::string::npos) << r.out;
        EXPECT_EQ(ReadFileBytes(dir_.File("out")), earlier) << decode;
    }
    // Nothing but the earlier files and leftovers of the killed runs.
    for (const auto &entry : fs::directory_iterator(dir_.path())) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "good.bmp" || name == "good.plx" || name == "out" ||
                    name.ends_with(".tmp"))
            << name;
    }
}

TEST_F(ConverterRun, FailedConversionOntoItsOwnInputKeepsIt) {
    const Bytes bad = Plix(8, 8, 0, 7);
    WriteFileBytes(dir_.File("same.plx"), bad);
    RunResult r = Run({"d", "same.plx", "same.plx"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(ReadFileBytes(dir_.File("same.plx")), bad);

    const Bytes palette = RefusedBmps()[2].bytes;
    WriteFileBytes(dir_.File("same.bmp"), palette);
    r = Run({"e", "same.bmp", "same.bmp"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(ReadFileBytes(dir_.File("same.bmp")), palette);
}

TEST_F(ConverterRun, OutputThatCannotBePrintedIsFailure) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    RunResult r = Shell("\"$0\" e good.bmp printed.plx >/dev/full; echo $?");
    EXPECT_EQ(r.out, "1\n");
}

}  // namespace
