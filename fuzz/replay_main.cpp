// Runs a fuzz harness over files without libFuzzer, so that corpora and
// regression inputs replay under the sanitizers of any compiler's build.
// Arguments are files or folders (searched recursively, in name order). Each
// input is copied into a heap block of exactly its size, as libFuzzer does,
// so that a read past its end is caught.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int *argc, char ***argv);

namespace fs = std::filesystem;

int main(int argc, char **argv) {
    if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);

    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const fs::path arg = argv[i];
        std::error_code ec;
        if (fs::is_directory(arg, ec)) {
            for (const auto &entry : fs::recursive_directory_iterator(arg, ec))
                if (entry.is_regular_file()) inputs.push_back(entry.path());
        } else if (fs::is_regular_file(arg, ec)) {
            inputs.push_back(arg);
        } else {
            std::fprintf(stderr, "replay: no such file or folder: %s\n", argv[i]);
            return 2;
        }
    }
    std::sort(inputs.begin(), inputs.end());

    using Clock = std::chrono::steady_clock;
    double slowest = 0;
    std::string slowestName;
    const auto start = Clock::now();
    for (const fs::path &p : inputs) {
        std::ifstream in(p, std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                      std::istreambuf_iterator<char>());
        if (in.bad()) {
            std::fprintf(stderr, "replay: cannot read %s\n", p.c_str());
            return 2;
        }
        std::unique_ptr<uint8_t[]> block(new uint8_t[bytes.size()]);
        std::copy(bytes.begin(), bytes.end(), block.get());
        const auto t0 = Clock::now();
        LLVMFuzzerTestOneInput(block.get(), bytes.size());
        const double s = std::chrono::duration<double>(Clock::now() - t0).count();
        if (s > slowest) {
            slowest = s;
            slowestName = p.string();
        }
    }
    const double total = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("replayed %zu inputs in %.2f s; slowest %.3f s (%s)\n", inputs.size(), total,
                slowest, slowestName.c_str());
    return 0;
}
