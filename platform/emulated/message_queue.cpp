#include "platform/emulated/message_queue.h"

#include "corvo_emu.h"
#include "platform/emulated/c_boundary.h"
#include "platform/emulated/system.h"

namespace corvo::emu {
namespace {

// The message that carries a task: wParam is the function, lParam its context.
constexpr UINT kTaskMessage = 0x8000;

}  // namespace

std::shared_ptr<MessageQueue> MessageQueue::current() {
    thread_local std::shared_ptr<MessageQueue> queue = std::make_shared<MessageQueue>();
    return queue;
}

MessageQueue::~MessageQueue() {
    for (const Entry &entry : messages_)
        if (entry.discard) entry.discard(reinterpret_cast<void *>(entry.msg.lParam));
}

void MessageQueue::post(Task task, void *context, Task discard) {
    MSG msg{};
    msg.message = kTaskMessage;
    msg.wParam = reinterpret_cast<WPARAM>(task);
    msg.lParam = reinterpret_cast<LPARAM>(context);
    std::lock_guard lock(mutex_);
    messages_.push_back({msg, discard});
}

bool MessageQueue::take(MSG *msg, bool remove) {
    std::lock_guard lock(mutex_);
    if (messages_.empty()) return false;
    *msg = messages_.front().msg;
    if (remove) messages_.pop_front();
    return true;
}

}  // namespace corvo::emu

using namespace corvo::emu;

extern "C" {

BOOL WINAPI PeekMessageW(MSG *msg, HWND, UINT, UINT, UINT remove) {
    call("PeekMessageW");
    if (!msg) return 0;
    return or_failure<BOOL>(0, [&] {
        return MessageQueue::current()->take(msg, (remove & PM_REMOVE) != 0) ? 1 : 0;
    });
}

BOOL WINAPI TranslateMessage(const MSG *) { return 0; }

LRESULT WINAPI DispatchMessageW(const MSG *msg) {
    call("DispatchMessageW");
    if (msg && msg->message == kTaskMessage && msg->wParam)
        reinterpret_cast<Task>(msg->wParam)(reinterpret_cast<void *>(msg->lParam));
    return 0;
}

void corvo_emu_post(void (*fn)(void *), void *context) CORVO_EMU_NOEXCEPT {
    if (fn) or_nothing([&] { MessageQueue::current()->post(fn, context); });
}

}  // extern "C"
