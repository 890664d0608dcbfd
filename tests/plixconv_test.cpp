// The converter run as a process: its texts, option rules, output names, exit
// status and the ways binding the library can fail. Stand-in libraries (built
// from tests/abi/stub_codec.c) print every call they receive, so a run's whole
// output shows what the converter asked of the codec and in which order.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "cli.h"
#include "test_util.h"

namespace {

namespace fs = std::filesystem;
using plix::test::BinPath;
using plix::test::kDecodeError;
using plix::test::kEncodeError;
using plix::test::RunProgram;
using plix::test::RunResult;
using plix::test::TempDir;

const std::string kBanner = "[[ PLIX Library ]] reference code.\n\n";
const std::string kVersion = "Loading... 'libPLIX.so' version 0.08\n";
// The recording stand-in reports version 0x1A0B.
const std::string kStubVersion = "Loading... 'libPLIX.so' version 1a.0b\n";
const std::string kStubCreate = "[stub] PLIX_Constructor\n";
const std::string kStubDestroy = "[stub] PLIX_Destructor codec\n";

std::string Usage(const std::string &program) {
    return "Usage: " + program +
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

std::string Stub(const std::string &name) {
    return std::string(PLIX_STUB_DIR) + "/" + name + "/libPLIX.so";
}

// The converter copied into a folder of its own, with the given library beside
// it or none. Runs happen in a separate working folder.
class Installed {
public:
    explicit Installed(const std::string &library, const std::string &programName = "plixconv") {
        const fs::path bin = dir_.path() / "bin";
        fs::create_directories(bin);
        fs::create_directories(dir_.path() / "work");
        program_ = (bin / programName).string();
        fs::copy_file(BinPath("plixconv"), program_);
        if (!library.empty()) fs::copy_file(library, bin / "libPLIX.so");
    }

    RunResult Run(const std::vector<std::string> &args) const {
        std::vector<std::string> argv{program_};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunProgram(argv, (dir_.path() / "work").string());
    }

private:
    TempDir dir_;
    std::string program_;
};

// The converter in the build tree, beside the real library.
RunResult RunBuilt(const std::vector<std::string> &args, const std::string &cwd) {
    std::vector<std::string> argv{BinPath("plixconv")};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, cwd);
}

std::string Encoded(const std::string &in, const std::string &out, int mode, int q, int matrix) {
    return "[stub] EncodeBitmapFile in=" + in + " out=" + out + " mode=" + std::to_string(mode) +
           " q=" + std::to_string(q) + " matrix=" + std::to_string(matrix) + "\n";
}

std::string Decoded(const std::string &in, const std::string &out) {
    return "[stub] DecodeToBitmapFile in=" + in + " out=" + out + "\n";
}

// Whole output of a successful encode through the recording stand-in.
std::string EncodeRun(const std::string &in, const std::string &out, int mode, int q, int matrix) {
    return kBanner + kStubCreate + kStubVersion + "Output=" + out + "\n" +
           Encoded(in, out, mode, q, matrix) + kStubDestroy;
}

std::string DecodeRun(const std::string &in, const std::string &out) {
    return kBanner + kStubCreate + kStubVersion + Decoded(in, out) + kStubDestroy;
}

// ---- Texts with the real library ----------------------------------------

TEST(PlixconvText, UsageWhenFewerThanTwoArguments) {
    TempDir work;
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{}, std::vector<std::string>{"e"},
          std::vector<std::string>{"d"}}) {
        RunResult r = RunBuilt(args, work.path().string());
        EXPECT_EQ(r.out, kBanner + Usage("plixconv") + kVersion);
        EXPECT_EQ(r.exitCode, 0);
    }
}

TEST(PlixconvText, ProgramNameIsTheTextAfterTheLastSlash) {
    // A backslash is an ordinary character of a file name here.
    Installed conv(BinPath("libPLIX.so"), "plix\\conv");
    RunResult r = conv.Run({});
    EXPECT_EQ(r.out, kBanner + Usage("plix\\conv") + kVersion);
    EXPECT_EQ(r.exitCode, 0);
}

