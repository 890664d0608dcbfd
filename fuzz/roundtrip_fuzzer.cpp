// Round trip of a small image with settings taken from the input: encoding
// to memory and to a file gives the same bytes and leaves the caller's pixels
// alone; decoding from memory, from the file, and from memory again gives the
// same pixels each time. The file side uses the plain kernels, the memory
// side the best for this processor: both must agree bit for bit.
//
// Input: width - 1, height - 1 (low 6 bits each), mode byte, q-factor byte,
// matrix (0..3; 3 must be refused), a flag byte (bit 0: the input also fills
// the padding), then pixel bytes, repeated as needed.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "codec.h"
#include "dsp/dsp.h"
#include "fuzz_util.h"

using plix::fuzz::BufferBytes;
using plix::fuzz::ScratchPath;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 6) return -1;
    const int32_t width = 1 + (data[0] & 63);
    const int32_t height = 1 + (data[1] & 63);
    const int32_t mode = data[2];
    const int32_t qfactor = data[3];
    const int32_t matrix = data[4] & 3;
    const bool fillPadding = data[5] & 1;
    const uint8_t *body = data + 6;
    const size_t bodySize = size - 6;

    plix::Codec source;
    FUZZ_CHECK(source.image.Create(width, height) == 1);
    const size_t bytes = BufferBytes(source);
    if (bodySize > 0) {
        if (fillPadding) {
            for (size_t i = 0; i < bytes; ++i) source.image.pixels[i] = body[i % bodySize];
        } else {
            size_t k = 0;
            for (int32_t y = 0; y < height; ++y)
                for (int32_t x = 0; x < width; ++x, k += 3)
                    source.image.SetPixel(x, y,
                                          uint32_t{body[k % bodySize]} |
                                              uint32_t{body[(k + 1) % bodySize]} << 8 |
                                              uint32_t{body[(k + 2) % bodySize]} << 16);
        }
    }
    const std::vector<uint8_t> before(source.image.pixels, source.image.pixels + bytes);

    std::string encoded;
    const int32_t okMemory = source.EncodeMemory(encoded, mode, qfactor, matrix);
    FUZZ_CHECK(std::memcmp(before.data(), source.image.pixels, bytes) == 0);
    const std::string path = ScratchPath("roundtrip.plx");
    const plix::Dsp *plain = plix::GetDspLevel(plix::DspLevel::kPlain);
    plix::Codec plainSource;
    plainSource.dsp = plain;
    FUZZ_CHECK(plainSource.image.Create(width, height) == 1);
    std::memcpy(plainSource.image.pixels, source.image.pixels, bytes);
    const int32_t okFile = plainSource.EncodeFile(path.c_str(), mode, qfactor, matrix);
    FUZZ_CHECK(std::memcmp(before.data(), plainSource.image.pixels, bytes) == 0);
    FUZZ_CHECK(okMemory == okFile);
    if (matrix > 2) {
        FUZZ_CHECK(okMemory == 0 && encoded.empty());
        return 0;
    }
    FUZZ_CHECK(okMemory == 1);
    std::string written;
    FUZZ_CHECK(plix::fuzz::ReadFile(path, written));
    FUZZ_CHECK(written == encoded);
    FUZZ_CHECK(encoded.size() >= 16 && std::memcmp(encoded.data(), "PLIX", 4) == 0);
    FUZZ_CHECK(static_cast<uint8_t>(encoded[4]) == static_cast<uint8_t>(mode));
    FUZZ_CHECK(static_cast<uint8_t>(encoded[6]) == static_cast<uint8_t>(qfactor));

    plix::Codec first;
    FUZZ_CHECK(first.DecodeMemory(encoded.data(), static_cast<int32_t>(encoded.size())) == 1);
    FUZZ_CHECK(first.image.width == width && first.image.height == height);
    plix::Codec fromFile;
    fromFile.dsp = plain;
    FUZZ_CHECK(fromFile.DecodeFile(path.c_str()) == 1);
    FUZZ_CHECK(std::memcmp(first.image.pixels, fromFile.image.pixels, bytes) == 0);
    const std::vector<uint8_t> decoded(first.image.pixels, first.image.pixels + bytes);
    FUZZ_CHECK(first.DecodeMemory(encoded.data(), static_cast<int32_t>(encoded.size())) == 1);
    FUZZ_CHECK(std::memcmp(decoded.data(), first.image.pixels, bytes) == 0);
    return 0;
}
