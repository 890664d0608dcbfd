// The NEON kernel set, installed over the plain one on 64-bit ARM: every
// entry it makes faster, by name.
#include "kernel_table.h"
#include "transform/kernels.h"
#include "transform/kernels_neon.h"

namespace plix {

void InstallNeonKernels(Dsp &dsp) {
    InstallNeonBlockKernels(dsp);
    dsp.rgbToYcc = ConvertRgbToYccPixelsNeon;
    dsp.yccToRgb = ConvertYccToRgbNeon;
}

}  // namespace plix
