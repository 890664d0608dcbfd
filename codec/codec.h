// The codec object behind the PlixCodec handle: an image, an encoder and a
// decoder.
#pragma once

#include <cstdint>
#include <string>

#include "decoder.h"
#include "dsp/dsp.h"
#include "encoder.h"
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

    Image &Picture() { return image_; }
    const Image &Picture() const { return image_; }
    // What the last decode found.
    const DecodeReport &LastDecode() const { return decoder_.Report(); }
    // Kernels this object uses; null means the process-wide choice. Tests and
    // the benchmark set a particular level here.
    void UseKernels(const Dsp *dsp) { dsp_ = dsp; }

private:
    const Dsp &Kernels() const { return dsp_ ? *dsp_ : GetDsp(); }
    // Whether the image and the settings can be coded.
    bool CanEncode(int32_t matrix) const;

    Image image_;
    Encoder encoder_;
    Decoder decoder_;
    const Dsp *dsp_ = nullptr;
};

}  // namespace plix
