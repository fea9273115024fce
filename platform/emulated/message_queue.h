// Per-thread message queues. Messages are posted from any thread and dispatched only by their own thread,
// through PeekMessageW / DispatchMessageW: the platform's own work (events, a queue's shutdown) and what hosts
// post to their windows and threads, in the order they were posted.
#pragma once

#include <deque>
#include <memory>
#include <mutex>

#include "corvo_emu_win32.h"

namespace corvo::emu {

using Task = void (*)(void *context);

class MessageQueue {
public:
    MessageQueue() = default;
    MessageQueue(const MessageQueue &) = delete;
    MessageQueue &operator=(const MessageQueue &) = delete;
    // Messages never dispatched are discarded, as when a thread ends.
    ~MessageQueue();

    // The calling thread's queue, made on first use.
    static std::shared_ptr<MessageQueue> current();
    // `discard`, when given, is called with the context instead of `task` if the message is never dispatched,
    // so that a message may own what its context points to.
    void post(Task task, void *context, Task discard = nullptr);
    // A message of the host's, as posted.
    void post(const MSG &msg);
    // The oldest message, removed from the queue when `remove` is set.
    bool take(MSG *msg, bool remove);

private:
    struct Entry {
        MSG msg;
        Task discard;
    };
    std::mutex mutex_;
    std::deque<Entry> messages_;
};

}  // namespace corvo::emu
