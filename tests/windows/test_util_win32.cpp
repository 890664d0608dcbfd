// The test helpers of test_util.h for Windows programs: temporary folders and
// child processes through Win32.
#include "test_util.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace plix::test {

namespace {

// The build's folders as full paths with a drive, taken while the current
// folder is still the one the program started in: a path without a drive
// would otherwise name another place once a child runs elsewhere.
std::string Full(const char *path) {
    char full[MAX_PATH * 4];
    const DWORD n = ::GetFullPathNameA(path, sizeof full, full, nullptr);
    return n > 0 && n < sizeof full ? std::string(full, n) : std::string(path);
}

const std::string &DataRoot() {
    static const std::string root = Full(PLIX_TEST_DATA);
    return root;
}

const std::string &BinRoot() {
    static const std::string root = Full(PLIX_BIN_DIR);
    return root;
}

}  // namespace

std::string DataPath(const std::string &name) {
    return DataRoot() + "\\" + name;
}

std::string BinPath(const std::string &name) {
    return BinRoot() + "\\" + name;
}

TempDir::TempDir() {
    std::random_device rd;
    std::mt19937 rng(rd() ^ ::GetCurrentProcessId() ^ ::GetTickCount());
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "plix-test-%08x", static_cast<unsigned>(rng()));
        const std::filesystem::path p = base / name;
        if (::CreateDirectoryA(p.string().c_str(), nullptr)) {
            path_ = p;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ec;
    // Read-only files left by a test would stop the removal.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        ::SetFileAttributesA(it->path().string().c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    std::filesystem::remove_all(path_, ec);
}

namespace {

// One argument quoted so that the child's runtime splits it back unchanged.
std::string Quote(const std::string &arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
    std::string q = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"')
            q.append(backslashes * 2 + 1, '\\');
        else
            q.append(backslashes, '\\');
        backslashes = 0;
        q += c;
    }
    q.append(backslashes * 2, '\\');
    q += '"';
    return q;
}

}  // namespace

// The child's output as it wrote it: console programs end their lines with
// CR LF.
RunResult RunProgramRaw(const std::vector<std::string> &argv, const std::string &cwd) {
    RunResult result;
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!::CreatePipe(&readEnd, &writeEnd, &sa, 0)) return result;
    ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    // Standard input is empty, so a program that reads it cannot wait.
    HANDLE nul = ::CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                               OPEN_EXISTING, 0, nullptr);

    std::string commandLine;
    for (const std::string &a : argv) {
        if (!commandLine.empty()) commandLine += ' ';
        commandLine += Quote(a);
    }
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nul;
    si.hStdOutput = writeEnd;
    si.hStdError = writeEnd;
    PROCESS_INFORMATION pi{};
    // Under Wine a start now and then fails for a moment while the machine is
    // busy; a few tries keep that from passing for the program's own failure.
    BOOL started = FALSE;
    DWORD error = 0;
    for (int attempt = 0; attempt < 4 && !started; ++attempt) {
        if (attempt > 0) ::Sleep(200 * attempt);
        started = ::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                   cwd.empty() ? nullptr : cwd.c_str(), &si, &pi);
        if (!started) error = ::GetLastError();
    }
    ::CloseHandle(writeEnd);
    if (nul != INVALID_HANDLE_VALUE) ::CloseHandle(nul);
    if (!started) {
        ::CloseHandle(readEnd);
        result.out = "cannot start " + commandLine + ": error " + std::to_string(error);
        return result;
    }
    char buf[4096];
    DWORD n = 0;
    while (::ReadFile(readEnd, buf, sizeof buf, &n, nullptr) && n > 0) result.out.append(buf, n);
    ::CloseHandle(readEnd);
    ::WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    if (::GetExitCodeProcess(pi.hProcess, &code)) result.exitCode = static_cast<int>(code);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    return result;
}

// The output read as text, CR LF as a line feed, as the suites expect it.
RunResult RunProgram(const std::vector<std::string> &argv, const std::string &cwd) {
    RunResult r = RunProgramRaw(argv, cwd);
    std::string text;
    for (size_t i = 0; i < r.out.size(); ++i) {
        if (r.out[i] == '\r' && i + 1 < r.out.size() && r.out[i + 1] == '\n') continue;
        text += r.out[i];
    }
    r.out = text;
    return r;
}

}  // namespace plix::test
