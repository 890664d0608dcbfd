#include "transform/colour.h"

namespace plix {

const YccToRgbTables &GetYccToRgbTables() {
    static const YccToRgbTables *tables = new YccToRgbTables();
    return *tables;
}

void RgbToYcc(uint8_t, uint8_t, uint8_t, uint8_t out[3]) { out[0] = out[1] = out[2] = 0; }
void ConvertRgbToYccPixels(const uint8_t *, uint8_t *, int32_t) {}
void ConvertYccToRgb(uint8_t *, int32_t, int32_t, int32_t, const YccToRgbTables &) {}
void ConvertYccToRgbMmx(uint8_t *, int32_t, int32_t, int32_t, const YccToRgbTables &) {}

} // namespace plix
