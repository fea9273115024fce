// The coremessaging.dll of the test prefix: dispatcher queues on the calling thread. Queued work runs inside that
// thread's message dispatching (a message to a window the thread owns), as a current-thread queue's work does.
// A thread has at most one queue, from its controller's creation until the queue is shut down or the controller
// goes away. ShutdownQueueAsync completes as on Windows: its action reports Started until the thread, pumping
// its messages, has run the work queued before it.
#include <mutex>
#include <vector>

#include "com_object.h"

namespace wine_wgc {
namespace {

constexpr UINT kRunHandler = WM_APP + 1;
constexpr UINT kShutDown = WM_APP + 2;  // after the work queued before ShutdownQueueAsync
constexpr wchar_t kWindowClass[] = L"corvo-test-dispatcher-queue";

class Queue;
thread_local Queue *thread_queue = nullptr;  // this thread's queue, while it has one

// The action ShutdownQueueAsync returns: Started until the queue has shut down.
class ShutdownAction final : public Object<IAsyncAction, AsyncInfo> {
public:
    void complete() {
        Ref<IAsyncActionCompletedHandler> handler;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
            handler = handler_;
        }
        if (handler) handler->Invoke(this, AsyncCompleted);
    }

    HRESULT STDMETHODCALLTYPE put_Completed(IAsyncActionCompletedHandler *handler) override {
        if (!handler) return E_POINTER;
        bool done = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            handler_ = Ref<IAsyncActionCompletedHandler>::share(handler);
            done = done_;
        }
        return done ? handler->Invoke(this, AsyncCompleted) : S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Completed(IAsyncActionCompletedHandler **handler) override {
        std::lock_guard<std::mutex> lock(mutex_);
        return hand_out(handler_.get(), handler);
    }
    HRESULT STDMETHODCALLTYPE GetResults() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE get_Status(AsyncStatus *status) override {
        if (!status) return E_POINTER;
        std::lock_guard<std::mutex> lock(mutex_);
        *status = done_ ? AsyncCompleted : AsyncStarted;
        return S_OK;
    }

private:
    const wchar_t *class_name() const override { return L"Windows.Foundation.IAsyncAction"; }
    std::mutex mutex_;
    bool done_ = false;
    Ref<IAsyncActionCompletedHandler> handler_;
};

LRESULT CALLBACK queue_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

HWND create_queue_window() {
    static const ATOM window_class = [] {
        WNDCLASSW description{};
        description.lpfnWndProc = queue_window_proc;
        description.hInstance = GetModuleHandleW(nullptr);
        description.lpszClassName = kWindowClass;
        return RegisterClassW(&description);
    }();
    if (!window_class) return nullptr;
    return CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr),
                           nullptr);
}

class Queue final : public Object<IDispatcherQueue, IDispatcherQueue2> {
public:
    explicit Queue(HWND window) : window_(window), thread_(GetCurrentThreadId()) {}
    ~Queue() override { shut_down(); }

