// The prepared-block coder for the WebAssembly SIMD-128 transform, whose
// preparation leaves each block transposed (its last transposition saved).
#include "entropy/block_encoder.h"
#include "entropy/kernels.h"
#include "entropy/prepared_coder.h"
#include "kernel_table.h"

namespace plix {

namespace {

void EncodePreparedPositionsWasm(StreamWriter &w, const PreparedBlock *blocks, int positions,
                                 int32_t predictors[3]) {
    CodePreparedPositions<PreparedOrder::kTransposed>(w, blocks, positions, predictors);
}

}  // namespace

void InstallWasmCoderKernels(Dsp &dsp) {
    dsp.encodePreparedPositions = EncodePreparedPositionsWasm;
}

}  // namespace plix
