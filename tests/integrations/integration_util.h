// Shared by the loader tests: the conformance cases, files, and the library's
// own decoding as the reference.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "conformance_cases.h"
#include "plix/plix.h"

namespace plix::itest {

inline std::vector<uint8_t> ReadBytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::string Conformance(const std::string &rel) {
    return std::string(PLIX_TEST_DATA) + "/conformance/" + rel;
}

using Case = plix::test::ConformanceCase;

inline const std::vector<Case> &LoadCases() {
    return plix::test::ConformanceCases();
}

// Pixels as 0xRRGGBB, rows top-down, image area only.
struct Rgb {
    int width = 0, height = 0;
    std::vector<uint32_t> px;
};

// The expected buffer of a case: padded rows of blue, green, red, unused.
inline Rgb ExpectedPixels(const Case &c) {
    Rgb out{c.Int("width"), c.Int("height"), {}};
    const int pw = c.Int("padded_width");
    const auto buf = ReadBytes(Conformance(c["expected_buffer"]));
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x) {
            const uint8_t *p = buf.data() + (static_cast<size_t>(y) * pw + x) * 4;
            out.px.push_back(uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0]);
        }
    return out;
}

// What the library itself decodes from the bytes; empty when it refuses them.
inline Rgb LibraryDecode(const std::vector<uint8_t> &bytes) {
    Rgb out;
    CodecHandle codec(PLIX_Constructor, PLIX_Destructor);
    if (!codec.decodeMemory(bytes.data(), static_cast<int32_t>(bytes.size()))) return out;
    int32_t w, h;
    codec.imageSize(w, h);
    out.width = w;
    out.height = h;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint32_t c = codec.pixel(x, y);  // 0x00BBGGRR
            out.px.push_back((c & 0xFF) << 16 | (c & 0xFF00) | (c >> 16 & 0xFF));
        }
    return out;
}

inline void ExpectSame(const Rgb &got, const Rgb &want, const std::string &what) {
    ASSERT_EQ(got.width, want.width) << what;
    ASSERT_EQ(got.height, want.height) << what;
    for (size_t i = 0; i < want.px.size(); ++i)
        ASSERT_EQ(got.px[i], want.px[i])
            << what << ": pixel " << i % want.width << "," << i / want.width;
}

// A header that declares 20000 x 20000 pixels and has no body.
inline std::vector<uint8_t> HugeHeader() {
    return {'P', 'L', 'I', 'X', 0, 0, 0, 0, 0x20, 0x4E, 0, 0, 0x20, 0x4E, 0, 0};
}

inline std::vector<uint8_t> Junk() {
    std::vector<uint8_t> v(4096);
    uint32_t s = 12345;
    for (auto &b : v) b = static_cast<uint8_t>((s = s * 1103515245u + 12345u) >> 16);
    return v;
}

inline std::vector<std::string> DecodeCorpus() {
    std::vector<std::string> files;
    for (const auto &e : std::filesystem::directory_iterator(PLIX_FUZZ_CORPUS))
        if (e.is_regular_file()) files.push_back(e.path().string());
    return files;
}

}  // namespace plix::itest
