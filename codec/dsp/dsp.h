// The kernel table chosen for this processor, and each level of it for the
// tests and the benchmark. dsp.cpp is the one place that decides which
// kernel sets are installed; transform/ and entropy/ only provide them.
#pragma once

#include <cstdint>

#include "kernel_table.h"

namespace plix {

struct YccToRgbTables;

// Thread-safe; the choice is made on the first call.
const Dsp &GetDsp();

// A given level, for tests and benchmarks: null when this processor (or this
// build) cannot run it. A level holds every set up to it.
enum class DspLevel { kPlain, kSse2, kAvx2, kNeon, kAvx512, kWasm };
const Dsp *GetDspLevel(DspLevel level);

// Tests and fuzzers: level k keeping the positions its threads decode ahead
// whatever the bits a position takes, with the plain forms where it has no
// kernels for that.
Dsp KeepingAlways(const Dsp &k);

// Every level: plain, the x86 ones by width, NEON, WebAssembly. No processor runs two
// families, so the last one it runs is the widest, which GetDsp takes.
inline constexpr DspLevel kDspLevels[] = {DspLevel::kPlain, DspLevel::kSse2, DspLevel::kAvx2,
                                          DspLevel::kAvx512, DspLevel::kNeon, DspLevel::kWasm};

// The packed variants by the names the pipeline knows them under: whatever
// the chosen level put in Dsp::inverseDct and Dsp::yccToRgb.
void InverseDctMmx(int32_t block[64]);
void ConvertYccToRgbMmx(uint8_t *pixels, int32_t paddedWidth, int32_t width, int32_t height,
                        const YccToRgbTables &tables);

}  // namespace plix
