// The WebAssembly SIMD-128 kernel set, installed over the plain one in the
// WebAssembly build: every entry it makes faster, by name.
#include "kernel_table.h"
#include "transform/kernels.h"
#include "transform/kernels_wasm.h"

namespace plix {

void InstallWasmKernels(Dsp &dsp) {
    dsp.inverseDct = InverseDctWasm;
    dsp.forwardBlocks = ForwardBlocksWasm;
    dsp.inverseBlocks = InverseBlocksWasm;
    dsp.forwardBlocks2Prepared = ForwardBlocks2PreparedWasm;
    dsp.inverseDecoded2 = InverseDecoded2Wasm;
    dsp.rgbToYcc = ConvertRgbToYccPixelsWasm;
    dsp.yccToRgb = ConvertYccToRgbWasm;
}

}  // namespace plix
