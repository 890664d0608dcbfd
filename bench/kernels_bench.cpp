// Per-kernel speed of each variant (Google Benchmark): where the time of an
// encode or decode goes, and what the packed kernels gain over the plain ones.
#include <benchmark/benchmark.h>

#include <iterator>
#include <random>
#include <vector>

#include "coefficients.h"
#include "dsp/dsp.h"
#include "transform/colour.h"
#include "transform/fdct.h"
#include "transform/quant.h"

namespace {

using plix::Dsp;

// Each benchmark runs for every level, by its place in kDspLevels.
constexpr int kLastLevel = static_cast<int>(std::size(plix::kDspLevels)) - 1;

const Dsp *Level(int64_t i) {
    return plix::GetDspLevel(plix::kDspLevels[i]);
}

std::vector<uint8_t> RandomPixels(size_t n) {
    std::mt19937 rng(1);
    std::vector<uint8_t> v(n);
    for (auto &b : v) b = static_cast<uint8_t>(rng());
    return v;
}

void InverseBlocks(benchmark::State &state) {
    const Dsp *d = Level(state.range(0));
    if (!d) return state.SkipWithError("not on this processor");
    std::mt19937 rng(2);
    int32_t src[3][64];
    for (auto &b : src)
        for (auto &c : b) c = static_cast<int32_t>(rng() % 64) - 32;
    std::vector<uint8_t> px(8 * 32);
    alignas(32) int32_t blocks[3][64];
    for (auto _ : state) {
        std::copy(&src[0][0], &src[0][0] + 192, &blocks[0][0]);
        d->inverseBlocks(blocks, px.data(), 32);
        benchmark::DoNotOptimize(px.data());
    }
    state.SetItemsProcessed(state.iterations() * 64);
    state.SetLabel(d->name);
}

void ForwardBlocks(benchmark::State &state) {
    const Dsp *d = Level(state.range(0));
    if (!d) return state.SkipWithError("not on this processor");
    auto px = RandomPixels(8 * 32);
    int32_t table[64];
    for (int i = 0; i < 64; ++i) table[i] = 1 + i % 7;
    plix::QuantDivisors div;
    plix::PrepareQuantDivisors(table, div);
    alignas(32) int32_t blocks[3][64];
    for (auto _ : state) {
        d->forwardBlocks(px.data(), 32, div, div, blocks);
        benchmark::DoNotOptimize(blocks);
    }
    state.SetItemsProcessed(state.iterations() * 64);
    state.SetLabel(d->name);
}

void RgbToYcc(benchmark::State &state) {
    const Dsp *d = Level(state.range(0));
    if (!d) return state.SkipWithError("not on this processor");
    auto src = RandomPixels(4096 * 4);
    std::vector<uint8_t> dst(src.size());
    for (auto _ : state) {
        d->rgbToYcc(src.data(), dst.data(), 4096);
        benchmark::DoNotOptimize(dst.data());
    }
    state.SetItemsProcessed(state.iterations() * 4096);
    state.SetLabel(d->name);
}

void YccToRgb(benchmark::State &state) {
    const Dsp *d = Level(state.range(0));
    if (!d) return state.SkipWithError("not on this processor");
    const auto &tables = plix::GetYccToRgbTables();
    auto px = RandomPixels(4096 * 8 * 4);
    for (auto _ : state) {
        d->yccToRgb(px.data(), 4096, 4096, 8, tables);
        benchmark::DoNotOptimize(px.data());
    }
    state.SetItemsProcessed(state.iterations() * 4096 * 8);
    state.SetLabel(d->name);
}

// Two positions transformed, quantised and prepared for the coder, as the
// encoder calls it.
void ForwardBlocks2Prepared(benchmark::State &state) {
    const Dsp *d = Level(state.range(0));
    if (!d) return state.SkipWithError("not on this processor");
    auto px = RandomPixels(8 * 64);
    int32_t table[64];
    for (int i = 0; i < 64; ++i) table[i] = 1 + i % 7;
    plix::QuantDivisors div;
    plix::PrepareQuantDivisors(table, div);
    plix::PreparedBlock blocks[6];
    for (auto _ : state) {
        d->forwardBlocks2Prepared(px.data(), 64, div, div, blocks);
        benchmark::DoNotOptimize(blocks);
    }
    state.SetItemsProcessed(state.iterations() * 128);
    state.SetLabel(d->name);
}

// Two decoded positions back to RGB pixels, every block with AC
// coefficients (arg 1: 1) or every block DC only (0).
void InverseDecoded2(benchmark::State &state) {
    const Dsp *d = Level(state.range(0));
    if (!d) return state.SkipWithError("not on this processor");
    const auto &tables = plix::GetYccToRgbTables();
    std::mt19937 rng(3);
    int32_t src[6][64];
    for (auto &b : src)
        for (auto &c : b) c = static_cast<int32_t>(rng() % 64) - 32;
    const uint32_t dcOnly = state.range(1) ? 0 : 0x3F;
    std::vector<uint8_t> px(8 * 64);
    alignas(32) int32_t blocks[6][64];
    for (auto _ : state) {
        std::copy(&src[0][0], &src[0][0] + 384, &blocks[0][0]);
        d->inverseDecoded2(blocks, dcOnly, px.data(), 64, &tables);
        benchmark::DoNotOptimize(px.data());
    }
    state.SetItemsProcessed(state.iterations() * 128);
    state.SetLabel(d->name);
}

BENCHMARK(InverseBlocks)->DenseRange(0, kLastLevel);
BENCHMARK(ForwardBlocks)->DenseRange(0, kLastLevel);
BENCHMARK(ForwardBlocks2Prepared)->DenseRange(0, kLastLevel);
BENCHMARK(InverseDecoded2)->ArgsProduct({benchmark::CreateDenseRange(0, kLastLevel, 1), {0, 1}});
BENCHMARK(RgbToYcc)->DenseRange(0, kLastLevel);
BENCHMARK(YccToRgb)->DenseRange(0, kLastLevel);

}  // namespace

BENCHMARK_MAIN();
