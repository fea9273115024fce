// Bytes a detected frame moves, from the emulated device's gauges: copied on the GPU and mapped for the CPU,
// per frame, for typical scenes at 1920 x 1080 and 3840 x 2160, in buffer and texture mode, and what the session
// holds on the GPU meanwhile, at the end and at most. The figures are counters, not times, so they hold on any
// machine. The region scene sets a 256 x 256 region of a 4K monitor beside the whole monitor in one run, with the
// time of the poll alone.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "corvo_emu.h"
#include "corvo_emu_d3d11.h"
#include "corvo_wgc.h"

namespace {

enum Scene { kUnchanged, kOneCell, kClock, kTileMove, kWholeFrame, kDrag };

// Changes the window as the scene does between two frames; `step` alternates the colours so that each frame
// differs from the one before.
void change(HWND window, Scene scene, int32_t width, int32_t height, int step) {
    const uint32_t colour = step % 2 ? 0xFF204060u : 0xFF608040u;
    switch (scene) {
    case kUnchanged:
        break;
    case kOneCell:
        corvo_emu_fill(window, 100, 100, 1, 1, colour);
        break;
    case kClock:  // about 0.2 % of the picture near the bottom-right corner, not aligned to cells
        corvo_emu_fill(window, width - 150, height - 60, width / 24, height / 20, colour);
        break;
    case kTileMove: {  // a tile of about 4 % of the picture moves to a place of its own size
        const int32_t side = int32_t(0.2 * height), x = 40 + (step % 2) * (side + 50);
        corvo_emu_fill(window, 40, 40, 2 * side + 50, side, 0xFF000000u);
        corvo_emu_fill(window, x, 40, side, side, 0xFFFFFFFFu);
        break;
    }
    case kWholeFrame:
        corvo_emu_fill(window, 0, 0, width, height, colour);
        break;
    case kDrag:  // the window is dragged narrower and back: every frame has a new size
        corvo_emu_resize(window, width - 16 * (step % 2) * (1 + step % 3), height);
        break;
    }
}

void Traffic(benchmark::State &state) {
    const auto scene = static_cast<Scene>(state.range(0));
    const int32_t width = int32_t(state.range(1)), height = int32_t(state.range(2));
    const bool texture_mode = state.range(3) != 0;
    corvo_emu_reset();
    HWND window = corvo_emu_create_window(width, height);
    wgc_session session = wgc_session_create(window);
    wgc_set_dirty_rect(session, 1);
    wgc_set_capture_to_texture(session, texture_mode ? 1 : 0);
    if (!wgc_session_start(session)) {
        state.SkipWithError("start failed");
        wgc_session_destroy(session);
        return;
    }
    void *frame = nullptr;
    int32_t w = 0, h = 0;
    uint8_t cursor = 0;
    auto next_frame = [&] {
        corvo_emu_present(window);
        if (wgc_get_recent_frame(session, &frame, 0, &w, &h, &cursor) && texture_mode)
            static_cast<ID3D11Texture2D *>(frame)->Release();
    };
    next_frame();  // the first picture sizes everything
    next_frame();
    const uint64_t copied = corvo_emu_count("bytes_copied"), mapped = corvo_emu_count("bytes_mapped");
    int step = 0;
    double ratio = 0;
    for (auto _ : state) {
        change(window, scene, width, height, ++step);
        next_frame();
        ratio += wgc_get_update_ratio(session);
    }
    const double frames = double(state.iterations()), picture = double(width) * height * 4;
    state.counters["gpu_frames"] = double(corvo_emu_count("bytes_copied") - copied) / frames / picture;
    state.counters["mapped_pct"] = 100.0 * double(corvo_emu_count("bytes_mapped") - mapped) / frames / picture;
    state.counters["ratio"] = ratio / frames;
    // What the session keeps on the GPU (pool, history, staging or output textures, small buffers), in frames.
    state.counters["gpu_held_frames"] = double(corvo_emu_count("resource_bytes")) / picture;
    state.counters["gpu_peak_frames"] = double(corvo_emu_count("resource_bytes_peak")) / picture;
    wgc_session_destroy(session);
}

void Scenes(benchmark::internal::Benchmark *b) {
    b->ArgNames({"scene", "w", "h", "texture"});
    for (int texture = 0; texture < 2; ++texture)
        for (const auto &[w, h] : {std::pair{1920, 1080}, std::pair{3840, 2160}})
            for (int scene = kUnchanged; scene <= kDrag; ++scene) b->Args({scene, w, h, texture});
    b->Iterations(4)->Unit(benchmark::kMillisecond);
}
BENCHMARK(Traffic)->Apply(Scenes);

// A price panel of a 4K monitor: a figure inside the 256 x 256 panel changes every frame (or stays) while a clock
// outside it ticks. Captured whole, or only the panel as a region: kilobytes copied on the GPU and mapped per frame,
// and the time of the poll alone (the compositor's present is not timed).
void RegionTraffic(benchmark::State &state) {
    const bool region = state.range(0) != 0, texture_mode = state.range(1) != 0, price = state.range(2) != 0;
    corvo_emu_reset();
    const HMONITOR monitor = corvo_emu_create_monitor(3840, 2160);
    wgc_session session = wgc_session_create2(monitor);
    const wgc_rect panel{1000, 600, 1256, 856};
    if (region) wgc_set_region(session, &panel);
    wgc_set_dirty_rect(session, 1);
    wgc_set_capture_to_texture(session, texture_mode ? 1 : 0);
    if (!wgc_session_start(session)) {
        state.SkipWithError("start failed");
        wgc_session_destroy(session);
        return;
    }
    void *frame = nullptr;
    int32_t w = 0, h = 0;
    auto poll = [&] {
        if (wgc_get_recent_frame(session, &frame, 0, &w, &h, nullptr) && texture_mode)
            static_cast<ID3D11Texture2D *>(frame)->Release();
    };
    corvo_emu_present(monitor);
    poll();
    const uint64_t copied = corvo_emu_count("bytes_copied"), mapped = corvo_emu_count("bytes_mapped");
    double ratio = 0;
    int step = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const uint32_t colour = ++step % 2 ? 0xFF204060u : 0xFF608040u;
        if (price) corvo_emu_fill(monitor, 1040, 640, 60, 20, colour);  // the price, inside the panel
        corvo_emu_fill(monitor, 3700, 2100, 100, 40, colour);           // the clock, outside it
        corvo_emu_present(monitor);
        state.ResumeTiming();
        poll();
        ratio += wgc_get_update_ratio(session);
    }
    const double frames = double(state.iterations());
    state.counters["copied_kb"] = double(corvo_emu_count("bytes_copied") - copied) / frames / 1024;
    state.counters["mapped_kb"] = double(corvo_emu_count("bytes_mapped") - mapped) / frames / 1024;
    state.counters["ratio"] = ratio / frames;
    state.counters["gpu_held_mb"] = double(corvo_emu_count("resource_bytes")) / (1024 * 1024);
    wgc_session_destroy(session);
}
BENCHMARK(RegionTraffic)
    ->ArgNames({"region", "texture", "price"})
    ->ArgsProduct({{0, 1}, {0, 1}, {1, 0}})
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
