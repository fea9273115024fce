// One 1920x1080 cell pass of diffCellsCS over two equal frames in memory of their own (the slowest case: every
// pixel of every cell is compared), three ways: the one-thread-at-a-time reference executor, the device's engine
// (lanes, all cores), and the plain C++ version of the same comparison. A closing note compares the three.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "diff/kernels/kernel_bytecode.h"
#include "platform/emulated/shader_engine.h"
#include "tests/kernel_reference.h"

namespace {

namespace shader = corvo::emu::shader;

constexpr uint32_t kWidth = 1920, kHeight = 1080, kColumns = 60, kRows = 34;

struct CellPass {
    std::shared_ptr<const shader::Program> program;
    Frame now{kWidth, kHeight}, before{kWidth, kHeight};
    std::vector<uint32_t> cells = std::vector<uint32_t>(size_t(kColumns) * kRows);
    uint32_t info[4] = {kWidth, kHeight, 32, 32};
    shader::Bindings bindings;

    CellPass() {
        shader::create_program(corvo::kernels::kDiffCellsCS, corvo::kernels::kDiffCellsCSSize, &program);
        std::fill(now.bgra.begin(), now.bgra.end(), uint8_t(0x40));
        before = now;
        bindings.constant_buffers[0] = {reinterpret_cast<const uint8_t *>(info), 16};
        for (int slot = 0; slot < 2; ++slot) {
            shader::View &v = bindings.resources[slot];
            v.data = (slot ? before : now).bgra.data();
            v.format = DXGI_FORMAT_B8G8R8A8_UNORM;
            v.width = kWidth;
            v.height = kHeight;
            v.row_pitch = kWidth * 4;
        }
        shader::View &u = bindings.uavs[0];
        u.data = reinterpret_cast<uint8_t *>(cells.data());
        u.format = DXGI_FORMAT_R32_UINT;
        u.width = kColumns;
        u.height = kRows;
        u.row_pitch = kColumns * 4;
    }
};

template <class Run>
void cell_pass(benchmark::State &state, Run run) {
    CellPass pass;
    if (!pass.program) {
        state.SkipWithError("kernel refused");
        return;
    }
    for (auto _ : state) {
        run(pass);
        benchmark::DoNotOptimize(pass.cells.data());
    }
}

void OldExecutor(benchmark::State &state) {
    cell_pass(state, [](CellPass &p) { shader::dispatch_reference(*p.program, p.bindings, 4, 3, 1); });
}
BENCHMARK(OldExecutor)->Unit(benchmark::kMillisecond)->UseRealTime();

void NewExecutor(benchmark::State &state) {
    shader::Engine engine;
    cell_pass(state, [&engine](CellPass &p) { engine.dispatch(*p.program, p.bindings, 4, 3, 1); });
}
BENCHMARK(NewExecutor)->Unit(benchmark::kMillisecond)->UseRealTime();

void PlainCpp(benchmark::State &state) {
    cell_pass(state, [](CellPass &p) { benchmark::DoNotOptimize(reference_kernels(p.now, p.before)); });
}
BENCHMARK(PlainCpp)->Unit(benchmark::kMillisecond)->UseRealTime();

// Keeps each benchmark's wall time per pass for the closing note: the best of its repetitions
// (--benchmark_repetitions), the one least disturbed by whatever else the machine runs.
class NoteReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &run : runs) {
            if (run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
            const double ms = run.real_accumulated_time * 1e3 / double(run.iterations);
            auto [it, added] = milliseconds.emplace(run.run_name.function_name, ms);
            if (!added) it->second = std::min(it->second, ms);
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> milliseconds;
};

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    NoteReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const auto &ms = reporter.milliseconds;
    if (!ms.contains("OldExecutor") || !ms.contains("NewExecutor") || !ms.contains("PlainCpp")) return 0;
    const double old_ms = ms.at("OldExecutor"), new_ms = ms.at("NewExecutor"), plain_ms = ms.at("PlainCpp");
    const unsigned workers = shader::Engine::default_threads();
    std::printf(
        "1080p cell pass: old executor %.1f ms, new executor %.2f ms (the caller and %u worker thread%s), "
        "plain C++ %.2f ms (one thread)\n",
        old_ms, new_ms, workers, workers == 1 ? "" : "s", plain_ms);
    std::printf("new executor: %.1fx faster than the old one, %.2fx the time of plain C++\n", old_ms / new_ms,
                new_ms / plain_ms);
    return 0;
}
