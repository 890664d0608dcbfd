// The NEON kernel set: every entry it makes faster, by name; the others keep
// what the caller installed before.
#include "transform/dsp.h"
#include "transform/kernels_neon.h"

namespace plix {

void InstallNeonKernels(Dsp &d) {
    d.inverseDct = InverseDctNeon;
    d.forwardDct = ForwardDctNeon;
    d.forwardDctQuantise = ForwardDctQuantiseNeon;
    d.forwardBlocks = ForwardBlocksNeon;
    d.inverseBlocks = InverseBlocksNeon;
    d.forwardBlocks2 = ForwardBlocks2Neon;
    d.inverseBlocks2 = InverseBlocks2Neon;
    d.rgbToYcc = ConvertRgbToYccPixelsNeon;
    d.yccToRgb = ConvertYccToRgbNeon;
    d.forwardBlocks2Prepared = ForwardBlocks2PreparedNeon;
    d.inverseDecoded2 = InverseDecoded2Neon;
    d.packed = true;
    d.name = "neon";
}

}  // namespace plix
