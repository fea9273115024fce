// The dispatcher queue of a thread that starts sessions; the capture service delivers their events through
// it. The first session started on a thread that has none makes it, every session started there shares it,
// and when the last of them lets go it is shut down as the platform requires: its shutdown is started and the
// thread's messages are dispatched until it completes. A thread whose queue the host made itself keeps it.
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
    // The last release shuts the queue down when it runs on the owning thread; elsewhere the controller is only
    // let go, since another thread cannot dispatch this thread's messages.
    void release() noexcept;
    void shut_down() noexcept;

    platform::DispatcherQueueController controller_;  // empty when the queue is the host's own
    const std::thread::id thread_;
    uint32_t leases_ = 1;  // guarded by the registry's lock
};

}  // namespace corvo
