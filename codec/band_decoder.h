// A stream decoded on several threads at once. It has no restart points, so
// each thread but the first starts at a guessed place in the bytes, at a
// guessed block position, with DC predictors of 0, and keeps the blocks it
// decodes apart from the pixels. The prefix codes soon fall into step with the
// true reading: each thread goes on past its part until a block position of
// its own starts at the very bit where the next thread's did, and from there
// on both read alike. The threads' parts are joined at those points, each
// one's DCs shifted by the true predictors there, and then the strips are
// turned into pixels on every thread. Where no such point is found, nothing
// is written and the caller decodes on one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace plix {

struct PlixHeader;
struct Dsp;

// A finished strip: number, its rows (padded width, 8 rows, rowBytes apart,
// as StripDecoder::Next writes them). Called on any of the threads, once for
// each strip, several at once.
using StripOut = std::function<void(int64_t strip, const uint8_t *rows, size_t rowBytes)>;

struct BandOutcome {
    bool truncated = false;       // the data ended before the last block did
    uint64_t blocksPresent = 0;   // whole component blocks within the data
};

// The bit stream of header's picture is the size bytes at body, then filler
// bytes: the strips go to out, and the result and counts are those of one
// thread decoding strip by strip. False when it was not done (too small to
// pay off, short of memory, no point in step): then out was never called.
bool DecodeInBands(const PlixHeader &header, const Dsp &k, const uint8_t *body, size_t size,
                   uint8_t filler, unsigned threads, const StripOut &out, BandOutcome &outcome);

}  // namespace plix
