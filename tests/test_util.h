// Helpers shared by the tests: files, temporary folders, running programs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "plix/codec.h"

namespace plix::test {

std::string DataPath(const std::string &name);
std::string BinPath(const std::string &name);

std::vector<uint8_t> ReadFileBytes(const std::string &path);

// A picture with edges, gradients and noise up to noise, as RGB bytes.
std::vector<uint8_t> BusyRgb(uint32_t w, uint32_t h, uint32_t seed, uint32_t noise = 24);
// Its file through plix_encode (empty where that failed).
std::vector<uint8_t> EncodeRgb(const std::vector<uint8_t> &rgb, uint32_t w, uint32_t h,
                               const plix_encode_options &options);
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

// The converter's failure lines, as it prints them.
inline const std::string kEncodeError = "error: not the 16/24/32 Bitmap?!?\n";
inline const std::string kDecodeError = "error: This file is not the PLX Format??\n";

}  // namespace plix::test

namespace plix::test {

// A picture as 0x00BBGGRR colour values, rows top-down.
struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> pixels;
    uint32_t At(int32_t x, int32_t y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// Reads a classic 24-bit bottom-up BMP (54-byte headers) without the codec.
Picture LoadBmp24(const std::string &path);

// Peak signal-to-noise ratio over the three channels, in dB.
double Psnr(const Picture &a, const Picture &b);

}  // namespace plix::test
