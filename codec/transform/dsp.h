// Block and colour kernels, chosen once per process for this processor.
// Every variant gives the same results as the plain one.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plix {

struct PreparedBlock;
struct QuantDivisors;
struct YccToRgbTables;

struct Dsp {
    // Dequantised coefficients in, samples 0..255 out, in place.
    void (*inverseDct)(int32_t block[64]);
    // Level-shifted samples in, coefficients out, in place.
    void (*forwardDct)(int32_t block[64]);
    // The same followed by quantisation.
    void (*forwardDctQuantise)(int32_t block[64], const QuantDivisors &div);
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
    // left one, 3 to 5 for the right one): the same results as two calls of
    // the single forms, which the wide kernels beat by pairing the blocks.
    void (*forwardBlocks2)(const uint8_t *pixels, size_t rowBytes, const QuantDivisors &luma,
                           const QuantDivisors &chroma, int32_t blocks[6][64]);
    void (*inverseBlocks2)(int32_t blocks[6][64], uint8_t *pixels, size_t rowBytes);
    // count pixels from RGB to YCbCr, src to dst (the same or disjoint).
    void (*rgbToYcc)(const uint8_t *src, uint8_t *dst, int32_t count);
    // Image area of a pixel buffer from YCbCr to RGB, in place.
    void (*yccToRgb)(uint8_t *pixels, int32_t paddedWidth, int32_t width, int32_t height,
                     const YccToRgbTables &tables);
    // forwardBlocks2 with the six blocks prepared for the fast coder instead
    // (PrepareBlock of each); null where the plain coder path is faster. The
    // transform keeps every coefficient within -256..256, so each preparation
    // succeeds.
    void (*forwardBlocks2Prepared)(const uint8_t *pixels, size_t rowBytes, const QuantDivisors &luma,
                                   const QuantDivisors &chroma, PreparedBlock blocks[6]);
    // inverseBlocks2 for blocks straight from the decoder
    // (DecodePositionsRaw): entries 1..63 are products not yet limited to
    // -256..255, which this does, and a block whose bit k is set in dcOnly
    // is taken as its entry 0 alone, the others holding anything. Null where
    // the decoder's own limit and clearing are faster. With tables, the
    // pixels are also converted to RGB as yccToRgb does (byte 3 becomes 0).
    void (*inverseDecoded2)(int32_t blocks[6][64], uint32_t dcOnly, uint8_t *pixels, size_t rowBytes,
                            const YccToRgbTables *tables);
    // True when the packed-integer variants are in use.
    bool packed;
    const char *name;
};

// The plain forms of forwardBlocks and inverseBlocks.
void ForwardBlocks(const uint8_t *pixels, size_t rowBytes, const QuantDivisors &luma,
                   const QuantDivisors &chroma, int32_t blocks[3][64]);
void InverseBlocks(int32_t blocks[3][64], uint8_t *pixels, size_t rowBytes);

// The plain form of forwardBlocks2Prepared: forwardBlocks2 of the plain
// kernels, then PrepareBlock; false when a preparation fails.
bool ForwardBlocks2Prepared(const uint8_t *pixels, size_t rowBytes, const QuantDivisors &luma,
                            const QuantDivisors &chroma, PreparedBlock blocks[6]);

// Thread-safe; the choice is made on the first call.
const Dsp &GetDsp();

// A given set of variants, for tests and benchmarks: null when this processor
// (or this build) cannot run it.
enum class DspLevel { kPlain, kSse2, kAvx2, kNeon };
const Dsp *GetDspLevel(DspLevel level);

}  // namespace plix
