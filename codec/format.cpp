#include "format.h"

#include <cstring>

#include "platform/byte_order.h"

namespace plix {

namespace {

// Sizes are signed in the file; the conversions are defined for every value.
void PutLe32(uint8_t *p, int32_t v) {
    platform::PutLe32(p, static_cast<uint32_t>(v));
}
int32_t GetLe32(const uint8_t *p) {
    return static_cast<int32_t>(platform::Le32(p));
}

}  // namespace

bool PlixHeader::HasMagic() const {
    return std::memcmp(magic, kPlixMagic, 4) == 0;
}

PlixHeader MakeHeader(int32_t mode, int32_t qfactor, int32_t matrix, int32_t width,
                      int32_t height) {
    PlixHeader h;
    std::memcpy(h.magic, kPlixMagic, 4);
    // The header keeps the low 8 bits of each setting.
    h.mode = static_cast<uint8_t>(mode);
    h.matrix = static_cast<uint8_t>(matrix);
    h.qfactor = static_cast<uint8_t>(qfactor);
    h.extra = 0;
    h.height = height;
    h.width = width;
    return h;
}

void SerializeHeader(const PlixHeader &h, uint8_t out[kHeaderSize]) {
    std::memcpy(out, h.magic, 4);
    out[4] = h.mode;
    out[5] = h.matrix;
    out[6] = h.qfactor;
    out[7] = h.extra;
    PutLe32(out + 8, h.height);
    PutLe32(out + 12, h.width);
}

PlixHeader ParseHeader(const uint8_t in[kHeaderSize]) {
    PlixHeader h;
    std::memcpy(h.magic, in, 4);
    h.mode = in[4];
    h.matrix = in[5];
    h.qfactor = in[6];
    h.extra = in[7];
    h.height = GetLe32(in + 8);
    h.width = GetLe32(in + 12);
    return h;
}

HeaderCheck ReadHeader(const void *data, size_t size, PlixHeader &out) {
    if (!data || size < kHeaderSize) return HeaderCheck::kShort;
    out = ParseHeader(static_cast<const uint8_t *>(data));
    if (!out.HasMagic()) return HeaderCheck::kWrongMagic;
    if (out.matrix >= kMatrixSets) return HeaderCheck::kUnknownMatrix;
    if (out.width < 0 || out.height < 0) return HeaderCheck::kNegativeSize;
    return HeaderCheck::kOk;
}

}  // namespace plix
