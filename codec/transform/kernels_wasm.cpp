// The WebAssembly SIMD-128 kernel set, installed over the plain one in the
// WebAssembly build: every entry it makes faster, by name.
#include "kernel_table.h"
#include "transform/kernels.h"
#include "transform/kernels_wasm.h"

namespace plix {

void InstallWasmKernels(Dsp &dsp) {
    InstallWasmBlockKernels(dsp);
    dsp.rgbToYcc = ConvertRgbToYccPixelsWasm;
    dsp.yccToRgb = ConvertYccToRgbWasm;
}

}  // namespace plix
