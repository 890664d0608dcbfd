// plixconv: converts one BMP file to PLIX or one PLIX file to BMP. The codec
// library is loaded at run time by its file name; nothing links against it.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "cli.h"
#include "plix/binding.h"

namespace {

namespace conv = plix::conv;
using Library = plix::CodecBinding;

void Print(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
}

void PrintVersion(PlixCodec *codec) {
    Print(conv::VersionLine(plix::platform::CodecLibraryFileName(), codec->ops->GetVersion(codec)));
}

// Prints the usage text and, when the library works, the version line of a
// codec of its own. The library stays loaded.
void RunUsage(const Library &lib, std::string_view argv0) {
    Print(conv::UsageText(conv::ProgramName(argv0)));
    if (!lib.IsLoaded()) return;
    const PLIX_ConstructorFn create = lib.Constructor();
    if (!create) return;
    PlixCodec *codec = create();
    if (!codec) {
        Print(conv::kFactoryNull);
        return;
    }
    PrintVersion(codec);
    lib.Destroy(codec);
}

bool Convert(PlixCodec *codec, const conv::Invocation &inv) {
    const PlixCodecOps &ops = *codec->ops;
    if (inv.decode) {
        if (ops.DecodeToBitmapFile(codec, inv.input.c_str(), inv.output.c_str()) != 0) return true;
        Print(conv::kDecodeFailed);
        return false;
    }
    Print("Output=" + inv.output + "\n");
    const conv::Settings &s = inv.settings;
    if (ops.EncodeBitmapFile(codec, inv.input.c_str(), inv.output.c_str(), s.mode, s.qFactor,
                             s.matrix) != 0)
        return true;
    Print(conv::kEncodeFailed);
    return false;
}

// Output that could not be written makes the run a failure as well.
int Finish(int status) {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) return 1;
    return status;
}

}  // namespace

int main(int argc, char **argv) {
    std::vector<std::string_view> args;
    for (int i = 0; i < argc && argv[i]; ++i) args.emplace_back(argv[i]);
    const std::string_view argv0 = args.empty() ? std::string_view() : args[0];
    const char *libraryName = plix::platform::CodecLibraryFileName();

    Library lib;
    lib.Load(libraryName);
    Print(conv::kBanner);

    // Asking for nothing and getting the usage text is not a failure.
    if (args.size() < 3) {
        RunUsage(lib, argv0);
        return Finish(0);
    }
    if (!lib.IsLoaded()) {
        Print(std::string(conv::kLibraryMissing) + libraryName + "\n");
        return Finish(1);
    }
    const PLIX_ConstructorFn create = lib.Constructor();
    if (!create) {
        Print(conv::kFactoryMissing);
        lib.Unload();
        return Finish(1);
    }
    PlixCodec *codec = create();
    if (!codec) {
        lib.Unload();
        return Finish(1);
    }
    PrintVersion(codec);

    const conv::Invocation inv = conv::ParseArguments(args);
    bool ok = false;
    if (inv.hasInput) {
        ok = Convert(codec, inv);
    } else {
        // Options but no input file: the usage text with a second codec.
        RunUsage(lib, argv0);
    }

    lib.Destroy(codec);
    lib.Unload();
    return Finish(ok ? 0 : 1);
}
