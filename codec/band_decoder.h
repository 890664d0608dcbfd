// A stream decoded on several threads at once. It has no restart points:
// where a strip starts in the bits, and the DC predictors there, are known
// only once everything before it was read. One round of threads: thread 0
// decodes strips in full from the start, while the others decode parts of
// the bytes after, each from a guessed place (a position starting at its
// first byte, predictors 0), noting where each block position starts and
// its DCs counted from the part's start, and keeping its coefficients
// (where the kernels keep them, for positions of as many bits as they ask,
// and as far as the room for them goes; past that, a part is read for its
// codes alone). Parts that keep reach the stream's end; parts read for the
// codes alone end well before it, so that the codes of the rest, the tail,
// are read only once. Once they are done, thread 0
// stops at the next strip (where it has not reached the end of part 0, it
// reads the rest of it for the codes alone). The prefix codes soon fall
// into step with the true reading: each part reads on past its end until a
// position of its own starts at the very bit where one of a later part's
// did, and from that bit on both read alike. Joining the parts there gives
// every strip they cover its first bit and its predictors (each part's DCs
// shifted by the true ones where it joined). Then the threads turn the
// strips kept whole by one part into pixels and decode the other noted
// strips again from their first bits, while thread 0 first decodes the
// strips after the parts, the tail, straight on. Where a part never falls
// into step, the part before it reads on through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace plix {

// The values all parts of one call keep at most.
inline constexpr uint64_t kMostKeptInAll = uint64_t{32} << 20;

struct PlixHeader;
struct Dsp;

// A finished strip: its number and rows (padded width, 8 rows, rowBytes
// apart, as StripDecoder::Next writes them). Called on any of the threads,
// once for each strip, several at once.
using StripOut = std::function<void(int64_t strip, const uint8_t *rows, size_t rowBytes)>;

struct BandOutcome {
    bool truncated = false;      // the data ended before the last block did
    uint64_t blocksPresent = 0;  // whole component blocks within the data
    int64_t strips = 0;          // decoded (all but where the data may go on)
    uint64_t endBit = 0;         // where the strip after them starts
    int32_t endPredictors[3] = {0, 0, 0};  // and the DC predictors before it
};

// Where the strips to decode start: the first one's number and first bit
// of the body with the DC predictors before it, how many there are (-1: to
// the picture's end), and about how many bytes they take (0: the rest).
// With rows, the strips are decoded straight into it, one after the other
// (8 rows of the padded width each), before they go to out. With partial,
// the data may go on past size bytes: the strips are taken as far as they
// end within them, the first that does not and those after go nowhere, and
// no end of the data is counted.
struct BandStart {
    uint64_t bit = 0;
    int32_t predictors[3] = {0, 0, 0};
    int64_t strip = 0;
    int64_t strips = -1;
    uint64_t expectBytes = 0;
    uint8_t *rows = nullptr;
    bool partial = false;
};

// The bit stream of header's picture is the size bytes at body, then filler
// bytes (unless from is partial): the strips of from go to out, and the
// result and counts are those of one thread decoding strip by strip (the
// counts of those strips).
// Pictures of fewer than minPixels pixels, and parts of fewer than
// minPartBytes bytes, are not worth the threads. False when it was not done
// (not worth it, short of memory): then some strips may have gone to out,
// and the caller decodes them all again.
// Tests: firstStrips, thread 0 decodes exactly that many strips in full
// before the join, whenever the others are done (-1: until they are);
// tailFrom, the tail starts at that strip or the first after those (past
// the last: there is none), wherever the parts end (-1: at the first strip
// past them); both counted from from's first. mostKept: the coefficient
// values all parts keep at most (where the kernels keep positions at all),
// 2 bytes each; past them, a part is read for its codes alone.
bool DecodeInBands(const PlixHeader &header, const Dsp &k, const uint8_t *body, size_t size,
                   uint8_t filler, unsigned threads, int64_t minPixels, size_t minPartBytes,
                   const StripOut &out, BandOutcome &outcome, const BandStart &from = {},
                   int64_t firstStrips = -1, int64_t tailFrom = -1,
                   uint64_t mostKept = kMostKeptInAll);

// The smallest part a thread takes.
inline constexpr size_t kMinPartBytes = 16 << 10;

}  // namespace plix
