#include "transform/cpu_features.h"

#if defined(__x86_64__) || defined(__i386__)
#define PLIX_CPUID 1
#include <cpuid.h>
#else
#define PLIX_CPUID 0
#endif

namespace plix {

#if PLIX_CPUID

namespace {

// Leaf 1 ECX and leaf 7 EBX bits for the wide path.
constexpr uint32_t kOsxsave = 1u << 27;
constexpr uint32_t kAvx = 1u << 28;
constexpr uint32_t kAvx2Leaf7 = 1u << 5;
constexpr uint32_t kBmi2Leaf7 = 1u << 8;
// XCR0: the operating system saves the SSE and AVX register state.
constexpr uint32_t kXcrSseAvx = 0x6;

uint32_t ReadXcr0() {
    uint32_t eax, edx;
    __asm__ volatile("xgetbv" : "=a"(eax), "=d"(edx) : "c"(0));
    return eax;
}

}  // namespace

CpuFeatures::CpuFeatures() {
    cpuidAvailable_ = 1;
    confirmed_ = 0;
    unsigned a = 0, b = 0, c = 0, d = 0;
    // __get_cpuid_max also checks, on 32-bit processors, that CPUID exists.
    const unsigned maxLeaf = __get_cpuid_max(0, nullptr);
    if (maxLeaf == 0) {
        cpuidAvailable_ = 0;
        return;
    }
    __cpuid(1, a, b, c, d);
    signature_ = a;
    features_ = d;
    const uint32_t leaf1Ecx = c;

    __cpuid(0x80000000u, a, b, c, d);
    if (a >= 0x80000001u) {
        __cpuid(0x80000001u, a, b, c, d);
        extended_ = d;
    }

    const struct {
        uint32_t bit;
        const uint32_t *word;
    } trials[] = {
        {kMmx, &features_}, {k3dNow, &extended_}, {kSse, &features_}, {kSse2, &features_}};
    for (const auto &t : trials) {
        if ((*t.word & t.bit) != 0 && TryFeature(t.bit) == 1) confirmed_ |= t.bit;
    }

    if (maxLeaf >= 7) {
        __cpuid_count(7, 0, a, b, c, d);
        bmi2_ = (b & kBmi2Leaf7) != 0;
        avx2_ = (b & kAvx2Leaf7) != 0 && (leaf1Ecx & (kOsxsave | kAvx)) == (kOsxsave | kAvx) &&
                (ReadXcr0() & kXcrSseAvx) == kXcrSseAvx;
    }
}

uint32_t CpuFeatures::TryFeature(uint32_t bit) {
    // These instructions cannot fault on a processor that reports them: MMX
    // state is the x87 state, and every operating system that runs this
    // build saves the SSE state (the 64-bit ABI requires it). The MMX state is
    // emptied afterwards so that floating-point code runs normally.
    if (bit == kMmx)
        __asm__ volatile("pxor %%mm0, %%mm0\n\temms" ::: "mm0");
    else if (bit == k3dNow)  // pfrcp %mm0, %mm0, spelled out for assemblers without 3DNow!
        __asm__ volatile(".byte 0x0f, 0x0f, 0xc0, 0x96\n\temms" ::: "mm0");
    else if (bit == kSse)
        __asm__ volatile("xorps %%xmm0, %%xmm0" ::: "xmm0");
    else if (bit == kSse2)
        __asm__ volatile("xorpd %%xmm0, %%xmm0" ::: "xmm0");
    return 1;
}

#else

// No probe on other processors: every answer is no and the plain paths run.
CpuFeatures::CpuFeatures() = default;

uint32_t CpuFeatures::TryFeature(uint32_t) {
    return 1;
}

#endif

}  // namespace plix
