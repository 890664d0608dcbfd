// The prepared-block coder built with the AVX-512 set's flags, which bring
// BMI1 and BMI2: shifts and rotates by a register without the flags
// dependence, on the path from one symbol to the next.
#include "entropy/block_encoder.h"
#include "entropy/kernels.h"
#include "entropy/prepared_coder.h"
#include "kernel_table.h"

namespace plix {

namespace {

void EncodePreparedPositionsAvx512(StreamWriter &w, const PreparedBlock *blocks, int positions,
                                   int32_t predictors[3]) {
    // The AVX-512 preparation writes zigzag order.
    CodePreparedPositions<PreparedOrder::kZigzag>(w, blocks, positions, predictors);
}

}  // namespace

void InstallAvx512CoderKernels(Dsp &dsp) {
    dsp.encodePreparedPositions = EncodePreparedPositionsAvx512;
}

}  // namespace plix
