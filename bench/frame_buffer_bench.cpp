// The per-frame CPU work of the read-back: sizing the buffer for a frame of unchanged size, and the row copy.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "session/frame_buffer.h"
#include "session/row_copy.h"

namespace {

void BM_EnsureFrameBufferSteadyState(benchmark::State &state) {
    corvo::platform::FrameBuffer buffer;
    uint64_t capacity = 0;
    corvo::ensure_frame_buffer(buffer, capacity, 1920, 1080);
    for (auto _ : state) benchmark::DoNotOptimize(corvo::ensure_frame_buffer(buffer, capacity, 1920, 1080));
}
BENCHMARK(BM_EnsureFrameBufferSteadyState);

constexpr uint32_t kWidth = 1920, kHeight = 1080, kPitch = 7680;

// A 7680-byte pitch is the unpadded pitch of 1920 pixels; 8192 bytes shows the row-by-row copy.
void BM_CopyRows(benchmark::State &state) {
    const auto pitch = static_cast<uint32_t>(state.range(0));
    std::vector<uint8_t> src(size_t{pitch} * kHeight, 0x5A), dst(size_t{kWidth} * 4 * kHeight);
    for (auto _ : state) {
        corvo::copy_rows(dst.data(), src.data(), pitch, kWidth, kHeight);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kWidth * 4 * kHeight);
}
BENCHMARK(BM_CopyRows)->ArgName("pitch")->Arg(kPitch)->Arg(8192);

// The same bytes in one memcpy: the floor the row copy is measured against.
void BM_PlainMemcpy(benchmark::State &state) {
    std::vector<uint8_t> src(size_t{kPitch} * kHeight, 0x5A), dst(size_t{kWidth} * 4 * kHeight);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), dst.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kWidth * 4 * kHeight);
}
BENCHMARK(BM_PlainMemcpy);

}  // namespace
