#include "session/thread_queue.h"

#include <chrono>
#include <new>
#include <thread>

#include "platform/win32.h"

namespace corvo {
namespace {

// The calling thread's queue, as the library knows it. Only its own thread changes these two, so that no entry
// outlives its thread; the guard keeps what `current_queue` points to alive, and is made only once the thread has
// a queue, after what the platform keeps per thread for it.
thread_local ThreadQueue *current_queue = nullptr;

struct ExitGuard {
    std::shared_ptr<ThreadQueue> queue;
    ~ExitGuard() {
        if (queue) queue->end_with_thread();
    }
};
thread_local ExitGuard exit_guard;

void make_current(std::shared_ptr<ThreadQueue> queue) noexcept {
    current_queue = queue.get();
    exit_guard.queue = std::move(queue);
}

// Dispatching at the thread's exit ends once the shutdown has completed, or after this long without a message.
constexpr int kExitIdlePolls = 100;
constexpr auto kExitIdlePoll = std::chrono::milliseconds(1);

}  // namespace

ThreadQueue::Lease &ThreadQueue::Lease::operator=(Lease &&other) noexcept {
    if (this != &other) {
        reset();
        queue_ = std::move(other.queue_);
    }
    return *this;
}

void ThreadQueue::Lease::reset() noexcept {
    if (queue_) std::exchange(queue_, nullptr)->release();
}

ThreadQueue::Lease ThreadQueue::for_current_thread(HRESULT *hr) noexcept {
    *hr = S_OK;
    if (current_queue && current_queue->take_lease()) return Lease(exit_guard.queue);
    // The library's queue of this thread whose shutdown began at the thread's last dispatch: the thread has no
    // other until its next one, and a capture through this one would never be told its target's closing.
    if (current_queue && current_queue->shutting_down()) {
        *hr = RPC_E_WRONG_THREAD;
        return {};
    }
    const platform::DispatcherQueueOptions options{sizeof(platform::DispatcherQueueOptions),
                                                   platform::DQTYPE_THREAD_CURRENT, platform::DQTAT_COM_NONE};
    platform::DispatcherQueueController controller;
    *hr = platform::DispatcherQueueController::create(options, &controller);
    // The thread has a queue of the host's: the service delivers through it, and it is not ours to shut down.
    if (*hr == RPC_E_WRONG_THREAD) *hr = S_OK;
    if (FAILED(*hr)) return {};
    try {
        auto queue = std::make_shared<ThreadQueue>(std::move(controller));
        queue->take_lease();
        make_current(queue);
        return Lease(std::move(queue));
    } catch (const std::bad_alloc &) {
        *hr = E_OUTOFMEMORY;  // a controller made here shuts its queue down as it goes
        try {
            if (controller) controller.ShutdownQueueAsync();
        } catch (...) {
        }
        return {};
    }
}

bool ThreadQueue::shutting_down() noexcept {
    std::lock_guard lock(mutex_);
    return shutdown_ && !shutdown_done_.load();
}

bool ThreadQueue::take_lease() noexcept {
    std::lock_guard lock(mutex_);
    if (ended_) return false;
    ++leases_;
    return true;
}

void ThreadQueue::release() noexcept {
    std::lock_guard lock(mutex_);
    if (--leases_ > 0 || ended_) return;
    if (!controller_) {
        ended_ = true;  // the host's queue: the next start looks again whether the thread has one
        return;
    }
    // The queue's own thread decides at its next dispatch; the work holds the queue until then. A queue that
    // takes no work any more is shut down at once.
    try {
        if (controller_.TryEnqueue({&ThreadQueue::retire, shared_from_this()})) return;
    } catch (...) {
    }
    begin_shutdown_locked();
}

void ThreadQueue::retire(void *context) {
    auto &queue = *static_cast<ThreadQueue *>(context);
    std::lock_guard lock(queue.mutex_);
    if (queue.leases_ == 0 && !queue.ended_) queue.begin_shutdown_locked();
}

void ThreadQueue::begin_shutdown_locked() noexcept {
    ended_ = true;
    try {
        shutdown_ = controller_.ShutdownQueueAsync();
        // The handler may run meanwhile (at once, under this lock): it then only marks the shutdown done.
        registering_.store(true);
        shutdown_.Completed(
            {&ThreadQueue::shut_down, std::make_shared<std::weak_ptr<ThreadQueue>>(weak_from_this())});
        registering_.store(false);
        if (shutdown_done_.load()) shutdown_ = {};
    } catch (...) {
        // A queue that cannot be shut down, or told of its shutdown, is let go of as it is.
        shutdown_ = {};
    }
    controller_ = {};
}

void ThreadQueue::shut_down(void *context) {
    const std::shared_ptr<ThreadQueue> queue = static_cast<std::weak_ptr<ThreadQueue> *>(context)->lock();
    if (!queue) return;
    queue->shutdown_done_.store(true);
    if (queue->registering_.load()) return;
    const std::lock_guard lock(queue->mutex_);
    if (!queue->registering_.load()) queue->shutdown_ = {};
}

void ThreadQueue::end_with_thread() noexcept {
    {
        std::lock_guard lock(mutex_);
        if (controller_ && !ended_) begin_shutdown_locked();
    }
    int idle = 0;
    try {
        while (shutdown_ && !shutdown_done_.load() && idle < kExitIdlePolls) {
            MSG msg;
            if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            } else {
                ++idle;
                std::this_thread::sleep_for(kExitIdlePoll);
            }
        }
    } catch (...) {
    }
}

}  // namespace corvo
