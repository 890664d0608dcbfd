// What is particular to Windows: plixconv.exe with its texts and exit
// statuses, paths with backslashes, reserved device names, read-only files,
// and the processor probe of 32-bit builds.
#include <gtest/gtest.h>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "dsp/cpu_features.h"
#include "dsp/dsp.h"
#include "plix/plix.h"
#include "test_util.h"

namespace plix::test {
// test_util_win32.cpp: the output with its CRs.
RunResult RunProgramRaw(const std::vector<std::string> &argv, const std::string &cwd);
}  // namespace plix::test

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using plix::test::BinPath;
using plix::test::DataPath;
using plix::test::ReadFileBytes;
using plix::test::RunResult;
using plix::test::TempDir;
using plix::test::WriteFileBytes;

const std::string kBanner = "[[ PLIX Library ]] reference code.\n\n";
const std::string kVersion = "Loading... 'PLIX.DLL' version 0.08\n";
const std::string kLibraryMissing = "File not found - PLIX.DLL\n";
const std::string kDecodeError = "error: This file is not the PLX Format??\n";
const std::string kEncodeError = "error: not the 16/24/32 Bitmap?!?\n";

std::string Usage(const std::string &name) {
    return "Usage: " + name +
           " <de> [-/0~15][-/cjk][-/ry] <infile> [outfile]\n"
           "\n"
           "Commands:\n"
           "      <d> Decode plix to bmp      <e> Encode bmp to plix\n"
           "\n"
           "Options: (*=Default)\n"
           " Q-Factor: -0~15 Compression level(*=0 Best Quality)\n"
           " Q-Matrix:  -c  CG,Animation      -j  JPEG standard      -k  Plix original(*)\n"
           " Mode:      -r  RGB compression   -y  YUV compression(*)\n"
           "\n";
}

