// Encoder state: the bit writer and its buffer, kept from one encode to the
// next. Everything else an encode needs lives in the call.
#pragma once

#include <cstdint>
#include <string>

#include "format.h"
#include "streams.h"

namespace plix {

struct Dsp;
struct Image;

class Encoder {
public:
    // Writes header and image as a PLIX file (replaced only when every write
    // succeeded) or appends them to out. 0 when the file cannot be written.
    int32_t EncodeFile(const Image &image, const PlixHeader &header, const char *path,
                       const Dsp &dsp);
    int32_t EncodeMemory(const Image &image, const PlixHeader &header, std::string &out,
                         const Dsp &dsp);

private:
    int32_t Encode(const Image &image, const PlixHeader &header, const Dsp &dsp);

    StreamWriter writer_;
};

}  // namespace plix
