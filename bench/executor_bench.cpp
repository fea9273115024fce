// One 1920x1080 cell pass of diffCellsCS through the emulated executor, over two identical frames (the
// slowest case: every pixel of every cell is compared).
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "diff/kernels/kernel_bytecode.h"
#include "platform/emulated/shader_executor.h"

namespace {

namespace shader = corvo::emu::shader;

void CellPass1080p(benchmark::State &state) {
    constexpr uint32_t w = 1920, h = 1080, columns = 60, rows = 34;
    std::shared_ptr<const shader::Program> program;
    if (shader::create_program(corvo::kernels::kDiffCellsCS, corvo::kernels::kDiffCellsCSSize, &program) != S_OK) {
        state.SkipWithError("kernel refused");
        return;
    }
    std::vector<uint8_t> frame(size_t(w) * h * 4, 0x40);
    std::vector<uint32_t> cells(size_t(columns) * rows);
    const uint32_t info[4] = {w, h, 32, 32};
    shader::Bindings b;
    b.constant_buffers[0] = {reinterpret_cast<const uint8_t *>(info), 16};
    for (int slot = 0; slot < 2; ++slot) {
        b.resources[slot].data = frame.data();
        b.resources[slot].format = DXGI_FORMAT_B8G8R8A8_UNORM;
        b.resources[slot].width = w;
        b.resources[slot].height = h;
        b.resources[slot].row_pitch = w * 4;
    }
    b.uavs[0].data = reinterpret_cast<uint8_t *>(cells.data());
    b.uavs[0].format = DXGI_FORMAT_R32_UINT;
    b.uavs[0].width = columns;
    b.uavs[0].height = rows;
    b.uavs[0].row_pitch = columns * 4;
    for (auto _ : state) {
        shader::dispatch(*program, b, 4, 3, 1);
        benchmark::DoNotOptimize(cells.data());
    }
}
BENCHMARK(CellPass1080p)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
