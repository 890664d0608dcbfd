#include "transform/dsp.h"

#include "entropy/block_coding.h"
#include "transform/colour.h"
#include "transform/cpu_features.h"
#include "transform/fdct.h"
#include "transform/idct.h"
#include "transform/kernels.h"
#include "transform/kernels_neon.h"

namespace plix {

namespace {

// Pixel byte that holds each component.
constexpr int kByteOf[3] = {2, 1, 0};

// Two positions through the one-position form.
template <auto Single>
void ForwardTwice(const uint8_t *pixels, size_t rowBytes, const QuantDivisors &luma,
                  const QuantDivisors &chroma, int32_t blocks[6][64]) {
    Single(pixels, rowBytes, luma, chroma, blocks);
    Single(pixels + 32, rowBytes, luma, chroma, blocks + 3);
}

template <auto Single>
void InverseTwice(int32_t blocks[6][64], uint8_t *pixels, size_t rowBytes) {
    Single(blocks, pixels, rowBytes);
    Single(blocks + 3, pixels + 32, rowBytes);
}

const Dsp kPlain = {InverseDct,
                    ForwardDct,
                    ForwardDctQuantise,
                    ForwardBlocks,
                    InverseBlocks,
                    ForwardTwice<ForwardBlocks>,
                    InverseTwice<InverseBlocks>,
                    ConvertRgbToYccPixels,
                    ConvertYccToRgb,
                    nullptr,
                    nullptr,
                    false,
                    "plain"};

#if PLIX_X86_KERNELS
const Dsp kSse2 = {InverseDctMmx,
                   ForwardDctSse2,
                   ForwardDctQuantiseSse2,
                   ForwardBlocksSse2,
                   InverseBlocksSse2,
                   ForwardTwice<ForwardBlocksSse2>,
                   InverseTwice<InverseBlocksSse2>,
                   ConvertRgbToYccPixelsSse2,
                   ConvertYccToRgbMmx,
                   nullptr,
                   nullptr,
                   true,
                   "sse2"};
const Dsp kAvx2 = {InverseDctMmx,
                   ForwardDctSse2,
                   ForwardDctQuantiseSse2,
                   ForwardBlocksAvx2,
                   InverseBlocksAvx2,
                   ForwardBlocks2Avx2,
                   InverseBlocks2Avx2,
                   ConvertRgbToYccPixelsAvx2,
                   ConvertYccToRgbAvx2,
                   ForwardBlocks2PreparedAvx2,
                   InverseDecoded2Avx2,
                   true,
                   "avx2"};
#endif

}  // namespace

void ForwardBlocks(const uint8_t *pixels, size_t rowBytes, const QuantDivisors &luma,
                   const QuantDivisors &chroma, int32_t blocks[3][64]) {
    for (int r = 0; r < 8; ++r) {
        const uint8_t *p = pixels + static_cast<size_t>(r) * rowBytes;
        for (int c = 0; c < 8; ++c, p += 4) {
            for (int k = 0; k < 3; ++k) blocks[k][r * 8 + c] = int32_t{p[kByteOf[k]]} - 128;
        }
    }
    ForwardDctQuantise(blocks[0], luma);
    ForwardDctQuantise(blocks[1], chroma);
    ForwardDctQuantise(blocks[2], chroma);
}

void InverseBlocks(int32_t blocks[3][64], uint8_t *pixels, size_t rowBytes) {
    for (int k = 0; k < 3; ++k) InverseDct(blocks[k]);
    for (int r = 0; r < 8; ++r) {
        uint8_t *p = pixels + static_cast<size_t>(r) * rowBytes;
        for (int c = 0; c < 8; ++c, p += 4) {
            for (int k = 0; k < 3; ++k) p[kByteOf[k]] = static_cast<uint8_t>(blocks[k][r * 8 + c]);
            p[3] = 0xFF;
        }
    }
}

bool ForwardBlocks2Prepared(const uint8_t *pixels, size_t rowBytes, const QuantDivisors &luma,
                            const QuantDivisors &chroma, PreparedBlock blocks[6]) {
    int32_t coefficients[6][64];
    ForwardTwice<ForwardBlocks>(pixels, rowBytes, luma, chroma, coefficients);
    bool ok = true;
    for (int k = 0; k < 6; ++k) ok &= PrepareBlock(coefficients[k], blocks[k]);
    return ok;
}

const Dsp *GetDspLevel(DspLevel level) {
    switch (level) {
        case DspLevel::kPlain:
            return &kPlain;
#if PLIX_X86_KERNELS
        case DspLevel::kSse2: {
            // The SSE2 kernels stand in for the packed 16-bit (MMX-class) path.
            static const bool ok = [] {
                const CpuFeatures cpu;
                const uint32_t need = CpuFeatures::kMmx | CpuFeatures::kSse2;
                return (cpu.GetSupportedFeatures() & need) == need;
            }();
            return ok ? &kSse2 : nullptr;
        }
        case DspLevel::kAvx2: {
            static const bool ok = [] {
                const CpuFeatures cpu;
                const uint32_t need = CpuFeatures::kMmx | CpuFeatures::kSse2;
                return (cpu.GetSupportedFeatures() & need) == need && cpu.HasAvx2();
            }();
            return ok ? &kAvx2 : nullptr;
        }
#endif
#if PLIX_NEON_KERNELS
        case DspLevel::kNeon: {
            // Advanced SIMD is part of every 64-bit ARM processor.
            static const Dsp neon = [] {
                Dsp d = kPlain;
                InstallNeonKernels(d);
                return d;
            }();
            return &neon;
        }
#endif
        default:
            break;
    }
    return nullptr;
}

const Dsp &GetDsp() {
    static const Dsp *const dsp = [] {
        if (const Dsp *d = GetDspLevel(DspLevel::kNeon)) return d;
        if (const Dsp *d = GetDspLevel(DspLevel::kAvx2)) return d;
        if (const Dsp *d = GetDspLevel(DspLevel::kSse2)) return d;
        return &kPlain;
    }();
    return *dsp;
}

}  // namespace plix
