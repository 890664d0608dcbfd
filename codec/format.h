// The PLIX container: a 16-byte header, then one bit stream of 8x8 blocks.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plix {

inline constexpr size_t kHeaderSize = 16;
inline constexpr uint8_t kPlixMagic[4] = {0x50, 0x4C, 0x49, 0x58};  // "PLIX"
inline constexpr int kMatrixSets = 3;
inline constexpr int32_t kVersion = 8;  // shown as 0.08

// Header fields as they stand in the file (multi-byte fields little-endian).
struct PlixHeader {
    uint8_t magic[4] = {0, 0, 0, 0};
    uint8_t mode = 0;     // 0 YUV, anything else RGB
    uint8_t matrix = 0;   // 0..2
    uint8_t qfactor = 0;  // the programs write 0..15
    uint8_t extra = 0;    // bytes between header and bit stream
    int32_t height = 0;
    int32_t width = 0;

    bool HasMagic() const;
    // Block columns and rows of the padded picture, and its coded blocks;
    // for sizes that are not negative.
    int64_t BlockColumns() const { return (int64_t{width} + 7) / 8; }
    int64_t BlockRows() const { return (int64_t{height} + 7) / 8; }
    uint64_t ComponentBlocks() const {
        return 3 * static_cast<uint64_t>(BlockColumns()) * static_cast<uint64_t>(BlockRows());
    }
};

// What a decoder makes of the first bytes of a file.
enum class HeaderCheck {
    kOk,
    kShort,          // fewer than the header's 16 bytes
    kWrongMagic,     // not "PLIX"
    kUnknownMatrix,  // no tables exist for the matrix set
    kNegativeSize,   // no picture has it
};

// The one place a header is read and judged: out receives the fields
// whenever 16 bytes are there, whatever the verdict.
HeaderCheck ReadHeader(const void *data, size_t size, PlixHeader &out);

PlixHeader MakeHeader(int32_t mode, int32_t qfactor, int32_t matrix, int32_t width, int32_t height);
void SerializeHeader(const PlixHeader &h, uint8_t out[kHeaderSize]);
PlixHeader ParseHeader(const uint8_t in[kHeaderSize]);

}  // namespace plix