TEST(PlixconvText, OptionsWithoutInputFilePrintUsageAndFail) {
    TempDir work;
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"e", "-j"}, std::vector<std::string>{"d", "-r", "/5", "-"}}) {
        RunResult r = RunBuilt(args, work.path().string());
        EXPECT_EQ(r.out, kBanner + kVersion + Usage("plixconv") + kVersion);
        EXPECT_EQ(r.exitCode, 1);
    }
    EXPECT_TRUE(fs::is_empty(work.path()));
}

TEST(PlixconvConvert, MissingInputIsReportedAsFailure) {
    TempDir work;
    RunResult r = RunBuilt({"e", "missing.bmp"}, work.path().string());
    EXPECT_EQ(r.out, kBanner + kVersion + "Output=missing.bmp.plx\n" + kEncodeError);
    EXPECT_EQ(r.exitCode, 1);

    r = RunBuilt({"d", "missing.plx"}, work.path().string());
    EXPECT_EQ(r.out, kBanner + kVersion + kDecodeError);
    EXPECT_EQ(r.exitCode, 1);

    // Only a lower-case "d" decodes.
    r = RunBuilt({"D", "missing.plx"}, work.path().string());
    EXPECT_EQ(r.out, kBanner + kVersion + "Output=missing.plx.plx\n" + kEncodeError);
    EXPECT_EQ(r.exitCode, 1);
}

// ---- Binding the library --------------------------------------------------

TEST(PlixconvBinding, LibraryMissing) {
    Installed conv("");
    RunResult r = conv.Run({});
    EXPECT_EQ(r.out, kBanner + Usage("plixconv"));
    EXPECT_EQ(r.exitCode, 0);

    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"e", "pic.bmp"}, std::vector<std::string>{"d", "pic.plx"},
          std::vector<std::string>{"e", "-j"}}) {
        r = conv.Run(args);
        EXPECT_EQ(r.out, kBanner + "File not found - libPLIX.so\n");
        EXPECT_EQ(r.exitCode, 1);
    }
}

TEST(PlixconvBinding, FactoryMissing) {
    Installed conv(Stub("no_factory"));
    RunResult r = conv.Run({"e"});
    EXPECT_EQ(r.out, kBanner + Usage("plixconv"));
    EXPECT_EQ(r.exitCode, 0);

    r = conv.Run({"e", "pic.bmp"});
    EXPECT_EQ(r.out, kBanner + "GetProc error!\n");
    EXPECT_EQ(r.exitCode, 1);
}

TEST(PlixconvBinding, FactoryReturnsNull) {
    Installed conv(Stub("null_factory"));
    RunResult r = conv.Run({});
    EXPECT_EQ(r.out, kBanner + Usage("plixconv") + "not found.\n");
    EXPECT_EQ(r.exitCode, 0);

    r = conv.Run({"d", "pic.plx"});
    EXPECT_EQ(r.out, kBanner);
    EXPECT_EQ(r.exitCode, 1);
}

TEST(PlixconvBinding, DisposerMissingLeavesTheCodec) {
    Installed conv(Stub("no_destructor"));
    RunResult r = conv.Run({"e", "pic.bmp"});
    EXPECT_EQ(r.out, kBanner + kStubCreate + kStubVersion + "Output=pic.bmp.plx\n" +
                         Encoded("pic.bmp", "pic.bmp.plx", 0, 0, 0));
    EXPECT_EQ(r.exitCode, 0);
}

TEST(PlixconvBinding, UsageAfterOptionsCreatesItsOwnCodec) {
    Installed conv(Stub("recording"));
    RunResult r = conv.Run({"e", "-j"});
    EXPECT_EQ(r.out, kBanner + kStubCreate + kStubVersion + Usage("plixconv") + kStubCreate +
                         kStubVersion + kStubDestroy + kStubDestroy);
    EXPECT_EQ(r.exitCode, 1);
}

// ---- Options, names and status, through the recording stand-in ------------

