// The coder's kernels for the table: the plain forms the plain level starts
// from, and the installers of the forms built for an instruction set.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plix {

struct Dsp;
struct PreparedBlock;
class StreamReader;
class StreamWriter;

// positions block positions in a row (up to 10), three blocks each (classes
// 0, 1 and 1, with predictors[0..2], tables in zigzag order with
// kZigzagQuantEntries entries), for a kernel
// that finishes the dequantisation (Dsp::inverseDecoded2): entry 0 is
// dequantised and limited, entries 1..63 hold the products of value and table
// entry modulo 2^32, not yet limited to -256..255, and for each block without
// AC coefficients (bit 3 * position + component of the result set) only entry
// 0 is written. The plain form, in the block decoder; Dsp::decodePositionsRaw
// holds the one to use.
uint32_t DecodePositionsRaw(StreamReader &r, int32_t (*blocks)[64], int positions,
                            const int32_t *luma, const int32_t *chroma, int32_t predictors[3]);

// Dsp::keepPosition and Dsp::restoreBlock, the plain forms (block decoder),
// which no level installs: the tests' reference.
size_t KeepPosition(const int32_t (*blocks)[64], uint32_t dcOnly, uint64_t masks[3],
                    int16_t *values);
size_t RestoreBlock(uint64_t mask, const int16_t *values, int32_t block[64]);

// positions block positions in a row, three prepared blocks each (classes 0,
// 1 and 1, with predictors[0..2]): the same bits as EncodePreparedBlock block
// by block, with one hand-over of the writer's buffer for them all. The plain
// form, in the block encoder; Dsp::encodePreparedPositions holds the one to
// use.
void EncodePreparedPositions(StreamWriter &w, const PreparedBlock *blocks, int positions,
                             int32_t predictors[3]);

void InstallBmi2Kernels(Dsp &dsp);  // block_decoder.cpp, x86-64: the decoder with BMI2 shifts
// block_encoder_avx512.cpp, x86-64: the prepared-block coder reading zigzag
// order, so only with the transform's AVX-512 set, whose preparation writes it.
void InstallAvx512CoderKernels(Dsp &dsp);
// block_encoder_wasm.cpp, WebAssembly: the prepared-block coder reading
// transposed blocks, so only with the transform's SIMD-128 set.
void InstallWasmCoderKernels(Dsp &dsp);

}  // namespace plix
