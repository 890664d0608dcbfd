// Strips coded on several threads at once: the picture is cut into bands of
// strips, the first coded straight into the output, each other into a bit
// string of its own from the DC predictors the strip before it leaves, and
// the strings are joined bit by bit as they come in, so the bytes are those
// of one thread coding the strips in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "recycled.h"
#include "streams.h"

namespace plix {

class StripEncoder;
struct PlixHeader;
struct Dsp;

// Writes strip number `strip` into rows (8 rows, rowBytes apart) as
// StripEncoder::Next takes it, from pixel column from (a multiple of 8) on.
// rows belongs to one thread; it holds 0xFF bytes at first and afterwards
// what the last strip written there left (the image area converted), so a
// fill must write every image pixel of the strip from that column and set
// rows below the picture to 0xFF there, but may leave the padding columns.
// (A band's start needs only the last position of the strip before it.)
using StripFill = std::function<void(int64_t strip, uint8_t *rows, int32_t from)>;

// A band's bytes, in memory kept from one call to the next (recycled.h).
class BandBytes final : public ByteSink {
public:
    bool Put(const void *data, size_t n) override;
    void Expect(size_t n) override;
    // Room for n more bytes; throws std::bad_alloc.
    void Reserve(size_t n);
    const uint8_t *Data() const { return block_.get(); }
    void Clear() { size_ = 0; }

private:
    void Grow(size_t need);
    RecycledArray<uint8_t> block_;
    size_t size_ = 0, capacity_ = 0;
};

// Memory the bands take, kept by a caller that codes bands again and again:
// each first touch of a page costs a fault, a lot on a virtual machine. Its
// blocks also pass from one caller to the next (recycled.h): taken afresh on
// every call, where the allocator handed the pages back each time, they made
// two-thread encodes a fifth (q15) to a third (q0) slower.
struct BandScratch {
    std::vector<BandBytes> bits;               // each band's
    std::vector<RecycledArray<uint8_t>> rows;  // each thread's strip
    size_t rowBytes = 0;
};

// Codes the next count strips of encoder (which ends where one thread would
// have left it) into w, on up to threads threads; only the calling thread
// writes to w. False when memory ran short before anything was written: then
// encoder is unchanged. (A band short of memory for its bits later on is
// coded by the calling thread, straight into w.) scratch (may be null) is
// used and left for the next call.
bool EncodeStripsInBands(const PlixHeader &header, const Dsp &k, StripEncoder &encoder,
                         StreamWriter &w, int64_t count, const StripFill &fill, unsigned threads,
                         BandScratch *scratch = nullptr);

// Where the bands of count strips for threads threads start, and count last:
// large bands first, each about what is left over twice the threads, none
// below a 32nd of a thread's share. The threads take them in turn, so the
// last band, which one thread finishes while the others have nothing left,
// is small, with few bands in all. (With an eighth, the last band kept one
// thread of two alone for a tenth of a 4.8 MP encode at q15.)
std::vector<int64_t> PlanBands(int64_t count, unsigned threads);

// Worth the threads' start: enough strips for a band each and enough pixels.
bool BandsPayOff(int64_t strips, int32_t paddedWidth, unsigned threads, int64_t minPixels);

}  // namespace plix
