#include "decode_report.h"

#include "codec.h"
#include "entropy/block_decoder.h"
#include "format.h"
#include "image.h"
#include "streams.h"

namespace plix {

bool DecodedWhole(PlixCodec *codec) {
    return codec && Codec::From(codec)->decoder.Report().whole;
}

bool CountWholeBlocks(const void *data, size_t size, BlockCount &out) {
    out = {};
    if (!data || size < kHeaderSize || size > static_cast<size_t>(INT32_MAX)) return false;
    StreamReader reader;
    if (!reader.OpenMemory(data, static_cast<int32_t>(size))) return false;
    uint8_t raw[kHeaderSize];
    reader.ReadBlock(raw, kHeaderSize);
    const PlixHeader h = ParseHeader(raw);
    if (!h.HasMagic() || h.matrix >= kMatrixSets || h.width < 0 || h.height < 0) return false;
    const int64_t columns = (int64_t{h.width} + 7) / 8;
    const int64_t rows = (int64_t{h.height} + 7) / 8;
    // The limit CreateImage applies.
    if (columns != 0 && rows * 8 > kMaxBufferBytes / 4 / (columns * 8)) return false;
    if (h.extra != 0) reader.Seek(h.extra, 1);

    out.total = 3 * columns * rows;
    // The bits a block takes do not depend on the quantisation table.
    int32_t q[64];
    for (int32_t &v : q) v = 1;
    alignas(32) int32_t block[64];
    int32_t predictors[3] = {0, 0, 0};
    for (int64_t i = 0; i < out.total; ++i) {
        const int c = static_cast<int>(i % 3);
        DecodeBlock(reader, block, q, c == 0 ? 0 : 1, predictors[c]);
        // Past the data the source delivers nothing more, so its count is final.
        if (reader.BitsTaken() > reader.DataBytes() * 8) break;
        out.whole = i + 1;
    }
    return true;
}

}  // namespace plix
