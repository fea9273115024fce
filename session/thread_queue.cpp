#include "session/thread_queue.h"

#include <chrono>
#include <new>
#include <thread>

#include "platform/win32.h"

namespace corvo {
namespace {

// The calling thread's queue, as the library knows it; only its own thread changes it, so no entry outlives its
// thread. What it points to is kept alive by the thread's fiber-local value, whose callback runs as the thread
// exits: a thread_local destructor is not run reliably by every Windows toolchain (with emulated TLS its storage
// may be gone first).
thread_local ThreadQueue *current_queue = nullptr;

// True once the library is being unloaded: a callback then only lets go, on whatever thread FlsFree runs it.
std::atomic<bool> unloading{false};

void WINAPI thread_exits(void *value) {
    const std::unique_ptr<std::shared_ptr<ThreadQueue>> queue(static_cast<std::shared_ptr<ThreadQueue> *>(value));
    if (!unloading.load()) (*queue)->end_with_thread();
}

// The index, made once; given back at unload, so that no callback into an unloaded library is left.
struct ExitSlot {
    const DWORD index = FlsAlloc(&thread_exits);
    ~ExitSlot() {
        unloading.store(true);
        if (index != FLS_OUT_OF_INDEXES) FlsFree(index);
    }
};

DWORD exit_slot() {
    static const ExitSlot slot;
    return slot.index;
}

void make_current(const std::shared_ptr<ThreadQueue> &queue) noexcept {
    const DWORD slot = exit_slot();
    auto *held = slot == FLS_OUT_OF_INDEXES ? nullptr : new (std::nothrow) std::shared_ptr<ThreadQueue>(queue);
    // Without it the queue is still the session's, but not found again by the thread, nor ended with it.
    current_queue = nullptr;
    if (!held) return;
    const std::unique_ptr<std::shared_ptr<ThreadQueue>> previous(
        static_cast<std::shared_ptr<ThreadQueue> *>(FlsGetValue(slot)));
    if (!FlsSetValue(slot, held)) {
        delete held;
        return;
    }
    current_queue = queue.get();
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
    if (current_queue && current_queue->take_lease()) return Lease(current_queue->shared_from_this());
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
    return shutdown_begun_.load() && !shutdown_done_.load();
}

bool ThreadQueue::take_lease() noexcept {
    std::lock_guard lock(mutex_);
    if (ended_) return false;
    ++leases_;
    return true;
}

// The platform is called outside the lock throughout: it may run the queue's handlers at once, on this thread.

void ThreadQueue::release() noexcept {
    platform::DispatcherQueueController controller;
    {
        std::lock_guard lock(mutex_);
        if (--leases_ > 0 || ended_) return;
        if (!controller_) {
            ended_ = true;  // the host's queue: the next start looks again whether the thread has one
            return;
        }
        controller = controller_;
    }
    // The queue's own thread decides at its next dispatch; the work holds the queue until then. A queue that
    // takes no work any more is shut down at once.
    try {
        if (controller.TryEnqueue({&ThreadQueue::retire, shared_from_this()})) return;
    } catch (...) {
    }
    end(false);
}

void ThreadQueue::retire(void *context) { static_cast<ThreadQueue *>(context)->end(false); }

void ThreadQueue::end(bool with_thread) noexcept {
    platform::DispatcherQueueController controller;
    {
        std::lock_guard lock(mutex_);
        if (ended_ || (leases_ > 0 && !with_thread)) return;
        ended_ = true;
        controller = std::move(controller_);
        shutdown_begun_.store(bool(controller));
    }
    if (!controller) return;
    platform::QueueShutdown action;
    try {
        action = controller.ShutdownQueueAsync();
        action.Completed({&ThreadQueue::shut_down, std::make_shared<std::weak_ptr<ThreadQueue>>(weak_from_this())});
    } catch (...) {
        shutdown_done_.store(true);  // a queue that cannot be shut down, or told of it, is let go of as it is
    }
    {
        std::lock_guard lock(mutex_);
        if (!shutdown_done_.load()) shutdown_ = std::move(action);
    }
    // Released last: letting go of the controller may end the queue at once.
}

void ThreadQueue::shut_down(void *context) {
    const std::shared_ptr<ThreadQueue> queue = static_cast<std::weak_ptr<ThreadQueue> *>(context)->lock();
    if (!queue) return;
    queue->shutdown_done_.store(true);
    platform::QueueShutdown action;  // let go of after the lock
    const std::lock_guard lock(queue->mutex_);
    action = std::move(queue->shutdown_);
}

void ThreadQueue::end_with_thread() noexcept {
    end(true);
    int idle = 0;
    try {
        while (shutdown_begun_.load() && !shutdown_done_.load() && idle < kExitIdlePolls) {
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
