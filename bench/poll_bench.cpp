// One poll of a started capture with nothing queued: the cost a host pays for polling faster than frames come;
// and a detected poll of an unchanged 1920x1080 frame, in process CPU time beside wall time, to set beside
// executor_bench's memcmp of two such frames.
#include <benchmark/benchmark.h>

#include "corvo_emu.h"
#include "corvo_wgc.h"

namespace {

void BM_PollWithAnEmptyQueue(benchmark::State &state) {
    corvo_emu_reset();
    HWND window = corvo_emu_create_window(1920, 1080);
    wgc_session session = wgc_session_create(window);
    if (!wgc_session_start(session)) {
        state.SkipWithError("start failed");
        wgc_session_destroy(session);
        return;
    }
    corvo_emu_present(window);
    void *frame = nullptr;
    int32_t width = 0, height = 0;
    uint8_t cursor = 0;
    wgc_get_recent_frame(session, &frame, 0, &width, &height, &cursor);  // the one frame
    for (auto _ : state) {
        benchmark::DoNotOptimize(wgc_get_recent_frame(session, &frame, 0, &width, &height, &cursor));
        benchmark::DoNotOptimize(frame);
    }
    wgc_session_destroy(session);
}
BENCHMARK(BM_PollWithAnEmptyQueue);

void BM_DetectedPollOfAnUnchangedFrame(benchmark::State &state) {
    corvo_emu_reset();
    HWND window = corvo_emu_create_window(1920, 1080);
    wgc_session session = wgc_session_create(window);
    wgc_set_dirty_rect(session, 1);
    if (!wgc_session_start(session)) {
        state.SkipWithError("start failed");
        wgc_session_destroy(session);
        return;
    }
    void *frame = nullptr;
    int32_t width = 0, height = 0;
    uint8_t cursor = 0;
    for (int warm = 0; warm < 2; ++warm) {  // the first picture sizes everything and becomes the history
        corvo_emu_present(window);
        wgc_get_recent_frame(session, &frame, 0, &width, &height, &cursor);
    }
    for (auto _ : state) {
        state.PauseTiming();
        corvo_emu_present(window);
        state.ResumeTiming();
        benchmark::DoNotOptimize(wgc_get_recent_frame(session, &frame, 0, &width, &height, &cursor));
    }
    wgc_session_destroy(session);
}
BENCHMARK(BM_DetectedPollOfAnUnchangedFrame)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Repetitions(5);

}  // namespace

BENCHMARK_MAIN();
