// The kernel levels the tests compare, from the one list of levels
// (kDspLevels): those this build and this processor run.
#pragma once

#include <vector>

#include "dsp/dsp.h"

namespace plix::test {

// Every level run here, the plain one first.
inline const std::vector<const Dsp *> &KernelLevels() {
    static const std::vector<const Dsp *> levels = [] {
        std::vector<const Dsp *> out;
        for (DspLevel l : kDspLevels) {
            if (const Dsp *d = GetDspLevel(l)) out.push_back(d);
        }
        return out;
    }();
    return levels;
}

// The same without the plain level, for comparisons against it.
inline const std::vector<const Dsp *> &FastKernelLevels() {
    static const std::vector<const Dsp *> levels = [] {
        const Dsp *plain = GetDspLevel(DspLevel::kPlain);
        std::vector<const Dsp *> out;
        for (const Dsp *d : KernelLevels()) {
            if (d != plain) out.push_back(d);
        }
        return out;
    }();
    return levels;
}

// Every level keeping whatever the bits (KeepingAlways), so that each
// transform level decodes kept strips.
inline const std::vector<Dsp> &KeepingKernelLevels() {
    static const std::vector<Dsp> levels = [] {
        std::vector<Dsp> out;
        for (const Dsp *d : KernelLevels()) out.push_back(KeepingAlways(*d));
        return out;
    }();
    return levels;
}

}  // namespace plix::test