TEST(PlixconvOptions, SettingsReachTheEncoder) {
    struct Case {
        std::vector<std::string> options;
        int mode, q, matrix;
    };
    const std::vector<Case> cases = {
        {{}, 0, 0, 0},
        {{"-R"}, 1, 0, 0},
        {{"/r"}, 1, 0, 0},
        {{"-rgb"}, 1, 0, 0},
        {{"-r", "-y"}, 0, 0, 0},
        {{"/R", "-Yes"}, 0, 0, 0},
        {{"-15"}, 0, 15, 0},
        {{"/15x"}, 0, 15, 0},
        {{"-0012"}, 0, 12, 0},
        {{"-7", "-16"}, 0, 7, 0},
        {{"-7", "-20"}, 0, 7, 0},
        {{"-7", "-99999999999999999999"}, 0, 7, 0},
        {{"-7", "-0"}, 0, 0, 0},
        {{"-x", "-", "/"}, 0, 0, 0},
        {{"-c"}, 0, 0, 2},
        {{"/C"}, 0, 0, 2},
        {{"-j"}, 0, 0, 1},
        {{"-J"}, 0, 0, 1},
        {{"-c", "-k"}, 0, 0, 0},
        {{"-c", "/K"}, 0, 0, 0},
        {{"-0", "-c", "-j"}, 0, 0, 1},
        {{"-r", "-9", "-c"}, 1, 9, 2},
    };
    Installed conv(Stub("recording"));
    for (const Case &c : cases) {
        std::vector<std::string> args{"e"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back("pic.bmp");
        RunResult r = conv.Run(args);
        SCOPED_TRACE(::testing::PrintToString(c.options));
        EXPECT_EQ(r.out, EncodeRun("pic.bmp", "pic.bmp.plx", c.mode, c.q, c.matrix));
        EXPECT_EQ(r.exitCode, 0);
    }
}

TEST(PlixconvOutput, DefaultNamesAppendTheExtension) {
    Installed conv(Stub("recording"));
    RunResult r = conv.Run({"d", "a.plx"});
    EXPECT_EQ(r.out, DecodeRun("a.plx", "a.plx.bmp"));
    EXPECT_EQ(r.exitCode, 0);

    r = conv.Run({"decode", "-r", "pic"});
    EXPECT_EQ(r.out, DecodeRun("pic", "pic.bmp"));

    r = conv.Run({"D", "a.plx"});
    EXPECT_EQ(r.out, EncodeRun("a.plx", "a.plx.plx", 0, 0, 0));

    r = conv.Run({"", "photo"});
    EXPECT_EQ(r.out, EncodeRun("photo", "photo.plx", 0, 0, 0));
}

TEST(PlixconvOutput, ExplicitOutputAndExtraArgumentsIgnored) {
    Installed conv(Stub("recording"));
    RunResult r = conv.Run({"e", "-r", "in.bmp", "out.plx", "extra", "-c"});
    EXPECT_EQ(r.out, EncodeRun("in.bmp", "out.plx", 1, 0, 0));
    EXPECT_EQ(r.exitCode, 0);

    r = conv.Run({"d", "in.plx", "-out.bmp", "extra"});
    EXPECT_EQ(r.out, DecodeRun("in.plx", "-out.bmp"));
    EXPECT_EQ(r.exitCode, 0);
}

TEST(PlixconvOutput, NamesOfAnyLength) {
    Installed conv(Stub("recording"));
    std::string longIn;
    for (int i = 0; i < 40; ++i) longIn += "folder" + std::to_string(i) + "/";
    longIn += std::string(250, 'n') + ".bmp";
    ASSERT_GT(longIn.size(), 600u);
    RunResult r = conv.Run({"e", longIn});
    EXPECT_EQ(r.out, EncodeRun(longIn, longIn + ".plx", 0, 0, 0));

    const std::string longOut = std::string(1000, 'o') + ".bmp";
    r = conv.Run({"d", longIn, longOut});
    EXPECT_EQ(r.out, DecodeRun(longIn, longOut));
    EXPECT_EQ(r.exitCode, 0);
}

TEST(PlixconvExit, ConversionFailureGivesMessageAndStatusOne) {
    Installed conv(Stub("recording"));
    RunResult r = conv.Run({"e", "bad.bmp"});
    EXPECT_EQ(r.out, kBanner + kStubCreate + kStubVersion + "Output=bad.bmp.plx\n" +
                         Encoded("bad.bmp", "bad.bmp.plx", 0, 0, 0) + kEncodeError + kStubDestroy);
    EXPECT_EQ(r.exitCode, 1);

    r = conv.Run({"d", "bad.plx", "out.bmp"});
    EXPECT_EQ(r.out, kBanner + kStubCreate + kStubVersion + Decoded("bad.plx", "out.bmp") +
                         kDecodeError + kStubDestroy);
    EXPECT_EQ(r.exitCode, 1);
}

TEST(PlixconvExit, UnwritableOutputIsFailure) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    // The shell reports the converter's status on the pipe we read.
    RunResult r = RunProgram({"/bin/sh", "-c", "\"$0\" >/dev/full; echo $?", BinPath("plixconv")});
    EXPECT_EQ(r.out, "1\n");
}

