// Per-thread message queues. Messages are posted from any thread and dispatched only by their own thread,
// through PeekMessageW / DispatchMessageW.
#pragma once

#include <deque>
#include <memory>
#include <mutex>

#include "corvo_emu_win32.h"

namespace corvo::emu {

using Task = void (*)(void *context);

class MessageQueue {
public:
    // The calling thread's queue, made on first use.
    static std::shared_ptr<MessageQueue> current();
    void post(Task task, void *context);
    // The oldest message, removed from the queue when `remove` is set.
    bool take(MSG *msg, bool remove);
    void clear();

private:
    std::mutex mutex_;
    std::deque<MSG> messages_;
};

}  // namespace corvo::emu
