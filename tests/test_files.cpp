// Test helpers that need no operating-system call, for every platform's test
// programs: whole files in and out, 24-bit BMP pictures and their PSNR.
#include <cmath>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "test_util.h"

namespace plix::test {

std::vector<uint8_t> ReadFileBytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + path);
    out.write(reinterpret_cast<const char *>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

Picture LoadBmp24(const std::string &path) {
    auto bytes = ReadFileBytes(path);
    auto le32 = [&](size_t o) {
        return static_cast<int32_t>(bytes.at(o) | (bytes.at(o + 1) << 8) | (bytes.at(o + 2) << 16) |
                                    (static_cast<uint32_t>(bytes.at(o + 3)) << 24));
    };
    if (bytes.size() < 54 || bytes[0] != 'B' || bytes[1] != 'M' || le32(14) != 40 ||
        (bytes[28] | (bytes[29] << 8)) != 24)
        throw std::runtime_error("not a classic 24-bit BMP: " + path);
    Picture p;
    p.width = le32(18);
    p.height = le32(22);
    size_t offset = static_cast<size_t>(le32(10));
    size_t stride = (static_cast<size_t>(p.width) * 3 + 3) & ~size_t{3};
    p.pixels.resize(static_cast<size_t>(p.width) * p.height);
    for (int32_t y = 0; y < p.height; ++y) {
        const uint8_t *row = &bytes.at(offset + stride * static_cast<size_t>(p.height - 1 - y));
        for (int32_t x = 0; x < p.width; ++x) {
            const uint8_t *px = row + 3 * x;
            p.pixels[static_cast<size_t>(y) * p.width + x] =
                (uint32_t{px[0]} << 16) | (uint32_t{px[1]} << 8) | px[2];
        }
    }
    return p;
}

double Psnr(const Picture &a, const Picture &b) {
    if (a.width != b.width || a.height != b.height) return 0;
    double sum = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i) {
        for (int s = 0; s < 24; s += 8) {
            double d = static_cast<double>((a.pixels[i] >> s) & 0xFF) -
                       static_cast<double>((b.pixels[i] >> s) & 0xFF);
            sum += d * d;
        }
    }
    double mse = sum / (3.0 * static_cast<double>(a.pixels.size()));
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace plix::test
