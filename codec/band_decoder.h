// A stream decoded on several threads at once. It has no restart points, and
// where a strip starts in the bits is known only once the strips before it
// were read; but reading the symbols is only part of the work. So one thread
// reads the strips' blocks in order, exactly as one thread alone would, into
// a ring of a few strips, and every thread (that one too, whenever the ring is
// full) turns finished strips into pixels, in any order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace plix {

struct PlixHeader;
struct Dsp;

// A finished strip: its number and rows (padded width, 8 rows, rowBytes
// apart, as StripDecoder::Next writes them). Called on any of the threads,
// once for each strip, several at once.
using StripOut = std::function<void(int64_t strip, const uint8_t *rows, size_t rowBytes)>;

struct BandOutcome {
    bool truncated = false;      // the data ended before the last block did
    uint64_t blocksPresent = 0;  // whole component blocks within the data
};

// The bit stream of header's picture is the size bytes at body, then filler
// bytes: the strips go to out, and the result and counts are those of one
// thread decoding strip by strip. False when it was not done (too small to
// pay off, short of memory): then out was never called.
bool DecodeInBands(const PlixHeader &header, const Dsp &k, const uint8_t *body, size_t size,
                   uint8_t filler, unsigned threads, int64_t minPixels, const StripOut &out,
                   BandOutcome &outcome);

}  // namespace plix
