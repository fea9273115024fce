// The dispatcher queue of a thread that starts sessions; the capture service delivers their closing through it.
// The first session started on a thread that has none makes it, and every session started there shares it.
// When the last of them lets go, on whatever thread, the queue stays with its thread for the moment, so that a
// session started there right after (a failed start tried again, a host switching targets) captures through a
// live queue; the thread's next dispatch (the host's loop, or a poll) retires it if no session took it by then:
// its shutdown begins, and completes at the dispatch after, so that the thread may have a queue of the host's
// again. A thread that ends while the library's queue is still there shuts it down as it exits and dispatches
// until the shutdown has completed, as the platform requires of a thread with a queue. No start or destroy
// dispatches the host's messages. A thread whose queue the host made itself keeps it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/capture.h"

namespace corvo {

class ThreadQueue : public std::enable_shared_from_this<ThreadQueue> {
public:
    // One session's share of a thread's queue.
    class Lease {
    public:
        Lease() noexcept = default;
        Lease(Lease &&other) noexcept = default;
        Lease &operator=(Lease &&other) noexcept;
        ~Lease() { reset(); }
        void reset() noexcept;
        explicit operator bool() const noexcept { return bool(queue_); }

    private:
        friend class ThreadQueue;
        explicit Lease(std::shared_ptr<ThreadQueue> queue) noexcept : queue_(std::move(queue)) {}
        std::shared_ptr<ThreadQueue> queue_;
    };

    // The calling thread's queue; empty with the failure in `*hr` when it can be neither found nor made.
    static Lease for_current_thread(HRESULT *hr) noexcept;

    explicit ThreadQueue(platform::DispatcherQueueController controller) noexcept
        : controller_(std::move(controller)) {}
    // Shuts the queue down as its thread exits, dispatching until that has completed.
    void end_with_thread() noexcept;

private:
    bool take_lease() noexcept;
    void release() noexcept;
    bool shutting_down() noexcept;
    // On the queue's thread, inside its dispatching: begins the shutdown if no session took the queue again.
    static void retire(void *queue);
    // Under the lock; the queue takes no new session afterwards.
    void begin_shutdown_locked() noexcept;
    // The shutdown's Completed handler: the action is let go of.
    static void shut_down(void *queue);

    std::mutex mutex_;
    platform::DispatcherQueueController controller_;  // empty when the queue is the host's own
    platform::QueueShutdown shutdown_;                // from the shutdown's beginning to its completion
    std::atomic<bool> shutdown_done_{false};
    std::atomic<bool> registering_{false};  // its Completed handler is being registered, under the lock
    uint32_t leases_ = 0;
    bool ended_ = false;  // shut down, or the host's queue let go of: no session takes it again
};

}  // namespace corvo
