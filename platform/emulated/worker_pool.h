// A small pool of threads that run one job at a time together with the calling thread. The threads start on
// the first job and are joined when the pool goes away.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace corvo::emu {

class WorkerPool {
public:
    using Job = void (*)(void *context, unsigned worker) noexcept;

    // `threads` besides the caller of run.
    explicit WorkerPool(unsigned threads) : wanted_(threads) {}
    ~WorkerPool();
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;

    // The most workers a job runs on: the caller and the pool's threads.
    unsigned workers() const { return wanted_ + 1; }

    // Calls job(context, worker) on the calling thread as worker 0 and on each thread of the pool as workers
    // 1, 2, ..., and returns once every call has returned. A pool whose threads could not all be started runs
    // the job on those it has. One job at a time.
    void run(Job job, void *context);

private:
    void start();
    void serve(unsigned worker);

    const unsigned wanted_;
    bool started_ = false;
    std::mutex mutex_;
    std::condition_variable wake_, finished_;
    Job job_ = nullptr;
    void *context_ = nullptr;
    uint64_t generation_ = 0;  // jobs given so far
    unsigned running_ = 0;     // threads still in the current job
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace corvo::emu
