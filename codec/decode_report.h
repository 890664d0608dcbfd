// How far the data of a PLIX file lasted. The format has no end marker and a
// short body decodes with filler; programs that want to tell damaged files
// apart ask here. Not part of the library's exported interface: programs that
// link the codec core statically call it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "plix/plix.h"

namespace plix {

struct BlockCount {
    int64_t total = 0;  // coded blocks: 3 x (padded width / 8) x (padded height / 8)
    int64_t whole = 0;  // of them, those read wholly from the file's bytes
};

// After a successful DecodeFile or DecodeMemory on codec: true when every
// block was read wholly from the data.
bool DecodedWhole(PlixCodec *codec);

// Walks the blocks of the PLIX file in data, taking the same bits as the
// decoder but storing no pixels, and counts them. False when the decoder
// would refuse the data (short header, wrong magic, unknown matrix set, sizes
// no image can have, more than 2^31 - 1 bytes).
bool CountWholeBlocks(const void *data, size_t size, BlockCount &out);

}  // namespace plix
