// Extraction over masks from the best case (no change) to the worst (alternating bits: 16 rectangles a word).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "diff/extract_rects.h"

namespace {

enum Pattern { kEmpty, kOneBit, kDense, kAlternating };

void BM_ExtractRects(benchmark::State &state, Pattern pattern, uint32_t width, uint32_t height) {
    const uint32_t rows = (height + 31) / 32;
    const uint32_t words_per_row = std::max(4u, ((width + 31) / 32 + 31) / 32);
    std::vector<uint32_t> mask(size_t{rows} * words_per_row, 0);
    if (pattern == kOneBit) mask[mask.size() / 2] = 1u << 7;
    if (pattern == kDense) std::fill(mask.begin(), mask.end(), 0xFFFFFFFFu);
    if (pattern == kAlternating) std::fill(mask.begin(), mask.end(), 0x55555555u);

    std::vector<corvo::DirtyRect> rects;
    std::vector<uint32_t> open;
    for (auto _ : state) {
        const uint64_t area = corvo::extract_rects(mask.data(), rows, words_per_row, width, height, rects, open);
        benchmark::DoNotOptimize(area);
        benchmark::DoNotOptimize(rects.data());
    }
    state.counters["rects"] = static_cast<double>(rects.size());
}
BENCHMARK_CAPTURE(BM_ExtractRects, empty_1920x1080, kEmpty, 1920, 1080);
BENCHMARK_CAPTURE(BM_ExtractRects, empty_7680x4320, kEmpty, 7680, 4320);
BENCHMARK_CAPTURE(BM_ExtractRects, one_bit_1920x1080, kOneBit, 1920, 1080);
BENCHMARK_CAPTURE(BM_ExtractRects, one_bit_7680x4320, kOneBit, 7680, 4320);
BENCHMARK_CAPTURE(BM_ExtractRects, dense_1920x1080, kDense, 1920, 1080);
BENCHMARK_CAPTURE(BM_ExtractRects, dense_7680x4320, kDense, 7680, 4320);
BENCHMARK_CAPTURE(BM_ExtractRects, alternating_1920x1080, kAlternating, 1920, 1080);
BENCHMARK_CAPTURE(BM_ExtractRects, alternating_7680x4320, kAlternating, 7680, 4320);

}  // namespace
