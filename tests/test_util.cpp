#include "test_util.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

extern char **environ;

namespace plix::test {

std::string DataPath(const std::string &name) {
    return std::string(PLIX_TEST_DATA) + "/" + name;
}

std::string BinPath(const std::string &name) {
    return std::string(PLIX_BIN_DIR) + "/" + name;
}

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "plix-test-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

RunResult RunProgram(const std::vector<std::string> &argv, const std::string &cwd) {
    RunResult result;
    int pipefd[2];
    if (::pipe(pipefd) != 0) return result;
    pid_t pid = ::fork();
    if (pid < 0) return result;
    if (pid == 0) {
        ::dup2(pipefd[1], 1);
        ::close(pipefd[0]);
        ::close(pipefd[1]);
        if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(127);
        std::vector<char *> args;
        for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(pipefd[1]);
    char buf[4096];
    for (;;) {
        ssize_t n = ::read(pipefd[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        result.out.append(buf, static_cast<size_t>(n));
    }
    ::close(pipefd[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::vector<uint8_t> BusyRgb(uint32_t w, uint32_t h, uint32_t seed, uint32_t noise) {
    std::mt19937 random(seed);
    std::vector<uint8_t> px(size_t{w} * h * 3);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (uint32_t c = 0; c < 3; ++c)
                px[(size_t{y} * w + x) * 3 + c] = static_cast<uint8_t>(
                    ((x / 13 + y / 7 + c) % 3 == 0 ? x * 3 + y : 255 - y) + random() % noise);
    return px;
}

std::vector<uint8_t> EncodeRgb(const std::vector<uint8_t> &rgb, uint32_t w, uint32_t h,
                               const plix_encode_options &options) {
    void *out = nullptr;
    size_t size = 0;
    if (plix_encode(rgb.data(), w, h, w * 3, PLIX_RGB, &options, &out, &size) != PLIX_OK) return {};
    std::vector<uint8_t> bytes(static_cast<uint8_t *>(out), static_cast<uint8_t *>(out) + size);
    plix_free(out);
    return bytes;
}

}  // namespace plix::test
