#include "transform/cpu_features.h"

namespace plix {

CpuFeatures::CpuFeatures() {}

} // namespace plix
