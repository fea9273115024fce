#include "platform/emulated/message_queue.h"

#include "corvo_emu.h"
#include "platform/emulated/c_boundary.h"
#include "platform/emulated/system.h"
#include "platform/emulated/targets.h"

namespace corvo::emu {
namespace {

// The message that carries a task: wParam is the function, lParam its context. Its window is no window a host
// can post to, so that no message of a host is taken for a task.
constexpr UINT kTaskMessage = WM_APP;
const char kTaskWindow = 0;
HWND task_window() { return reinterpret_cast<HWND>(const_cast<char *>(&kTaskWindow)); }

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
    msg.hwnd = task_window();
    msg.message = kTaskMessage;
    msg.wParam = reinterpret_cast<WPARAM>(task);
    msg.lParam = reinterpret_cast<LPARAM>(context);
    std::lock_guard lock(mutex_);
    messages_.push_back({msg, discard});
}

void MessageQueue::post(const MSG &msg) {
    std::lock_guard lock(mutex_);
    messages_.push_back({msg, nullptr});
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
    if (msg && msg->hwnd == task_window() && msg->message == kTaskMessage && msg->wParam)
        reinterpret_cast<Task>(msg->wParam)(reinterpret_cast<void *>(msg->lParam));
    return 0;  // simulated windows have no window procedure
}

BOOL WINAPI PostMessageW(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    call("PostMessageW");
    return or_failure<BOOL>(0, [&] {
        std::shared_ptr<MessageQueue> queue = MessageQueue::current();
        if (window) {
            const std::shared_ptr<Target> target = find_target(window);
            if (!target || target->kind != Target::Kind::window || target->closed()) return 0;
            queue = target->thread_queue.lock();
            if (!queue) return 0;
        }
        MSG msg{};
        msg.hwnd = window;
        msg.message = message;
        msg.wParam = wparam;
        msg.lParam = lparam;
        queue->post(msg);
        return 1;
    });
}

void WINAPI PostQuitMessage(int exit_code) {
    call("PostQuitMessage");
    or_nothing([&] {
        MSG msg{};
        msg.message = WM_QUIT;
        msg.wParam = WPARAM(exit_code);
        MessageQueue::current()->post(msg);
    });
}

BOOL WINAPI IsWindow(HWND window) {
    return or_failure<BOOL>(0, [&] {
        const std::shared_ptr<Target> target = find_target(window);
        return target && target->kind == Target::Kind::window && !target->closed() ? 1 : 0;
    });
}

void corvo_emu_post(void (*fn)(void *), void *context) CORVO_EMU_NOEXCEPT {
    if (fn) or_nothing([&] { MessageQueue::current()->post(fn, context); });
}

}  // extern "C"
