// Helpers shared by the fuzz harnesses: a scratch folder for the file-based
// operations, a check that stops the run, and the size limit under which the
// harnesses decode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace plix::fuzz {

// Harnesses skip images whose padded size is above this many pixels, so that
// the memory and time limits measure bugs rather than big pictures: with
// coverage and sanitizer instrumentation a hostile bit stream decodes at about
// 2 microseconds a pixel, and every input must finish well within a second.
// The library itself refuses only what CreateImage's limit refuses.
inline constexpr int64_t kMaxFuzzPixels = int64_t{1} << 17;

// Above this, a harness runs the costly cross-checks (a second decode, the
// file path) no more.
inline constexpr int64_t kMaxCheckedPixels = int64_t{1} << 15;

// A failed property is a finding: report it and stop as a crash would.
[[noreturn]] inline void Fail(const char *what, const char *file, int line) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
    std::abort();
}

#define FUZZ_CHECK(cond) ((cond) ? (void)0 : ::plix::fuzz::Fail(#cond, __FILE__, __LINE__))

// Bytes of a codec's pixel buffer (a template, so that harnesses without the
// codec need not see it).
template <class Codec>
size_t BufferBytes(const Codec &c) {
    return static_cast<size_t>(c.Picture().PaddedWidth()) * static_cast<size_t>(c.Picture().PaddedHeight()) * 4;
}

// Padded pixel count of a BMP header's width and height (0 when the header is
// too short to tell).
int64_t BmpDeclaredPixels(const uint8_t *data, size_t size);

// Padded pixel count of a width and height as CreateImage rounds them;
// negative sizes count as 0 (the library refuses them without allocating).
int64_t PaddedPixels(int32_t width, int32_t height);

// True when bytes begin with a PLIX header that declares an image the
// harnesses skip: above kMaxFuzzPixels but within CreateImage's limit.
bool PlixDeclaresLargeImage(const uint8_t *data, size_t size);

// Path of name inside this process's scratch folder (made on first use in
// TMPDIR, /dev/shm or /tmp, removed at exit).
std::string ScratchPath(const char *name);

// Writes bytes to path, replacing it; false on any failure.
bool WriteFile(const std::string &path, const void *data, size_t size);

// Reads a whole file; false when it cannot be read.
bool ReadFile(const std::string &path, std::string &out);

}  // namespace plix::fuzz