std::string Backslashes(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::string Converter() {
    return Backslashes(BinPath("plixconv.exe"));
}

// The console runtime writes each line feed as CR LF; the texts are compared
// without the CRs, and every line must have had one.
std::string Lines(const RunResult &r) {
    std::string out;
    for (size_t i = 0; i < r.out.size(); ++i) {
        if (r.out[i] == '\r' && i + 1 < r.out.size() && r.out[i + 1] == '\n') continue;
        if (r.out[i] == '\n') {
            EXPECT_TRUE(i > 0 && r.out[i - 1] == '\r') << r.out;
        }
        out += r.out[i];
    }
    return out;
}

RunResult Convert(const std::vector<std::string> &args, const std::string &cwd,
                  const std::string &exe = Converter()) {
    std::vector<std::string> argv{exe};
    argv.insert(argv.end(), args.begin(), args.end());
    return plix::test::RunProgramRaw(argv, cwd);
}

std::string Conf(const std::string &rel) {
    return DataPath("conformance/" + rel);
}

struct Case {
    const char *name;
    const char *options[3];  // the converter's options for mode, q-factor, matrix
};

// Encode cases of the shared vectors with every mode, matrix set and a spread
// of q-factors; name_WxH_mMODE_qQ_xMATRIX.
const Case kCases[] = {
    {"mix_100x75_m0_q0_x0", {"-0", nullptr, nullptr}},
    {"edges_17x9_m0_q9_x0", {"-9", "/k", nullptr}},
    {"checker_16x16_m0_q15_x2", {"/15", "-C", nullptr}},
    {"bars_64x8_m0_q1_x1", {"-1", "-j", "-y"}},
    {"bars_64x8_m0_q15_x1", {"-15", "/J", nullptr}},
    {"edges_17x9_m1_q4_x2", {"-R", "-4", "-c"}},
};

std::string InputOf(const std::string &name) {
    return Conf("images/" + name.substr(0, name.find("_m")) + ".bmp");
}

TEST(PlixconvExe, UsageNamesTheProgramAfterTheLastSeparator) {
    TempDir dir;
    RunResult r = Convert({}, dir.path().string());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(Lines(r), kBanner + Usage("plixconv.exe") + kVersion);
    // Forward slashes separate too.
    r = Convert({"e"}, dir.path().string(), BinPath("plixconv.exe"));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(Lines(r), kBanner + Usage("plixconv.exe") + kVersion);
}

TEST(PlixconvExe, ConvertsTheVectorsExactly) {
    TempDir dir;
    for (const Case &c : kCases) {
        const std::string name = c.name;
        std::vector<std::string> args{"e"};
        for (const char *o : c.options)
            if (o) args.push_back(o);
        args.push_back(Backslashes(InputOf(name)));
        args.push_back(dir.File("out.plx"));
        RunResult r = Convert(args, dir.path().string());
        EXPECT_EQ(r.exitCode, 0) << name;
        EXPECT_EQ(Lines(r), kBanner + kVersion + "Output=" + dir.File("out.plx") + "\n") << name;
        EXPECT_EQ(ReadFileBytes(dir.File("out.plx")), ReadFileBytes(Conf("cases/" + name + ".plx")))
            << name;

        r = Convert({"d", Conf("cases/" + name + ".plx"), "out.bmp"}, dir.path().string());
        EXPECT_EQ(r.exitCode, 0) << name;
        EXPECT_EQ(Lines(r), kBanner + kVersion) << name;
        EXPECT_EQ(ReadFileBytes(dir.File("out.bmp")),
                  ReadFileBytes(Conf("cases/" + name + ".expected.bmp")))
            << name;
    }
}

TEST(PlixconvExe, DefaultNamesAppendTheExtension) {
    TempDir dir;
    WriteFileBytes(dir.File("pic.bmp"), ReadFileBytes(InputOf("mix_100x75")));
    RunResult r = Convert({"e", "pic.bmp"}, dir.path().string());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(Lines(r), kBanner + kVersion + "Output=pic.bmp.plx\n");
    EXPECT_EQ(ReadFileBytes(dir.File("pic.bmp.plx")),
              ReadFileBytes(Conf("cases/mix_100x75_m0_q0_x0.plx")));
    r = Convert({"d", "pic.bmp.plx"}, dir.path().string());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(Lines(r), kBanner + kVersion);
    EXPECT_EQ(ReadFileBytes(dir.File("pic.bmp.plx.bmp")),
              ReadFileBytes(Conf("cases/mix_100x75_m0_q0_x0.expected.bmp")));
}

TEST(PlixconvExe, FailuresPrintTheirMessageAndExitOne) {
    TempDir dir;
    WriteFileBytes(dir.File("text.plx"), {'n', 'o', 't', ' ', 'P', 'L', 'I', 'X'});
    RunResult r = Convert({"d", "text.plx", "out.bmp"}, dir.path().string());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(Lines(r), kBanner + kVersion + kDecodeError);
    r = Convert({"e", "text.plx", "out.plx"}, dir.path().string());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(Lines(r), kBanner + kVersion + "Output=out.plx\n" + kEncodeError);
    EXPECT_FALSE(fs::exists(dir.File("out.bmp")));
    EXPECT_FALSE(fs::exists(dir.File("out.plx")));
    // Options but no input file: the usage text with a second codec.
    r = Convert({"e", "-j", "/r"}, dir.path().string());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(Lines(r), kBanner + kVersion + Usage("plixconv.exe") + kVersion);
}

TEST(PlixconvExe, LibraryMissing) {
    TempDir dir;
    const std::string lonely = dir.File("plixconv.exe");
    ASSERT_TRUE(::CopyFileA(BinPath("plixconv.exe").c_str(), lonely.c_str(), FALSE));
    RunResult r = Convert({}, dir.path().string(), lonely);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(Lines(r), kBanner + Usage("plixconv.exe"));
    r = Convert({"e", "in.bmp"}, dir.path().string(), lonely);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(Lines(r), kBanner + kLibraryMissing);
}

// ---- Windows paths and names, through the library and the converter ----------

class WindowsFiles : public ::testing::Test {
protected:
    void SetUp() override {
        codec_ = PLIX_Constructor();
        ASSERT_NE(codec_, nullptr);
        bmp_ = ReadFileBytes(InputOf("edges_17x9"));
        plx_ = ReadFileBytes(Conf("cases/edges_17x9_m0_q9_x0.plx"));
        expectedBmp_ = ReadFileBytes(Conf("cases/edges_17x9_m0_q9_x0.expected.bmp"));
        WriteFileBytes(dir_.File("in.bmp"), bmp_);
        WriteFileBytes(dir_.File("in.plx"), plx_);
    }
    void TearDown() override { PLIX_Destructor(codec_); }

    int32_t Encode(const std::string &bmp, const std::string &plx) {
        return codec_->ops->EncodeBitmapFile(codec_, bmp.c_str(), plx.c_str(), 0, 9, 0);
    }
    int32_t Decode(const std::string &plx, const std::string &bmp) {
        return codec_->ops->DecodeToBitmapFile(codec_, plx.c_str(), bmp.c_str());
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto &e : fs::directory_iterator(dir_.path()))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    static bool ReadOnly(const std::string &path) {
        const DWORD a = ::GetFileAttributesA(path.c_str());
        return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY);
    }

    TempDir dir_;
    PlixCodec *codec_ = nullptr;
    Bytes bmp_, plx_, expectedBmp_;
};

