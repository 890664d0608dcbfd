// The shape of the kernel table: one pointer per block, colour and coder
// kernel. Every entry of every level gives the same results as the plain one.
//
// Each subsystem fills in its own entries (transform/kernels.h,
// entropy/kernels.h), overriding by field name only those it speeds up;
// dsp/dsp.cpp decides which are installed. This header includes nothing of
// the codec, so that both may include it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plix {

struct KeptPosition;
struct PositionNote;
struct PreparedBlock;
enum class PreparedOrder;  // coefficients.h
struct QuantDivisors;
struct YccToRgbTables;
class StreamReader;
class StreamWriter;

struct Dsp {
    const char *name;
    // Dequantised coefficients in, samples 0..255 out, in place; the packed
    // variant InverseDctMmx where the set has one.
    void (*inverseDct)(int32_t block[64]);
    // One block position, all three components: the 8 x 8 pixels at pixels
    // (rows rowBytes apart) are level-shifted, transformed and quantised into
    // blocks[0] (byte 2, with luma), blocks[1] (byte 1) and blocks[2] (byte 0,
    // both with chroma).
    void (*forwardBlocks)(const uint8_t *pixels, size_t rowBytes, const QuantDivisors &luma,
                          const QuantDivisors &chroma, int32_t blocks[3][64]);
    // The way back: three blocks of dequantised coefficients are inverse
    // transformed into bytes 2, 1 and 0 of the 8 x 8 pixels, and byte 3 is set
    // to 0xFF (what a new image holds there), so the decoder needs no filled
    // buffer and the stores need no reads. The blocks may be used as scratch.
    void (*inverseBlocks)(int32_t blocks[3][64], uint8_t *pixels, size_t rowBytes);
    // Two neighbouring positions at once (16 x 8 pixels; blocks 0 to 2 for the
    // left one, 3 to 5 for the right one), as forwardBlocks gives them, each
    // block then prepared for the coder (PrepareBlock, coefficients.h). The transform keeps
    // every coefficient within -256..256, so each preparation succeeds.
    void (*forwardBlocks2Prepared)(const uint8_t *pixels, size_t rowBytes,
                                   const QuantDivisors &luma, const QuantDivisors &chroma,
                                   PreparedBlock blocks[6]);
    // The same for pixels still in RGB (bytes 0, 1, 2: blue, green, red),
    // each converted as rgbToYcc converts it but inside the kernel, so the
    // pixels are read once and no converted copy is stored. Null where the
    // set has none.
    void (*forwardRgbBlocks2Prepared)(const uint8_t *pixels, size_t rowBytes,
                                      const QuantDivisors &luma, const QuantDivisors &chroma,
                                      PreparedBlock blocks[6]);
    // Two positions' blocks from the bit stream, as DecodePositionsRaw
    // (entropy/kernels.h) describes; the decoder's variants differ only in
    // their instructions.
    uint32_t (*decodePositionsRaw)(StreamReader &r, int32_t (*blocks)[64], int positions,
                                   const int32_t *luma, const int32_t *chroma,
                                   int32_t predictors[3]);
    // inverseBlocks of two neighbouring positions (as above), for blocks
    // straight from decodePositionsRaw: entries
    // 1..63 are products not yet limited to -256..255, which this does, and a
    // block whose bit k is set in dcOnly is taken as its entry 0 alone, the
    // others holding anything. With tables, the pixels are also converted to
    // RGB as yccToRgb does (byte 3 becomes 0).
    void (*inverseDecoded2)(int32_t blocks[6][64], uint32_t dcOnly, uint8_t *pixels,
                            size_t rowBytes, const YccToRgbTables *tables);
    // The same for pixels 32-byte aligned, rowBytes a multiple of 32, with
    // stores that bypass the caches: for a picture written once and read
    // later, it keeps the decoder's tables cached and spares reading each line
    // in before it is overwritten. A cache line must be written one way only:
    // a row of the pair that is one whole line is streamed; where rows are
    // half a line off, each half is streamed only if the neighbour it shares
    // its line with is streamed too (neighbours bit 0: the pair to the left,
    // bit 1: the pair to the right). Null where the set has none; after the
    // last call, finishStreaming orders those stores before what follows.
    void (*inverseDecoded2Streaming)(int32_t blocks[6][64], uint32_t dcOnly, uint8_t *pixels,
                                     size_t rowBytes, const YccToRgbTables *tables,
                                     unsigned neighbours);
    // Four neighbouring positions wholly inside the image, as two calls of
    // inverseDecoded2 with tables (blocks 0..5 and 6..11, bits 0..5 and
    // 6..11 of dcOnly) give them; with stream as inverseDecoded2Streaming
    // does, neighbours telling of the pairs on either side of the four. Null
    // where the set has none.
    void (*inverseDecoded4)(int32_t blocks[12][64], uint32_t dcOnly, uint8_t *pixels,
                            size_t rowBytes, const YccToRgbTables &tables, unsigned neighbours,
                            bool stream);
    void (*finishStreaming)();
    // One position's three blocks as decodePositionsRaw leaves them (bits
    // 0..2 of dcOnly telling the DC-only ones) kept for later: masks[c] has
    // bit k set for each of entries 1..63 of block c that is not 0 (none for
    // a DC-only block), and those entries go to values in order, limited to
    // 16 bits (restoreBlock's readers limit them further). Returns how many;
    // values needs room for 189 + 16, which may all be written.
    size_t (*keepPosition)(const int32_t (*blocks)[64], uint32_t dcOnly, uint64_t masks[3],
                           int16_t *values);
    // Entries 1..63 of block back from a mask and values as keepPosition
    // left them, the others 0 (entry 0 too). Returns the values taken; the
    // 16 after them may be read.
    size_t (*restoreBlock)(uint64_t mask, const int16_t *values, int32_t block[64]);
    // Parts of streams whose positions take at least this many bits on
    // average are kept rather than read twice (keepPosition set): where the
    // transforms are cheap, reading the codes twice costs less for the
    // smaller positions.
    uint32_t keepFromBits;
    // KeepPositions (entropy/block_decoder.h); the variants differ only in
    // their instructions.
    size_t (*keepPositions)(StreamReader &r, int32_t predictors[3], uint64_t base, uint64_t stop,
                            PositionNote *out, KeptPosition *kept, size_t cap, int16_t *values,
                            size_t &used, size_t room, const int32_t *luma, const int32_t *chroma,
                            size_t (*keep)(const int32_t (*)[64], uint32_t, uint64_t *, int16_t *));
    // count pixels from RGB to YCbCr, src to dst (the same or disjoint).
    void (*rgbToYcc)(const uint8_t *src, uint8_t *dst, int32_t count);
    // Image area of a pixel buffer from YCbCr to RGB, in place; the packed
    // variant ConvertYccToRgbMmx where the set has one.
    void (*yccToRgb)(uint8_t *pixels, int32_t paddedWidth, int32_t width, int32_t height,
                     const YccToRgbTables &tables);
    // count pixels between the strip's four bytes and a caller's three, red
    // first when rgb is set (transform/pixel_order.h). Either may read and
    // write only the pixels asked for.
    void (*packPixels3)(const uint8_t *strip, uint8_t *out, size_t count, bool rgb);
    void (*unpackPixels3)(const uint8_t *in, uint8_t *strip, size_t count, bool rgb);
    // EncodePreparedPositions (entropy/kernels.h); the variants differ only
    // in their instructions.
    void (*encodePreparedPositions)(StreamWriter &w, const PreparedBlock *blocks, int positions,
                                    int32_t predictors[3]);
    // The order of the entries of the blocks forwardBlocks2Prepared and
    // forwardRgbBlocks2Prepared fill, which encodePreparedPositions reads.
    PreparedOrder preparedOrder;
};

}  // namespace plix
