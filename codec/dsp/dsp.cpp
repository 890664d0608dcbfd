// The one place where kernel sets are chosen: the plain kernels fill the
// table, and the sets this processor runs are installed over them, once.
#include "dsp/dsp.h"

#include "coefficients.h"
#include "dsp/cpu_features.h"
#include "entropy/block_decoder.h"
#include "entropy/kernels.h"
#include "transform/colour.h"
#include "transform/idct.h"
#include "transform/kernels.h"
#include "transform/pixel_order.h"

#if defined(__x86_64__) || defined(__i386__)
#define PLIX_X86 1
#else
#define PLIX_X86 0
#endif

namespace plix {

namespace {

// The defaults every level starts from.
constexpr Dsp kPlainKernels = {
    .name = "plain",
    .inverseDct = InverseDct,
    .forwardBlocks = ForwardBlocksPlain,
    .inverseBlocks = InverseBlocksPlain,
    .forwardBlocks2Prepared = ForwardBlocks2PreparedPlain,
    .forwardRgbBlocks2Prepared = nullptr,
    .decodePositionsRaw = DecodePositionsRaw,
    .inverseDecoded2 = InverseDecoded2Plain,
    .inverseDecoded2Streaming = nullptr,
    .inverseDecoded4 = nullptr,
    .finishStreaming = nullptr,
    // Keeping positions pays only with vector kernels to pack and unpack
    // them; the plain forms are the tests' reference.
    .keepPosition = nullptr,
    .restoreBlock = nullptr,
    .keepFromBits = 0,
    .keepPositions = KeepPositions,
    .rgbToYcc = ConvertRgbToYccPixels,
    .yccToRgb = ConvertYccToRgb,
    .packPixels3 = PackPixels3,
    .unpackPixels3 = UnpackPixels3,
    .encodePreparedPositions = EncodePreparedPositions,
    .preparedOrder = PreparedOrder::kNatural,
};

#if defined(__x86_64__)
// The AVX-512 level: the transform's set and the coder's, always together,
// as the preparation writes zigzag order, which this coder reads.
void InstallAvx512Level(Dsp &dsp) {
    InstallAvx512Kernels(dsp);
    InstallAvx512CoderKernels(dsp);
}
#endif

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
            InstallAvx512Level(l.avx512);
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
        // The transform's set and the coder's together: the preparation
        // writes transposed blocks, which this coder reads.
        InstallWasmKernels(l.wasm);
        InstallWasmCoderKernels(l.wasm);
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
        const Dsp *widest = nullptr;
        for (DspLevel level : kDspLevels) {
            if (const Dsp *d = GetDspLevel(level)) widest = d;
        }
        return widest;
    }();
    return *dsp;
}

void InverseDctMmx(int32_t block[64]) {
    GetDsp().inverseDct(block);
}

void ConvertYccToRgbMmx(uint8_t *pixels, int32_t paddedWidth, int32_t width, int32_t height,
                        const YccToRgbTables &tables) {
    GetDsp().yccToRgb(pixels, paddedWidth, width, height, tables);
}

Dsp KeepingAlways(const Dsp &k) {
    Dsp d = k;
    if (!d.keepPosition) {
        d.keepPosition = KeepPosition;
        d.restoreBlock = RestoreBlock;
    }
    d.keepFromBits = 0;
    return d;
}

}  // namespace plix