TEST_F(WindowsFiles, BackslashPathsWork) {
    ASSERT_TRUE(fs::create_directory(dir_.File("sub")));
    const std::string sub = Backslashes(dir_.File("sub"));
    EXPECT_EQ(Encode(Backslashes(dir_.File("in.bmp")), sub + "\\out.plx"), 1);
    EXPECT_EQ(ReadFileBytes(dir_.File("sub/out.plx")), plx_);
    EXPECT_EQ(Decode(sub + "\\out.plx", sub + "\\..\\sub\\out.bmp"), 1);
    EXPECT_EQ(ReadFileBytes(dir_.File("sub/out.bmp")), expectedBmp_);

    RunResult r = Convert({"e", "-9", "in.bmp", "sub\\conv.plx"}, dir_.path().string());
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(ReadFileBytes(dir_.File("sub/conv.plx")), plx_);
    r = Convert({"d", ".\\sub\\conv.plx"}, dir_.path().string());
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(ReadFileBytes(dir_.File("sub/conv.plx.bmp")), expectedBmp_);
}

TEST_F(WindowsFiles, ReservedDeviceNames) {
    const std::vector<std::string> before = Names();
    // NUL takes everything, whatever extension follows the name: a success
    // that leaves no file behind, as /dev/null does elsewhere.
    for (const char *name : {"NUL", "nul", "NUL.plx"}) {
        EXPECT_EQ(Encode(dir_.File("in.bmp"), dir_.File(name)), 1) << name;
        EXPECT_EQ(Decode(dir_.File("in.plx"), name), 1) << name;
        RunResult r = Convert({"e", "-9", "in.bmp", name}, dir_.path().string());
        EXPECT_EQ(r.exitCode, 0) << name << ": " << r.out;
    }
    // A console gets the bytes if there is one; without one the write fails.
    // Either way no file of that name appears, and reading one never waits.
    for (const char *name : {"CON", "con.bmp"}) {
        RunResult r = Convert({"d", "in.plx", name}, dir_.path().string());
        EXPECT_TRUE(r.exitCode == 0 || r.exitCode == 1) << name << ": " << r.out;
        r = Convert({"d", name, "out.bmp"}, dir_.path().string());
        EXPECT_EQ(r.exitCode, 1) << name;
        EXPECT_EQ(codec_->ops->DecodeFile(codec_, name), 0) << name;
        EXPECT_EQ(codec_->ops->EncodeBitmapFile(codec_, name, "out.plx", 0, 0, 0), 0) << name;
    }
    EXPECT_EQ(Names(), before);
    EXPECT_EQ(ReadFileBytes(dir_.File("in.bmp")), bmp_);
}

