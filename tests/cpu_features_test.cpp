// Processor feature probe and the once-per-process choice of kernels.
#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

#include "dsp/cpu_features.h"
#include "dsp/dsp.h"
#include "kernel_levels.h"

namespace plix {
namespace {

TEST(CpuFeatures, AnswerIsConfirmedAndReported) {
    const CpuFeatures cpu;
    EXPECT_EQ(cpu.GetSupportedFeatures(), cpu.ConfirmedFlags() & cpu.FeatureFlags());
    // Only the four probed features can be confirmed.
    const uint32_t probed =
        CpuFeatures::kMmx | CpuFeatures::kSse | CpuFeatures::kSse2 | CpuFeatures::k3dNow;
    EXPECT_EQ(cpu.ConfirmedFlags() & ~probed, 0u);
    // 3DNow! is confirmed only when the extended flags report it.
    if ((cpu.ExtendedFeatureFlags() & CpuFeatures::k3dNow) == 0) {
        EXPECT_EQ(cpu.ConfirmedFlags() & CpuFeatures::k3dNow, 0u);
    }
    if (!cpu.CpuidAvailable()) {
        EXPECT_EQ(cpu.Signature(), 0u);
        EXPECT_EQ(cpu.FeatureFlags(), 0u);
        EXPECT_EQ(cpu.ExtendedFeatureFlags(), 0u);
        EXPECT_EQ(cpu.ConfirmedFlags(), 0u);
    }
}

TEST(CpuFeatures, SameAnswerEveryTime) {
    const CpuFeatures a, b;
    EXPECT_EQ(a.CpuidAvailable(), b.CpuidAvailable());
    EXPECT_EQ(a.Signature(), b.Signature());
    EXPECT_EQ(a.FeatureFlags(), b.FeatureFlags());
    EXPECT_EQ(a.ConfirmedFlags(), b.ConfirmedFlags());
    EXPECT_EQ(a.ExtendedFeatureFlags(), b.ExtendedFeatureFlags());
    EXPECT_EQ(a.HasAvx2(), b.HasAvx2());
    EXPECT_EQ(a.HasAvx512(), b.HasAvx512());
}

#if defined(__x86_64__)
TEST(CpuFeatures, EveryX86_64ProcessorHasThePackedPath) {
    const CpuFeatures cpu;
    EXPECT_EQ(cpu.CpuidAvailable(), 1u);
    EXPECT_NE(cpu.Signature(), 0u);
    const uint32_t need = CpuFeatures::kMmx | CpuFeatures::kSse | CpuFeatures::kSse2;
    EXPECT_EQ(cpu.GetSupportedFeatures() & need, need);
    EXPECT_NE(&GetDsp(), GetDspLevel(DspLevel::kPlain));
    EXPECT_NE(GetDspLevel(DspLevel::kSse2), nullptr);
    EXPECT_EQ(GetDspLevel(DspLevel::kAvx2) != nullptr, cpu.HasAvx2());
    EXPECT_EQ(GetDspLevel(DspLevel::kAvx512) != nullptr, cpu.HasAvx512());
    // The wider set needs everything the narrower one does.
    if (cpu.HasAvx512()) {
        EXPECT_TRUE(cpu.HasAvx2());
    }
    EXPECT_EQ(GetDspLevel(DspLevel::kNeon), nullptr);
}
#elif defined(__aarch64__)
// Advanced SIMD comes with every 64-bit ARM processor: no probe, always NEON.
TEST(CpuFeatures, Arm64ProcessorsTakeTheNeonPath) {
    const CpuFeatures cpu;
    EXPECT_EQ(cpu.GetSupportedFeatures(), 0u);
    EXPECT_EQ(GetDspLevel(DspLevel::kSse2), nullptr);
    EXPECT_EQ(GetDspLevel(DspLevel::kAvx2), nullptr);
    EXPECT_EQ(GetDspLevel(DspLevel::kAvx512), nullptr);
    ASSERT_NE(GetDspLevel(DspLevel::kNeon), nullptr);
    EXPECT_EQ(&GetDsp(), GetDspLevel(DspLevel::kNeon));
}
#elif defined(__EMSCRIPTEN__)
// WebAssembly: the module is built with SIMD-128, so its level is the choice.
TEST(CpuFeatures, WebAssemblyTakesTheSimd128Path) {
    const CpuFeatures cpu;
    EXPECT_EQ(cpu.GetSupportedFeatures(), 0u);
    EXPECT_EQ(GetDspLevel(DspLevel::kSse2), nullptr);
    EXPECT_EQ(GetDspLevel(DspLevel::kNeon), nullptr);
    ASSERT_NE(GetDspLevel(DspLevel::kWasm), nullptr);
    EXPECT_EQ(&GetDsp(), GetDspLevel(DspLevel::kWasm));
}
#else
TEST(CpuFeatures, OtherProcessorsTakeThePlainPath) {
    const CpuFeatures cpu;
    EXPECT_EQ(cpu.GetSupportedFeatures(), 0u);
    EXPECT_EQ(&GetDsp(), GetDspLevel(DspLevel::kPlain));
}
#endif

TEST(CpuFeatures, TrialOfAnUnknownBitRunsNothing) {
    EXPECT_EQ(CpuFeatures::TryFeature(1u << 0), 1u);
    EXPECT_EQ(CpuFeatures::TryFeature(1u << 30), 1u);
}

// The MMX trial shares the x87 registers; the probe must leave them usable.
TEST(CpuFeatures, FloatingPointWorksAfterTheProbe) {
    volatile long double a = 1.25L, b = 3.0L;
    const long double before = a * b;
    const CpuFeatures cpu;
    if (cpu.GetSupportedFeatures() & CpuFeatures::kMmx) {
        EXPECT_EQ(CpuFeatures::TryFeature(CpuFeatures::kMmx), 1u);
    }
    const long double after = a * b;
    EXPECT_EQ(before, after);
    EXPECT_EQ(after, 3.75L);
    volatile double c = 0.1;
    EXPECT_EQ(c * 3, 0.1 * 3);
}

TEST(Dsp, ChosenOnceForTheProcessAndConsistent) {
    const Dsp *first = &GetDsp();
    std::vector<std::thread> threads;
    std::vector<const Dsp *> seen(8);
    for (size_t i = 0; i < seen.size(); ++i)
        threads.emplace_back([&seen, i] { seen[i] = &GetDsp(); });
    for (auto &t : threads) t.join();
    for (const Dsp *d : seen) EXPECT_EQ(d, first);

    const Dsp *plain = GetDspLevel(DspLevel::kPlain);
    ASSERT_NE(plain, nullptr);
    const std::vector<const Dsp *> &all = test::KernelLevels();
    const std::set<const Dsp *> levels(all.begin(), all.end());
    EXPECT_EQ(levels.count(first), 1u);
    // The best level this processor runs.
    const Dsp *best = GetDspLevel(DspLevel::kWasm);
    if (!best) best = GetDspLevel(DspLevel::kNeon);
    if (!best) best = GetDspLevel(DspLevel::kAvx512);
    if (!best) best = GetDspLevel(DspLevel::kAvx2);
    if (!best) best = GetDspLevel(DspLevel::kSse2);
    if (!best) best = plain;
    EXPECT_EQ(first, best);
}

}  // namespace
}  // namespace plix
