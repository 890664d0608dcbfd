// Which packed-integer instruction sets the processor offers and the operating
// system lets us use.
#pragma once

#include <cstdint>

namespace plix {

class CpuFeatures {
public:
    static constexpr uint32_t kMmx = 1u << 23;
    static constexpr uint32_t kSse = 1u << 25;
    static constexpr uint32_t kSse2 = 1u << 26;
    static constexpr uint32_t k3dNow = 1u << 31;  // in the extended flags

    // Probes the processor; the answers never change afterwards.
    CpuFeatures();

    // Confirmed flags AND feature flags.
    uint32_t GetSupportedFeatures() const { return confirmed_ & features_; }

    uint32_t CpuidAvailable() const { return cpuidAvailable_; }
    uint32_t Signature() const { return signature_; }
    uint32_t FeatureFlags() const { return features_; }
    uint32_t ConfirmedFlags() const { return confirmed_; }
    uint32_t ExtendedFeatureFlags() const { return extended_; }

    // Answers for the kernel sets (not part of the feature words above):
    // SSE2 tried and confirmed; AVX2 with the operating system saving the
    // 256-bit register state; BMI2's flagless shifts; AVX-512 F, BW, CD, DQ,
    // VL, VBMI and VNNI, with BMI1 and BMI2, and the system saving the
    // 512-bit and mask register state.
    bool HasSse2() const { return (GetSupportedFeatures() & kSse2) != 0; }
    bool HasAvx2() const { return avx2_; }
    bool HasBmi2() const { return bmi2_; }
    bool HasAvx512() const { return avx512_; }

    // Executes one instruction of the feature with that bit (MMX, 3DNow!, SSE,
    // SSE2) and reports whether it ran; a bit outside those runs nothing and
    // answers 1. Call it only for a feature the processor reports.
    static uint32_t TryFeature(uint32_t bit);

private:
    uint32_t cpuidAvailable_ = 0;
    uint32_t signature_ = 0;
    uint32_t features_ = 0;
    uint32_t confirmed_ = 0;
    uint32_t extended_ = 0;
    bool avx2_ = false;
    bool bmi2_ = false;
    bool avx512_ = false;
};

}  // namespace plix
