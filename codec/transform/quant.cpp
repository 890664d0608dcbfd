#include "transform/quant.h"

namespace plix {

const uint8_t QuantBaseTables[3][128] = {};

bool BuildQuantTables(uint8_t matrix, uint8_t, int32_t table0[64], int32_t table1[64]) {
    if (matrix > 2) return false;
    for (int i = 0; i < 64; ++i) table0[i] = table1[i] = 1;
    return true;
}

} // namespace plix
