#include "session/thread_queue.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <vector>

namespace corvo {
namespace {

// The queues with leases, one per thread; a lease may end on another thread than the queue's.
struct Registry {
    std::mutex mutex;
    std::vector<ThreadQueue *> queues;
};

Registry &registry() {
    static Registry *r = new Registry;  // never destroyed: sessions may outlive static destruction
    return *r;
}

}  // namespace

ThreadQueue::Lease ThreadQueue::for_current_thread(HRESULT *hr) noexcept {
    *hr = S_OK;
    const std::thread::id thread = std::this_thread::get_id();
    Registry &r = registry();
    {
        std::lock_guard lock(r.mutex);
        for (ThreadQueue *queue : r.queues)
            if (queue->thread_ == thread) {
                ++queue->leases_;
                return Lease(queue);
            }
    }
    const platform::DispatcherQueueOptions options{sizeof(platform::DispatcherQueueOptions),
                                                   platform::DQTYPE_THREAD_CURRENT, platform::DQTAT_COM_NONE};
    platform::DispatcherQueueController controller;
    *hr = platform::DispatcherQueueController::create(options, &controller);
    // The thread has a queue of the host's: the service delivers through it, and it is not ours to shut down.
    if (*hr == RPC_E_WRONG_THREAD) *hr = S_OK;
    if (FAILED(*hr)) return nullptr;
    Lease lease(new (std::nothrow) ThreadQueue(std::move(controller), thread));
    if (!lease) {
        *hr = E_OUTOFMEMORY;
        return nullptr;
    }
    try {
        std::lock_guard lock(r.mutex);
        r.queues.push_back(lease.get());
    } catch (const std::bad_alloc &) {
        *hr = E_OUTOFMEMORY;
        return nullptr;  // the lease shuts the queue down again
    }
    return lease;
}

void ThreadQueue::release() noexcept {
    {
        Registry &r = registry();
        std::lock_guard lock(r.mutex);
        if (--leases_ > 0) return;
        r.queues.erase(std::remove(r.queues.begin(), r.queues.end(), this), r.queues.end());
    }
    try {
        if (controller_) controller_.ShutdownQueueAsync();
    } catch (...) {
        // A queue that cannot be shut down is released as it is.
    }
    delete this;
}

}  // namespace corvo
