// The compute engine of one emulated device: runs the thread groups of each dispatch on the calling thread and
// a small pool of worker threads, each with a register file of its own.
#pragma once

#include <mutex>
#include <vector>

#include "platform/emulated/shader_lanes.h"
#include "platform/emulated/worker_pool.h"

namespace corvo::emu::shader {

class Engine {
public:
    // `threads` workers besides the caller of dispatch; by default one per further core.
    explicit Engine(unsigned threads = default_threads());

    // Runs groups_x * groups_y * groups_z thread groups of the program. Results do not depend on the number of
    // workers: thread groups write what dispatch_reference writes.
    void dispatch(const Program &program, const Bindings &bindings, uint32_t groups_x, uint32_t groups_y,
                  uint32_t groups_z);

    static unsigned default_threads();

private:
    std::mutex mutex_;  // one dispatch at a time
    std::vector<LaneFile> files_;
    WorkerPool pool_;  // declared last, so its threads are joined before the files go
};

}  // namespace corvo::emu::shader
