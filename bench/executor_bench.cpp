// One 1920x1080 cell pass of diffCellsCS over two equal frames in memory of their own (the slowest case: every
// pixel of every cell is compared), four ways: the one-thread-at-a-time reference executor, the device's engine
// (lanes, all cores), a plain C++ scan that gives the same cells on the same threads as the engine, and a memcmp
// of the two frames, the least any comparison costs. Each reports process CPU time beside wall time; the
// closing note compares the medians of the repetitions.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "diff/kernels/kernel_bytecode.h"
#include "platform/emulated/shader_engine.h"
#include "platform/emulated/worker_pool.h"
#include "tests/kernel_reference.h"

namespace {

namespace shader = corvo::emu::shader;

constexpr uint32_t kWidth = 1920, kHeight = 1080, kCell = 32, kColumns = 60, kRows = 34;

struct CellPass {
    std::shared_ptr<const shader::Program> program;
    Frame now{kWidth, kHeight}, before{kWidth, kHeight};
    std::vector<uint32_t> cells = std::vector<uint32_t>(size_t(kColumns) * kRows);
    uint32_t info[4] = {kWidth, kHeight, kCell, kCell};
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

// The kernel's difference value of one pixel: 0, 230, 460 or 690.
uint32_t pixel_value(const uint8_t *p, const uint8_t *q) {
    float s = 0;
    for (int c = 0; c < 3; ++c) s += std::fabs(p[c] / 255.0f - q[c] / 255.0f);
    return uint32_t(std::ceil(s) * 230.0f);
}

// The plain form of the cell pass: each row of a cell row is compared as 32-bit words with alpha masked off,
// cell by cell, and the first changed pixel of a cell in column order (least x, then least y) gives its value.
// Cell rows are shared out among the workers of a pool as large as the engine's.
struct PlainScan {
    CellPass &pass;
    std::atomic<uint32_t> next{0};

    void cell_row(uint32_t cy) {
        uint32_t first_x[kColumns], first_y[kColumns];
        std::fill_n(first_x, kColumns, ~0u);
        const uint32_t top = cy * kCell, bottom = std::min(kHeight, top + kCell);
        for (uint32_t y = top; y < bottom; ++y) {
            const auto *a = reinterpret_cast<const uint32_t *>(pass.now.pixel(0, y));
            const auto *b = reinterpret_cast<const uint32_t *>(pass.before.pixel(0, y));
            for (uint32_t cx = 0; cx < kColumns; ++cx) {
                const uint32_t left = cx * kCell, right = std::min({kWidth, left + kCell, first_x[cx]});
                uint32_t any = 0;  // a branch-free pass first, so that the common case vectorises
                for (uint32_t x = left; x < right; ++x) any |= (a[x] ^ b[x]) & 0x00ffffffu;
                if (!any) continue;
                uint32_t x = left;
                while (((a[x] ^ b[x]) & 0x00ffffffu) == 0) ++x;
                first_x[cx] = x;
                first_y[cx] = y;
            }
        }
        for (uint32_t cx = 0; cx < kColumns; ++cx)
            pass.cells[size_t(cy) * kColumns + cx] =
                first_x[cx] == ~0u ? 0
                                   : pixel_value(pass.now.pixel(first_x[cx], first_y[cx]),
                                                 pass.before.pixel(first_x[cx], first_y[cx]));
    }

    static void work(void *context, unsigned) noexcept {
        auto &scan = *static_cast<PlainScan *>(context);
        for (uint32_t cy; (cy = scan.next.fetch_add(1, std::memory_order_relaxed)) < kRows;) scan.cell_row(cy);
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

void NewExecutor(benchmark::State &state) {
    shader::Engine engine;
    cell_pass(state, [&engine](CellPass &p) { engine.dispatch(*p.program, p.bindings, 4, 3, 1); });
}

void PlainScanBaseline(benchmark::State &state) {
    corvo::emu::WorkerPool pool(shader::Engine::default_threads());
    cell_pass(state, [&pool](CellPass &p) {
        PlainScan scan{p};
        pool.run(PlainScan::work, &scan);
    });
}

void Memcmp(benchmark::State &state) {
    CellPass pass;
    for (auto _ : state)
        benchmark::DoNotOptimize(std::memcmp(pass.now.bgra.data(), pass.before.bgra.data(), pass.now.bgra.size()));
}

// A pass that gives other cells than the reference is no baseline: each form is checked once, on a frame pair
// with changes in some cells, before any is timed.
bool forms_agree() {
    CellPass pass;
    for (uint32_t i = 0; i < 200; ++i)
        pass.now.pixel((i * 7919) % kWidth, (i * 104729) % kHeight)[i % 3] ^= uint8_t(1 + i);
    const std::vector<uint32_t> want = reference_kernels(pass.now, pass.before).cells;
    shader::Engine engine;
    engine.dispatch(*pass.program, pass.bindings, 4, 3, 1);
    const bool engine_agrees = pass.cells == want;
    std::fill(pass.cells.begin(), pass.cells.end(), 0u);
    corvo::emu::WorkerPool pool(shader::Engine::default_threads());
    PlainScan scan{pass};
    pool.run(PlainScan::work, &scan);
    return engine_agrees && pass.cells == want;
}

// Keeps each benchmark's wall and CPU time per pass for the closing note, one pair per repetition.
class NoteReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &run : runs) {
            if (run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
            Times &t = times[run.run_name.function_name];
            t.wall.push_back(run.real_accumulated_time * 1e3 / double(run.iterations));
            t.cpu.push_back(run.cpu_accumulated_time * 1e3 / double(run.iterations));
        }
        ConsoleReporter::ReportRuns(runs);
    }
    struct Times {
        std::vector<double> wall, cpu;
    };
    std::map<std::string, Times> times;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

}  // namespace

int main(int argc, char **argv) {
    if (!forms_agree()) {
        std::fprintf(stderr, "the engine or the plain scan gives other cells than the reference\n");
        return 1;
    }
    using Pass = void (*)(benchmark::State &);
    const std::pair<const char *, Pass> passes[] = {{"OldExecutor", OldExecutor},
                                                    {"NewExecutor", NewExecutor},
                                                    {"PlainScan", PlainScanBaseline},
                                                    {"Memcmp", Memcmp}};
    for (const auto &[name, run] : passes)
        benchmark::RegisterBenchmark(name, run)
            ->Unit(benchmark::kMillisecond)
            ->MeasureProcessCPUTime()
            ->UseRealTime()
            ->Repetitions(5);
    benchmark::Initialize(&argc, argv);
    NoteReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const unsigned threads = shader::Engine::default_threads() + 1;
    std::printf(
        "1080p cell pass, median of %zu runs, process CPU time (wall time), %u thread%s for the engine "
        "and the plain scan:\n",
        reporter.times.empty() ? size_t(0) : reporter.times.begin()->second.cpu.size(), threads,
        threads == 1 ? "" : "s");
    for (const auto &[name, t] : reporter.times)
        std::printf("  %-12s %8.2f ms CPU (%8.2f ms wall)\n", name.c_str(), median(t.cpu), median(t.wall));
    const auto &t = reporter.times;
    if (t.contains("NewExecutor") && t.contains("PlainScan") && t.contains("Memcmp")) {
        const double engine = median(t.at("NewExecutor").cpu);
        std::printf("engine: %.1fx the CPU time of the plain scan, %.1fx that of a memcmp of the frames\n",
                    engine / median(t.at("PlainScan").cpu), engine / median(t.at("Memcmp").cpu));
    }
    return 0;
}
