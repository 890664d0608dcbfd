// Decoder state: the bit reader and its buffer, kept from one decode to the
// next, and what the last decode found. Everything else lives in the call.
#pragma once

#include <cstdint>

#include "format.h"
#include "streams.h"

namespace plix {

struct Dsp;
struct Image;

// Facts about the last decode, reset when it starts.
struct DecodeReport {
    // Block positions decoded (three coded blocks each).
    int64_t positions = 0;
    // Whether every block was read wholly from the data, none with filler.
    bool whole = true;
};

class Decoder {
public:
    // Reads a PLIX file or image in memory into image. On failure before the
    // image was created, image is left as it was.
    int32_t DecodeFile(const char *path, Image &image, const Dsp &dsp);
    int32_t DecodeMemory(const void *data, int32_t size, Image &image, const Dsp &dsp);

    const DecodeReport &Report() const { return report_; }

private:
    int32_t Decode(Image &image, const Dsp &dsp);
    void DecodeBlocks(Image &image, const PlixHeader &header, const Dsp &dsp);

    StreamReader reader_;
    DecodeReport report_;
};

}  // namespace plix
