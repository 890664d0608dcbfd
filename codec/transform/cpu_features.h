// Which packed-integer instruction sets the processor offers and the operating
// system lets us use. Probed once per codec object.
#pragma once

#include <cstdint>

namespace plix {

class CpuFeatures {
public:
    static constexpr uint32_t kMmx = 1u << 23;
    static constexpr uint32_t kSse = 1u << 25;
    static constexpr uint32_t kSse2 = 1u << 26;
    static constexpr uint32_t k3dNow = 1u << 31;  // in the extended flags

    CpuFeatures();

    // Confirmed flags AND feature flags.
    uint32_t GetSupportedFeatures() const { return confirmed_ & features_; }

    uint32_t CpuidAvailable() const { return cpuidAvailable_; }
    uint32_t Signature() const { return signature_; }
    uint32_t FeatureFlags() const { return features_; }
    uint32_t ConfirmedFlags() const { return confirmed_; }
    uint32_t ExtendedFeatureFlags() const { return extended_; }

    // Wider paths chosen at run time (not part of the feature words above).
    bool HasAvx2() const { return avx2_; }

private:
    uint32_t cpuidAvailable_ = 0;
    uint32_t signature_ = 0;
    uint32_t features_ = 0;
    uint32_t confirmed_ = 0;
    uint32_t extended_ = 0;
    bool avx2_ = false;
};

} // namespace plix
