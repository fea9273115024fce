#include "platform/emulated/shader_engine.h"

#include <atomic>

namespace corvo::emu::shader {
namespace {

struct Job {
    const LaneDispatch &dispatch;
    std::vector<LaneFile> &files;
    size_t workers;  // those with a prepared file
    std::atomic<uint64_t> next{0};
};

// Each worker takes the next thread group until none is left.
void work(void *context, unsigned worker) noexcept {
    Job &job = *static_cast<Job *>(context);
    if (worker >= job.workers) return;
    LaneFile &file = job.files[worker];
    for (uint64_t task; (task = job.next.fetch_add(1, std::memory_order_relaxed)) < job.dispatch.tasks;)
        file.run(job.dispatch, task);
}

}  // namespace

Engine::Engine(unsigned threads) : files_(threads + 1), pool_(threads) {}

unsigned Engine::default_threads() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 1 ? cores - 1 : 0;
}

void Engine::dispatch(const Program &program, const Bindings &bindings, uint32_t groups_x, uint32_t groups_y,
                      uint32_t groups_z) {
    std::lock_guard lock(mutex_);
    const LaneDispatch d(program, bindings, groups_x, groups_y, groups_z);
    if (d.tasks == 0) return;
    // Files are sized here, on the caller, so that a failed allocation never happens on a worker.
    const size_t used = size_t(std::min<uint64_t>(d.tasks, files_.size()));
    for (size_t i = 0; i < used; ++i) files_[i].prepare(d);
    Job job{d, files_, used};
    if (used == 1) {
        work(&job, 0);
        return;
    }
    pool_.run(work, &job);
}

void dispatch(const Program &program, const Bindings &bindings, uint32_t groups_x, uint32_t groups_y,
              uint32_t groups_z) {
    // Kept per thread so that a steady stream of dispatches allocates nothing once warm.
    thread_local LaneFile file;
    const LaneDispatch d(program, bindings, groups_x, groups_y, groups_z);
    if (d.tasks == 0) return;
    file.prepare(d);
    for (uint64_t task = 0; task < d.tasks; ++task) file.run(d, task);
}

}  // namespace corvo::emu::shader
