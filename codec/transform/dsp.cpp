#include "transform/dsp.h"

#include "transform/colour.h"
#include "transform/fdct.h"
#include "transform/idct.h"

namespace plix {

const Dsp &GetDsp() {
    static const Dsp dsp = {InverseDct, ForwardDct, ConvertYccToRgb, false};
    return dsp;
}

} // namespace plix
