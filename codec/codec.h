// The codec object behind the PlixCodec handle.
#pragma once

#include <cstdint>
#include <string>

#include "format.h"
#include "plix/plix.h"
#include "streams.h"
#include "transform/cpu_features.h"
#include "transform/dsp.h"

namespace plix {

// Largest pixel buffer, in bytes: the format's sizes are 32-bit.
inline constexpr int64_t kMaxBufferBytes = 0x7FFFFFFF;

class Codec : public PlixCodec {
public:
    Codec();
    ~Codec();
    Codec(const Codec &) = delete;
    Codec &operator=(const Codec &) = delete;

    static Codec *From(PlixCodec *c) { return static_cast<Codec *>(c); }

    // Image.
    int32_t CreateImage(int32_t w, int32_t h);
    uint32_t GetPixel(int32_t x, int32_t y) const;
    void SetPixel(int32_t x, int32_t y, uint32_t colour);
    void ReleaseImage();
    // CreateImage, optionally without filling the buffer with 0xFF bytes (for
    // a decoder that writes every byte of it).
    int32_t AllocateImage(int32_t w, int32_t h, bool fill);

    // Files and memory.
    int32_t EncodeFile(const char *path, int32_t mode, int32_t qfactor, int32_t matrix);
    int32_t DecodeFile(const char *path);
    int32_t DecodeMemory(const void *data, int32_t size);
    int32_t DecodeToBitmapFile(const char *plixPath, const char *bmpPath);
    int32_t EncodeBitmapFile(const char *bmpPath, const char *plixPath, int32_t mode,
                             int32_t qfactor, int32_t matrix);

    // Encodes the image into out instead of a file (inside the library only).
    int32_t EncodeMemory(std::string &out, int32_t mode, int32_t qfactor, int32_t matrix);

    PlixHeader header;
    StreamReader reader;
    StreamWriter writer;
    int32_t width = 0;
    int32_t height = 0;
    int32_t paddedWidth = 0;
    int32_t paddedHeight = 0;
    int32_t quant[2][64] = {};
    alignas(32) int32_t block[3][64] = {};
    int32_t dcPredictor[3] = {};
    CpuFeatures cpu;
    int32_t useMmx = 0;
    uint8_t *pixels = nullptr;
    // Whether the last decode read every block wholly from the data (no
    // filler): see decode_report.h.
    bool dataLasted = true;
    // Kernels this object uses; null means the process-wide choice. Tests and
    // the benchmark set a particular variant here.
    const Dsp *dsp = nullptr;
    const Dsp &Kernels() const { return dsp ? *dsp : GetDsp(); }

private:
    size_t pixelBytes_ = 0;  // size of the pixel buffer
    int32_t EncodeToWriter(int32_t mode, int32_t qfactor, int32_t matrix);
    int32_t DecodeFromReader();
    void EncodeBlocks(int32_t mode);
    void DecodeBlocks();
};

} // namespace plix
