// A fast deflate for PNG rows: one Huffman block of literals per call, its
// code fitted to that data, and no search for matches. Filtered photographs
// compress about as well this way as with zlib's match search, several
// times faster.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plix::tool {

// Room FastDeflate may need for size bytes.
inline size_t FastDeflateBound(size_t size) {
    return size / 8 * 15 + 1024;
}

// Writes data as one deflate block to out (raw deflate, bit 0 of out's first
// byte first), ending on a byte boundary: the last block of the stream when
// last, else followed by an empty stored block (a sync point). Blocks made
// this way may be joined in order into one stream. Returns the bytes written.
size_t FastDeflate(const uint8_t *data, size_t size, bool last, uint8_t *out);

}  // namespace plix::tool
