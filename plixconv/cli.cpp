#include "cli.h"

#include <cstdio>

namespace plix::conv {

namespace {

constexpr int32_t kMaxQFactor = 15;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The run of digits at the start of text. Saturates once past the q-factor
// range, so that any length of digits reads without overflow and stays
// out of range.
int32_t ReadNumber(std::string_view text) {
    int32_t value = 0;
    for (char c : text) {
        if (!IsDigit(c)) break;
        if (value <= kMaxQFactor) value = value * 10 + (c - '0');
    }
    return value;
}

}  // namespace

bool ApplyOption(std::string_view arg, Settings &settings) {
    if (arg.empty() || (arg[0] != '-' && arg[0] != '/')) return false;
    // Options may start with '/', and so do absolute paths here: a second '/'
    // makes it a path.
    if (arg[0] == '/' && arg.find('/', 1) != std::string_view::npos) return false;
    if (arg.size() < 2) return true;
    const char key = arg[1];
    if (IsDigit(key)) {
        const int32_t q = ReadNumber(arg.substr(1));
        if (q <= kMaxQFactor) settings.qFactor = q;
        return true;
    }
    switch (key) {
        case 'c':
        case 'C':
            settings.matrix = 2;
            break;
        case 'j':
        case 'J':
            settings.matrix = 1;
            break;
        case 'k':
        case 'K':
            settings.matrix = 0;
            break;
        case 'r':
        case 'R':
            settings.mode = 1;
            break;
        case 'y':
        case 'Y':
            settings.mode = 0;
            break;
        default:
            break;
    }
    return true;
}

Invocation ParseArguments(std::span<const std::string_view> args) {
    Invocation inv;
    inv.decode = args.size() > 1 && !args[1].empty() && args[1][0] == 'd';
    size_t i = 2;
    while (i < args.size() && ApplyOption(args[i], inv.settings)) ++i;
    if (i >= args.size()) return inv;
    inv.hasInput = true;
    inv.input = args[i];
    inv.output =
        i + 1 < args.size() ? std::string(args[i + 1]) : DefaultOutputName(args[i], inv.decode);
    return inv;
}

std::string DefaultOutputName(std::string_view input, bool decode) {
    std::string name(input);
    name += decode ? ".bmp" : ".plx";
    return name;
}

std::string_view ProgramName(std::string_view argv0) {
#if defined(_WIN32)
    const size_t slash = argv0.find_last_of("\\/");
#else
    const size_t slash = argv0.rfind('/');
#endif
    return slash == std::string_view::npos ? argv0 : argv0.substr(slash + 1);
}

std::string UsageText(std::string_view programName) {
    std::string text = "Usage: ";
    text += programName;
    text +=
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
    return text;
}

std::string VersionLine(std::string_view libraryName, int32_t version) {
    char number[32];
    std::snprintf(number, sizeof number, "%x.%02x", static_cast<unsigned>(version >> 8),
                  static_cast<unsigned>(version & 0xFF));
    std::string line = "Loading... '";
    line += libraryName;
    line += "' version ";
    line += number;
    line += '\n';
    return line;
}

}  // namespace plix::conv
