// The converter's command line and texts, apart from the library binding so
// that they can be tested on their own.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace plix::conv {

inline constexpr std::string_view kBanner = "[[ PLIX Library ]] reference code.\n\n";
inline constexpr std::string_view kLibraryMissing = "File not found - ";
inline constexpr std::string_view kFactoryMissing = "GetProc error!\n";
inline constexpr std::string_view kFactoryNull = "not found.\n";
inline constexpr std::string_view kDecodeFailed = "error: This file is not the PLX Format??\n";
inline constexpr std::string_view kEncodeFailed = "error: not the 16/24/32 Bitmap?!?\n";

// Conversion settings of one run; the defaults are YUV, best quality, the
// format's own matrix set.
struct Settings {
    int32_t mode = 0;
    int32_t qFactor = 0;
    int32_t matrix = 0;
};

// Applies one argument as an option. False when it is not an option (it does
// not start with '-' or '/', or it is an absolute path: it starts with '/'
// and holds another '/'); an option the converter does not know, or a
// q-factor out of range, is still an option and changes nothing.
bool ApplyOption(std::string_view arg, Settings &settings);

// What a command line asks for. args[0] is the program name, args[1] the
// command; the caller has made sure there are at least three arguments.
struct Invocation {
    bool decode = false;
    Settings settings;
    bool hasInput = false;  // false: the options ran to the end of the line
    std::string input;
    std::string output;
};
Invocation ParseArguments(std::span<const std::string_view> args);

// The output name when none is given: the extension is appended to the whole
// input name, never substituted.
std::string DefaultOutputName(std::string_view input, bool decode);

// The text after the last path separator ('/', and on Windows '\\' too), or
// all of argv0.
std::string_view ProgramName(std::string_view argv0);

std::string UsageText(std::string_view programName);

// "Loading... '<library>' version %x.%02x" with its line feed.
std::string VersionLine(std::string_view libraryName, int32_t version);

}  // namespace plix::conv
