#include "fuzz_util.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>

namespace plix::fuzz {

namespace {

std::string scratchFolder;

void RemoveScratch() {
    std::error_code ec;
    if (!scratchFolder.empty()) std::filesystem::remove_all(scratchFolder, ec);
}

const std::string &Scratch() {
    static std::once_flag once;
    std::call_once(once, [] {
        std::string base;
        if (const char *t = std::getenv("TMPDIR"); t && *t) {
            base = t;
        } else {
            // Memory-backed when the system has it: the harnesses write a
            // file or two per input.
            struct stat st;
            base = ::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) &&
                           ::access("/dev/shm", W_OK) == 0
                       ? "/dev/shm"
                       : "/tmp";
        }
        std::string tmpl = base + "/plix-fuzz-XXXXXX";
        if (!::mkdtemp(tmpl.data())) Fail("cannot make a scratch folder", __FILE__, __LINE__);
        scratchFolder = tmpl;
        std::atexit(RemoveScratch);
    });
    return scratchFolder;
}

}  // namespace

int64_t PaddedPixels(int32_t width, int32_t height) {
    if (width <= 0 || height <= 0) return 0;
    const int64_t pw = (int64_t{width} + 7) / 8 * 8;
    const int64_t ph = (int64_t{height} + 7) / 8 * 8;
    return pw * ph;
}

namespace {

int32_t Le32Signed(const uint8_t *p) {
    const uint32_t u =
        uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
    return u <= 0x7FFFFFFFu ? static_cast<int32_t>(u) : -static_cast<int32_t>(~u) - 1;
}

}  // namespace

int64_t BmpDeclaredPixels(const uint8_t *data, size_t size) {
    if (size < 26) return 0;
    int32_t height = Le32Signed(data + 22);
    // Top-down files have negative heights.
    if (height < 0) height = height == INT32_MIN ? 0 : -height;
    return PaddedPixels(Le32Signed(data + 18), height);
}

bool PlixDeclaresLargeImage(const uint8_t *data, size_t size) {
    if (size < 16 || std::memcmp(data, "PLIX", 4) != 0) return false;
    const int64_t pixels = PaddedPixels(Le32Signed(data + 12), Le32Signed(data + 8));
    // Above the library's own limit the decode is refused at once: keep those.
    return pixels > kMaxFuzzPixels && pixels <= 0x7FFFFFFF / 4;
}

std::string ScratchPath(const char *name) {
    return Scratch() + "/" + name;
}

bool WriteFile(const std::string &path, const void *data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (size) out.write(static_cast<const char *>(data), static_cast<std::streamsize>(size));
    out.close();
    return static_cast<bool>(out);
}

bool ReadFile(const std::string &path, std::string &out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

}  // namespace plix::fuzz
