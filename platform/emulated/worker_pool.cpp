#include "platform/emulated/worker_pool.h"

#include <exception>

namespace corvo::emu {

WorkerPool::~WorkerPool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread &thread : threads_) thread.join();
}

void WorkerPool::start() {
    started_ = true;
    try {
        threads_.reserve(wanted_);
        for (unsigned worker = 1; worker <= wanted_; ++worker)
            threads_.emplace_back(&WorkerPool::serve, this, worker);
    } catch (const std::exception &) {
        // Out of threads or memory: the job runs on the threads that did start, or on the caller alone.
    }
}

void WorkerPool::run(Job job, void *context) {
    if (!started_) start();
    if (!threads_.empty()) {
        {
            std::lock_guard lock(mutex_);
            job_ = job;
            context_ = context;
            ++generation_;
            running_ = unsigned(threads_.size());
        }
        wake_.notify_all();
    }
    job(context, 0);
    std::unique_lock lock(mutex_);
    finished_.wait(lock, [this] { return running_ == 0; });
}

void WorkerPool::serve(unsigned worker) {
    uint64_t seen = 0;
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
        if (stopping_) return;
        seen = generation_;
        const Job job = job_;
        void *const context = context_;
        lock.unlock();
        job(context, worker);
        lock.lock();
        if (--running_ == 0) finished_.notify_one();
    }
}

}  // namespace corvo::emu