    HRESULT STDMETHODCALLTYPE CreateTimer(IInspectable **timer) override {
        if (timer) *timer = nullptr;
        return E_NOTIMPL;  // neither the library nor the capture service uses timers
    }
    HRESULT STDMETHODCALLTYPE TryEnqueue(IDispatcherQueueHandler *callback, boolean *queued) override {
        return TryEnqueueWithPriority(0, callback, queued);
    }
    HRESULT STDMETHODCALLTYPE TryEnqueueWithPriority(INT32, IDispatcherQueueHandler *callback,
                                                     boolean *queued) override {
        if (!callback || !queued) return E_POINTER;
        *queued = 0;
        std::lock_guard<std::mutex> lock(mutex_);  // work comes from any thread; none may slip past a shutdown
        if (!window_ || closing_) return S_OK;     // shutting down: accepted no more, as the platform answers
        callback->AddRef();
        if (!PostMessageW(window_, kRunHandler, 0, reinterpret_cast<LPARAM>(callback))) {
            callback->Release();
            return HRESULT_FROM_WIN32(GetLastError());
        }
        *queued = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE add_ShutdownStarting(IUnknown *, EventRegistrationToken *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_ShutdownStarting(EventRegistrationToken) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE add_ShutdownCompleted(IUnknown *, EventRegistrationToken *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_ShutdownCompleted(EventRegistrationToken) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_HasThreadAccess(boolean *value) override {
        if (!value) return E_POINTER;
        *value = GetCurrentThreadId() == thread_;
        return S_OK;
    }

    // ShutdownQueueAsync: no more work is accepted, and the queue shuts down once the thread has run what
    // was queued before.
    HRESULT begin_shut_down(IAsyncAction **operation) {
        Ref<ShutdownAction> action = Ref<ShutdownAction>::attach(new ShutdownAction());
        {
            std::lock_guard<std::mutex> lock(mutex_);
            closing_ = true;
            if (window_) {
                AddRef();  // both references go with the message
                action->AddRef();
                if (PostMessageW(window_, kShutDown, reinterpret_cast<WPARAM>(this),
                                 reinterpret_cast<LPARAM>(action.get())))
                    return hand_out<IAsyncAction>(action.get(), operation);
                action->Release();
                Release();
            }
        }
        shut_down();
        action->complete();
        return hand_out<IAsyncAction>(action.get(), operation);
    }

    // Ends the queue: it accepts nothing more, work not yet run is dropped (its references given back), a
    // shutdown under way completes, and the thread may have a queue again.
    void shut_down() {
        if (thread_queue == this) thread_queue = nullptr;
        std::vector<Ref<IDispatcherQueueHandler>> dropped;  // released after the lock: work may hold anything
        std::vector<std::pair<Ref<Queue>, Ref<ShutdownAction>>> shutdowns;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!window_) return;
            MSG message;
            // PeekMessage retrieves a waiting WM_QUIT whatever the filter: the thread's, given back below.
            bool quit = false;
            int exit_code = 0;
            while (PeekMessageW(&message, window_, kRunHandler, kShutDown, PM_REMOVE))
                if (message.message == WM_QUIT) {
                    quit = true;
                    exit_code = int(message.wParam);
                } else if (message.message == kRunHandler)
                    dropped.push_back(Ref<IDispatcherQueueHandler>::attach(
                        reinterpret_cast<IDispatcherQueueHandler *>(message.lParam)));
                else
                    shutdowns.emplace_back(
                        Ref<Queue>::attach(reinterpret_cast<Queue *>(message.wParam)),
                        Ref<ShutdownAction>::attach(reinterpret_cast<ShutdownAction *>(message.lParam)));
            DestroyWindow(window_);
            window_ = nullptr;
            if (quit) PostQuitMessage(exit_code);
        }
        for (auto &[queue, action] : shutdowns) action->complete();
    }

private:
    const wchar_t *class_name() const override { return L"Windows.System.DispatcherQueue"; }

    std::mutex mutex_;
    HWND window_;  // null once shut down
    bool closing_ = false;
    const DWORD thread_;
};

LRESULT CALLBACK queue_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    // The references taken when the message was posted are handed to this call.
    if (message == kRunHandler) {
        Ref<IDispatcherQueueHandler> handler =
            Ref<IDispatcherQueueHandler>::attach(reinterpret_cast<IDispatcherQueueHandler *>(lparam));
        handler->Invoke();
        return 0;
    }
    if (message == kShutDown) {
        Ref<Queue> queue = Ref<Queue>::attach(reinterpret_cast<Queue *>(wparam));
        Ref<ShutdownAction> action = Ref<ShutdownAction>::attach(reinterpret_cast<ShutdownAction *>(lparam));
        queue->shut_down();
        action->complete();
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

class Controller final : public Object<IDispatcherQueueController> {
public:
    explicit Controller(Ref<Queue> queue) : queue_(std::move(queue)) {}
    ~Controller() override { queue_->shut_down(); }

    HRESULT STDMETHODCALLTYPE get_DispatcherQueue(IDispatcherQueue **queue) override {
        return hand_out<IDispatcherQueue>(queue_.get(), queue);
    }
    HRESULT STDMETHODCALLTYPE ShutdownQueueAsync(IAsyncAction **operation) override {
        if (!operation) return E_POINTER;
        return queue_->begin_shut_down(operation);
    }

private:
    const wchar_t *class_name() const override { return L"Windows.System.DispatcherQueueController"; }
    Ref<Queue> queue_;
};

// The statics of Windows.System.DispatcherQueue.
class QueueStatics final : public Factory<IDispatcherQueueStatics> {
public:
    HRESULT STDMETHODCALLTYPE GetForCurrentThread(IDispatcherQueue **queue) override {
        return hand_out<IDispatcherQueue>(thread_queue, queue);  // null, with S_OK, on a thread without one
    }

private:
    const wchar_t *class_name() const override { return L"Windows.System.DispatcherQueue"; }
};

}  // namespace

// The module's exports: C names, inside the namespace only so that its names come first.
extern "C" {

HRESULT WINAPI CreateDispatcherQueueController(DispatcherQueueOptions options, IDispatcherQueueController **out) {
    if (!out) return E_POINTER;
    if (options.dwSize != sizeof(DispatcherQueueOptions)) return E_INVALIDARG;
    if (options.threadType != kThreadCurrent && options.threadType != kThreadDedicated) return E_INVALIDARG;
    *out = nullptr;
    if (options.threadType == kThreadDedicated) return E_NOTIMPL;  // a queue on a thread of its own: not needed
    if (thread_queue) return RPC_E_WRONG_THREAD;                   // this thread has its queue already
    HWND window = create_queue_window();
    if (!window) return HRESULT_FROM_WIN32(GetLastError());
    Ref<Queue> queue = Ref<Queue>::attach(new Queue(window));
    thread_queue = queue.get();
    *out = new Controller(std::move(queue));
    return S_OK;
}

HRESULT WINAPI DllGetActivationFactory(HSTRING class_id, IActivationFactory **factory) {
    if (!factory) return E_POINTER;
    *factory = nullptr;
    if (wcscmp(text_of(class_id), L"Windows.System.DispatcherQueue") != 0) return CLASS_E_CLASSNOTAVAILABLE;
    static QueueStatics statics;
    *factory = &statics;
    return S_OK;
}

HRESULT WINAPI DllCanUnloadNow() { return S_FALSE; }

// Dispatcher queue objects alive now, for the tests' leak checks.
long WINAPI corvo_test_live_objects() { return live_objects.load(); }
}

}  // namespace wine_wgc
