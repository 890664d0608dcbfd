// The one place where kernel sets are chosen: the plain kernels fill the
// table, and the sets this processor runs are installed over them, once.
#include "transform/dsp.h"

#include "coefficients.h"
#include "transform/colour.h"
#include "transform/cpu_features.h"
#include "transform/fdct.h"
#include "transform/idct.h"
#include "transform/pair_kernels.h"

#if defined(__x86_64__) || defined(__i386__)
#define PLIX_X86 1
#else
#define PLIX_X86 0
#endif

namespace plix {

namespace {

// Pixel byte that holds each component.
constexpr int kByteOf[3] = {2, 1, 0};

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

// The defaults every level starts from.
constexpr Dsp kPlainKernels = {
    .name = "plain",
    .inverseDct = InverseDct,
    .forwardBlocks = ForwardBlocks,
    .inverseBlocks = InverseBlocks,
    .forwardBlocks2Prepared = ForwardPairPrepared<ForwardBlocks>,
    .decodePositionsRaw = DecodePositionsRaw,
    .inverseDecoded2 = InverseDecodedPair<InverseBlocks, ConvertYccToRgb>,
    .inverseDecoded2Streaming = nullptr,
    .finishStreaming = nullptr,
    .rgbToYcc = ConvertRgbToYccPixels,
    .yccToRgb = ConvertYccToRgb,
    .encodePreparedPositions = EncodePreparedPositions,
    .preparedZigzag = false,
};

// Every level this build and this processor can run, each holding the sets
// below it; null where a level cannot run. Built once, on first use.
struct Levels {
    Dsp plain;
    Dsp sse2;
    Dsp avx2;
    Dsp avx512;
    Dsp neon;
    Dsp wasm;
    bool hasSse2 = false;
    bool hasAvx2 = false;
    bool hasAvx512 = false;
    bool hasNeon = false;
    bool hasWasm = false;
};

const Levels &GetLevels() {
    static const Levels levels = [] {
        Levels l;
        l.plain = kPlainKernels;
#if PLIX_X86
        // The one probe answers for every set. SSE2 is the floor on x86-64,
        // yet confirmed like the others (on i686 it is not).
        const CpuFeatures cpu;
        l.sse2 = l.plain;
        l.hasSse2 = cpu.HasSse2();
        if (l.hasSse2) {
            InstallSse2Kernels(l.sse2);
#if defined(__x86_64__)
            if (cpu.HasBmi2()) InstallBmi2Kernels(l.sse2);
#endif
            l.sse2.name = "sse2";
        }
        l.avx2 = l.sse2;
        l.hasAvx2 = l.hasSse2 && cpu.HasAvx2();
        if (l.hasAvx2) {
            InstallAvx2Kernels(l.avx2);
            l.avx2.name = "avx2";
        }
#if defined(__x86_64__)
        l.avx512 = l.avx2;
        l.hasAvx512 = l.hasAvx2 && cpu.HasAvx512();
        if (l.hasAvx512) {
            // Together: the preparation writes zigzag order, which this
            // coder reads.
            InstallAvx512Kernels(l.avx512);
            InstallAvx512CoderKernels(l.avx512);
            l.avx512.name = "avx512";
        }
#endif
#endif
#if defined(__aarch64__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        // Advanced SIMD is part of every 64-bit ARM processor: no probe. (The
        // kernels take lanes apart in little-endian order.)
        l.neon = l.plain;
        InstallNeonKernels(l.neon);
        l.neon.name = "neon";
        l.hasNeon = true;
#endif
#if defined(__EMSCRIPTEN__)
        // The build compiles these with SIMD-128 (-msimd128), and an engine
        // without it refuses the whole module: no probe.
        l.wasm = l.plain;
        InstallWasmKernels(l.wasm);
        l.wasm.name = "wasm";
        l.hasWasm = true;
#endif
        return l;
    }();
    return levels;
}

}  // namespace

const Dsp *GetDspLevel(DspLevel level) {
    const Levels &l = GetLevels();
    switch (level) {
        case DspLevel::kPlain:
            return &l.plain;
        case DspLevel::kSse2:
            return l.hasSse2 ? &l.sse2 : nullptr;
        case DspLevel::kAvx2:
            return l.hasAvx2 ? &l.avx2 : nullptr;
        case DspLevel::kAvx512:
            return l.hasAvx512 ? &l.avx512 : nullptr;
        case DspLevel::kNeon:
            return l.hasNeon ? &l.neon : nullptr;
        case DspLevel::kWasm:
            return l.hasWasm ? &l.wasm : nullptr;
    }
    return nullptr;
}

const Dsp &GetDsp() {
    static const Dsp *const dsp = [] {
        if (const Dsp *d = GetDspLevel(DspLevel::kWasm)) return d;
        if (const Dsp *d = GetDspLevel(DspLevel::kNeon)) return d;
        if (const Dsp *d = GetDspLevel(DspLevel::kAvx512)) return d;
        if (const Dsp *d = GetDspLevel(DspLevel::kAvx2)) return d;
        if (const Dsp *d = GetDspLevel(DspLevel::kSse2)) return d;
        return GetDspLevel(DspLevel::kPlain);
    }();
    return *dsp;
}

// The packed variants by the names the pipeline knows them under: whatever
// the chosen set put in those entries.
void InverseDctMmx(int32_t block[64]) {
    GetDsp().inverseDct(block);
}

void ConvertYccToRgbMmx(uint8_t *pixels, int32_t paddedWidth, int32_t width, int32_t height,
                        const YccToRgbTables &tables) {
    GetDsp().yccToRgb(pixels, paddedWidth, width, height, tables);
}

}  // namespace plix
