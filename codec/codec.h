// The codec object behind the PlixCodec handle: an image, an encoder and a
// decoder, and the header of the file last written or read.
#pragma once

#include <cstdint>
#include <string>

#include "decoder.h"
#include "dsp/dsp.h"
#include "encoder.h"
#include "format.h"
#include "image.h"
#include "plix/plix.h"

namespace plix {

class Codec : public PlixCodec {
public:
    Codec();
    Codec(const Codec &) = delete;
    Codec &operator=(const Codec &) = delete;

    static Codec *From(PlixCodec *c) { return static_cast<Codec *>(c); }

    // The operations, called straight (never through the table) inside the
    // library.
    int32_t EncodeFile(const char *path, int32_t mode, int32_t qfactor, int32_t matrix);
    int32_t DecodeFile(const char *path);
    int32_t DecodeMemory(const void *data, int32_t size);
    int32_t DecodeToBitmapFile(const char *plixPath, const char *bmpPath);
    int32_t EncodeBitmapFile(const char *bmpPath, const char *plixPath, int32_t mode,
                             int32_t qfactor, int32_t matrix);
    // Encodes the image into out instead of a file (inside the library only).
    int32_t EncodeMemory(std::string &out, int32_t mode, int32_t qfactor, int32_t matrix);

    PlixHeader header;
    Image image;
    Encoder encoder;
    Decoder decoder;
    // Kernels this object uses; null means the process-wide choice. Tests and
    // the benchmark set a particular level here.
    const Dsp *dsp = nullptr;
    const Dsp &Kernels() const { return dsp ? *dsp : GetDsp(); }

private:
    // The header for an encode, or false when the image or the settings
    // cannot be coded.
    bool PrepareEncode(int32_t mode, int32_t qfactor, int32_t matrix);
};

}  // namespace plix
