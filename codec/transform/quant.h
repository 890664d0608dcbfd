// Quantisation matrix sets and their scaling by the q-factor.
#pragma once

#include <cstdint>

namespace plix {

// Three sets of 128 bytes: class 0 table, then class 1 table, row-major.
extern const uint8_t QuantBaseTables[3][128];

// Fills the class 0 and class 1 tables (entries 1..254). False, with the
// tables untouched, for a matrix above 2.
bool BuildQuantTables(uint8_t matrix, uint8_t qfactor, int32_t table0[64], int32_t table1[64]);

}  // namespace plix