TEST_F(WindowsFiles, ReadOnlyOutputsAreKeptAndReadOnlyInputsRead) {
    const Bytes earlier = {'e', 'a', 'r', 'l', 'i', 'e', 'r'};
    for (const char *name : {"locked.plx", "locked.bmp"}) {
        WriteFileBytes(dir_.File(name), earlier);
        ASSERT_TRUE(::SetFileAttributesA(dir_.File(name).c_str(), FILE_ATTRIBUTE_READONLY));
    }
    EXPECT_EQ(Encode(dir_.File("in.bmp"), dir_.File("locked.plx")), 0);
    ASSERT_EQ(codec_->ops->DecodeFile(codec_, dir_.File("in.plx").c_str()), 1);
    EXPECT_EQ(codec_->ops->EncodeFile(codec_, dir_.File("locked.plx").c_str(), 0, 0, 0), 0);
    EXPECT_EQ(Decode(dir_.File("in.plx"), dir_.File("locked.bmp")), 0);
    RunResult r = Convert({"e", "in.bmp", "locked.plx"}, dir_.path().string());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(Lines(r).find(kEncodeError), std::string::npos) << r.out;
    r = Convert({"d", "in.plx", "locked.bmp"}, dir_.path().string());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(Lines(r).find(kDecodeError), std::string::npos) << r.out;
    for (const char *name : {"locked.plx", "locked.bmp"}) {
        EXPECT_EQ(ReadFileBytes(dir_.File(name)), earlier) << name;
        EXPECT_TRUE(ReadOnly(dir_.File(name))) << name;
    }

    // Read-only inputs convert as any other.
    for (const char *name : {"in.bmp", "in.plx"})
        ASSERT_TRUE(::SetFileAttributesA(dir_.File(name).c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(Encode(dir_.File("in.bmp"), dir_.File("out.plx")), 1);
    EXPECT_EQ(ReadFileBytes(dir_.File("out.plx")), plx_);
    EXPECT_EQ(Decode(dir_.File("in.plx"), dir_.File("out.bmp")), 1);
    EXPECT_EQ(ReadFileBytes(dir_.File("out.bmp")), expectedBmp_);
    // Nothing left over beside the files.
    EXPECT_EQ(Names(), (std::vector<std::string>{"in.bmp", "in.plx", "locked.bmp", "locked.plx",
                                                 "out.bmp", "out.plx"}));
}

TEST_F(WindowsFiles, ReplacesAnExistingOutputWhole) {
    WriteFileBytes(dir_.File("out.plx"), Bytes(100000, 'x'));
    EXPECT_EQ(Encode(dir_.File("in.bmp"), dir_.File("out.plx")), 1);
    EXPECT_EQ(ReadFileBytes(dir_.File("out.plx")), plx_);
    EXPECT_EQ(Names(), (std::vector<std::string>{"in.bmp", "in.plx", "out.plx"}));
}

// ---- The processor probe -----------------------------------------------------

TEST(WindowsProbe, PackedKernelsWhereTheProcessorHasThemPlainOtherwise) {
    const plix::CpuFeatures cpu;
    ASSERT_NE(plix::GetDspLevel(plix::DspLevel::kPlain), nullptr);
    const bool packed = cpu.HasSse2();
#if defined(__x86_64__)
    EXPECT_TRUE(packed);
#endif
    EXPECT_EQ(plix::GetDspLevel(plix::DspLevel::kSse2) != nullptr, packed);
    EXPECT_EQ(std::string_view(plix::GetDsp().name) != "plain", packed);
}

}  // namespace
