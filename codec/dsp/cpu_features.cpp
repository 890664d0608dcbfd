#include "dsp/cpu_features.h"

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
// Leaf 7 EBX: AVX-512 F, DQ, CD, BW and VL, with BMI1 and BMI2 (the set's
// files use them too); ECX: VBMI and VNNI.
constexpr uint32_t kAvx512Leaf7 =
    (1u << 3) | kBmi2Leaf7 | (1u << 16) | (1u << 17) | (1u << 28) | (1u << 30) | (1u << 31);
constexpr uint32_t kAvx512EcxLeaf7 = (1u << 1) | (1u << 11);
// XCR0: the operating system saves the SSE and AVX register state; and the
// opmask, upper 256 bits of ZMM0-15 and ZMM16-31 state.
constexpr uint32_t kXcrSseAvx = 0x6;
constexpr uint32_t kXcrAvx512 = 0xE6;

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
        const bool osxsave = (leaf1Ecx & (kOsxsave | kAvx)) == (kOsxsave | kAvx);
        const uint32_t xcr0 = osxsave ? ReadXcr0() : 0;
        avx2_ = (b & kAvx2Leaf7) != 0 && osxsave && (xcr0 & kXcrSseAvx) == kXcrSseAvx;
        avx512_ = avx2_ && (b & kAvx512Leaf7) == kAvx512Leaf7 &&
                  (c & kAvx512EcxLeaf7) == kAvx512EcxLeaf7 && (xcr0 & kXcrAvx512) == kXcrAvx512;
    }
}

// A register the compiler itself never uses (32-bit builds without MMX or
// SSE code generation) cannot be named as clobbered.
#if defined(__MMX__)
#define PLIX_CLOBBER_MM0 "mm0"
#else
#define PLIX_CLOBBER_MM0
#endif
#if defined(__SSE__)
#define PLIX_CLOBBER_XMM0 "xmm0"
#else
#define PLIX_CLOBBER_XMM0
#endif

uint32_t CpuFeatures::TryFeature(uint32_t bit) {
    // These instructions cannot fault on a processor that reports them: MMX
    // state is the x87 state, and every operating system that runs this
    // build saves the SSE state (the 64-bit ABI requires it; 32-bit Windows
    // has done so since before SSE2 existed). The MMX state is emptied
    // afterwards so that floating-point code runs normally.
    if (bit == kMmx)
        __asm__ volatile("pxor %%mm0, %%mm0\n\temms" ::: PLIX_CLOBBER_MM0);
    else if (bit == k3dNow)  // pfrcp %mm0, %mm0, spelled out for assemblers without 3DNow!
        __asm__ volatile(".byte 0x0f, 0x0f, 0xc0, 0x96\n\temms" ::: PLIX_CLOBBER_MM0);
    else if (bit == kSse)
        __asm__ volatile("xorps %%xmm0, %%xmm0" ::: PLIX_CLOBBER_XMM0);
    else if (bit == kSse2)
        __asm__ volatile("xorpd %%xmm0, %%xmm0" ::: PLIX_CLOBBER_XMM0);
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
