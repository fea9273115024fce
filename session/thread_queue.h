// The dispatcher queue of a thread that starts sessions; the capture service delivers their events through
// it. The first session started on a thread that has none makes it, every session started there shares it,
// and when the last of them lets go its shutdown is started, which the thread's own dispatching completes (the
// host's loop, or a poll): the library never dispatches the host's messages to finish it. Until then the
// thread keeps the queue, and a session started there meanwhile captures through it as through a queue of the
// host's. A thread whose queue the host made itself keeps it.
#pragma once

#include <cstdint>
#include <memory>
#include <thread>

#include "platform/capture.h"

namespace corvo {

class ThreadQueue {
public:
    struct Release {
        void operator()(ThreadQueue *queue) const noexcept { queue->release(); }
    };
    // One session's share of a thread's queue.
    using Lease = std::unique_ptr<ThreadQueue, Release>;

    // The calling thread's queue; empty with the failure in `*hr` when it can be neither found nor made.
    static Lease for_current_thread(HRESULT *hr) noexcept;

private:
    ThreadQueue(platform::DispatcherQueueController controller, std::thread::id thread) noexcept
        : controller_(std::move(controller)), thread_(thread) {}
    // The last release starts the shutdown, on whatever thread it runs.
    void release() noexcept;

    platform::DispatcherQueueController controller_;  // empty when the queue is the host's own
    const std::thread::id thread_;
    uint32_t leases_ = 1;  // guarded by the registry's lock
};

}  // namespace corvo
