#include "decode_report.h"

#include <algorithm>

#include "codec.h"
#include "format.h"
#include "image.h"
#include "streams.h"
#include "strips.h"

namespace plix {

bool DecodedWhole(PlixCodec *codec) {
    return codec && Codec::From(codec)->decoder.Report().whole;
}

bool CountWholeBlocks(const void *data, size_t size, BlockCount &out) {
    out = {};
    PlixHeader h;
    if (ReadHeader(data, size, h) != HeaderCheck::kOk || size > static_cast<size_t>(INT32_MAX))
        return false;
    // The limit CreateImage applies.
    const int64_t columns = h.BlockColumns(), rows = h.BlockRows();
    if (columns != 0 && rows * 8 > kMaxBufferBytes / 4 / (columns * 8)) return false;
    const size_t start = std::min(size, kHeaderSize + h.extra);
    StreamReader reader;
    reader.OpenRegion(static_cast<const uint8_t *>(data) + start, size - start, 0);
    out.total = static_cast<int64_t>(h.ComponentBlocks());
    const int32_t predictors[3] = {0, 0, 0};
    out.whole = static_cast<int64_t>(CountBlocksWithin(reader, h.ComponentBlocks(), predictors,
                                                       uint64_t{size - start} * 8));
    return true;
}

}  // namespace plix