// ---- The command line on its own -------------------------------------------

TEST(PlixconvCli, ArgumentClassification) {
    plix::conv::Settings s;
    EXPECT_FALSE(plix::conv::ApplyOption("pic.bmp", s));
    EXPECT_FALSE(plix::conv::ApplyOption("", s));
    EXPECT_FALSE(plix::conv::ApplyOption("r-", s));
    EXPECT_TRUE(plix::conv::ApplyOption("-", s));
    EXPECT_TRUE(plix::conv::ApplyOption("/", s));
    // Absolute paths are files, though they start like an option; a lone
    // slash-option stays an option.
    EXPECT_FALSE(plix::conv::ApplyOption("/tmp/pic.bmp", s));
    EXPECT_TRUE(plix::conv::ApplyOption("/rgb", s));
    EXPECT_EQ(s.mode, 1);
    s.mode = 0;
    EXPECT_EQ(s.mode, 0);
    EXPECT_EQ(s.qFactor, 0);
    EXPECT_EQ(s.matrix, 0);

    const std::vector<std::string_view> onlyOptions{"plixconv", "e", "-r", "-3"};
    plix::conv::Invocation inv = plix::conv::ParseArguments(onlyOptions);
    EXPECT_FALSE(inv.hasInput);
    EXPECT_FALSE(inv.decode);

    const std::vector<std::string_view> full{"plixconv", "d", "-r", "-3", "x.plx"};
    inv = plix::conv::ParseArguments(full);
    EXPECT_TRUE(inv.hasInput);
    EXPECT_TRUE(inv.decode);
    EXPECT_EQ(inv.input, "x.plx");
    EXPECT_EQ(inv.output, "x.plx.bmp");

    const std::vector<std::string_view> absolute{"plixconv", "e", "/15x", "/srv/in.bmp"};
    inv = plix::conv::ParseArguments(absolute);
    EXPECT_TRUE(inv.hasInput);
    EXPECT_EQ(inv.settings.qFactor, 15);
    EXPECT_EQ(inv.input, "/srv/in.bmp");
    EXPECT_EQ(inv.output, "/srv/in.bmp.plx");
}

TEST(PlixconvCli, ProgramName) {
    EXPECT_EQ(plix::conv::ProgramName("plixconv"), "plixconv");
    EXPECT_EQ(plix::conv::ProgramName("/usr/local/bin/plixconv"), "plixconv");
    EXPECT_EQ(plix::conv::ProgramName("./a/b\\c"), "b\\c");
    EXPECT_EQ(plix::conv::ProgramName("dir/"), "");
    EXPECT_EQ(plix::conv::ProgramName(""), "");
    const std::string longName(5000, 'p');
    const std::string longPath = "/x/" + longName;
    EXPECT_EQ(plix::conv::ProgramName(longPath), longName);
}

}  // namespace
