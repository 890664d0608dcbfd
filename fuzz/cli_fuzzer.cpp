// The converter's command line: the input, split at NUL bytes, is an argument
// vector (program name, command, options, files). Whatever it holds, parsing
// ends with settings in range and files taken where the option rules put them.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli.h"
#include "fuzz_util.h"

namespace conv = plix::conv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    std::vector<std::string_view> args;
    for (size_t start = 0; args.size() < 32;) {
        const size_t end = text.find('\0', start);
        args.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    // The converter parses only with a command and at least one more argument.
    while (args.size() < 3) args.emplace_back("e");

    // Each argument alone: an option leaves the settings in range.
    for (std::string_view a : args) {
        conv::Settings s;
        const bool isOption = conv::ApplyOption(a, s);
        FUZZ_CHECK(s.mode == 0 || s.mode == 1);
        FUZZ_CHECK(s.qFactor >= 0 && s.qFactor <= 15);
        FUZZ_CHECK(s.matrix >= 0 && s.matrix <= 2);
        if (a.empty() || (a[0] != '-' && a[0] != '/')) FUZZ_CHECK(!isOption);
    }

    const conv::Invocation inv = conv::ParseArguments(std::span<const std::string_view>(args));
    FUZZ_CHECK(inv.decode == (!args[1].empty() && args[1][0] == 'd'));
    const conv::Settings &s = inv.settings;
    FUZZ_CHECK(s.mode == 0 || s.mode == 1);
    FUZZ_CHECK(s.qFactor >= 0 && s.qFactor <= 15);
    FUZZ_CHECK(s.matrix >= 0 && s.matrix <= 2);

    // The options run up to the first argument that is not one.
    conv::Settings replay;
    size_t i = 2;
    while (i < args.size() && conv::ApplyOption(args[i], replay)) ++i;
    FUZZ_CHECK(inv.hasInput == (i < args.size()));
    FUZZ_CHECK(replay.mode == s.mode && replay.qFactor == s.qFactor && replay.matrix == s.matrix);
    if (inv.hasInput) {
        FUZZ_CHECK(inv.input == args[i]);
        if (i + 1 < args.size()) {
            FUZZ_CHECK(inv.output == args[i + 1]);
        } else {
            const std::string ext = inv.decode ? ".bmp" : ".plx";
            FUZZ_CHECK(inv.output == inv.input + ext);
            FUZZ_CHECK(inv.output == conv::DefaultOutputName(inv.input, inv.decode));
        }
    }

    const std::string_view name = conv::ProgramName(args[0]);
    FUZZ_CHECK(name.find('/') == std::string_view::npos);
    FUZZ_CHECK(args[0].size() >= name.size() &&
               args[0].substr(args[0].size() - name.size()) == name);
    const std::string usage = conv::UsageText(name);
    FUZZ_CHECK(usage.size() == conv::UsageText("").size() + name.size());

    int32_t version = 0;
    for (size_t k = 0; k < 4 && k < size; ++k)
        version = static_cast<int32_t>(static_cast<uint32_t>(version) << 8 | data[k]);
    const std::string line = conv::VersionLine("libPLIX.so", version);
    FUZZ_CHECK(!line.empty() && line.back() == '\n');
    return 0;
}
