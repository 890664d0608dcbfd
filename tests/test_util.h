// Helpers shared by the tests: files, temporary folders, running programs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace plix::test {

std::string DataPath(const std::string &name);
std::string BinPath(const std::string &name);

std::vector<uint8_t> ReadFileBytes(const std::string &path);
void WriteFileBytes(const std::string &path, const std::vector<uint8_t> &bytes);

// A fresh folder removed at the end of the test.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::filesystem::path &path() const { return path_; }
    std::string File(const std::string &name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

struct RunResult {
    int exitCode = -1;  // -1 when the program did not exit normally
    std::string out;
};

// Runs a program with arguments (argv[0] included) and collects its standard
// output; the working directory is cwd when given.
RunResult RunProgram(const std::vector<std::string> &argv, const std::string &cwd = "");

} // namespace plix::test
