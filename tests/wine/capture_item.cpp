// The capture item: a window or a monitor, its size and name, and its Closed event.
#include "capture_service.h"

namespace wine_wgc {
namespace {

constexpr UINT kRaiseClosed = WM_APP + 2;
constexpr wchar_t kWindowClass[] = L"corvo-test-capture-item";

LRESULT CALLBACK item_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message != kRaiseClosed) return DefWindowProcW(window, message, wparam, lparam);
    // The reference taken when the message was posted is handed to this call.
    Ref<CaptureItem>::attach(reinterpret_cast<CaptureItem *>(lparam))->raise_closed();
    return 0;
}

// The calling thread's message window for the items it makes; the system destroys it with the thread.
HWND thread_window() {
    thread_local HWND window = nullptr;
    if (window && IsWindow(window)) return window;
    static const ATOM window_class = [] {
        WNDCLASSW description{};
        description.lpfnWndProc = item_window_proc;
        description.hInstance = GetModuleHandleW(nullptr);
        description.lpszClassName = kWindowClass;
        return RegisterClassW(&description);
    }();
    if (!window_class) return nullptr;
    window = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr),
                             nullptr);
    return window;
}

}  // namespace

CaptureItem::CaptureItem(Target target) : target_(target), thread_window_(thread_window()) {}

void CaptureItem::close_target() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) return;
        closed_ = true;
    }
    AddRef();  // for the message; given back where it cannot be posted
    if (!thread_window_ || !PostMessageW(thread_window_, kRaiseClosed, 0, reinterpret_cast<LPARAM>(this))) Release();
}

void CaptureItem::raise_closed() {
    std::vector<std::pair<INT64, Ref<IClosedHandler>>> handlers;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        handlers = handlers_;  // a copy: a handler may remove itself
    }
    for (const auto &[token, handler] : handlers) handler->Invoke(this, nullptr);
}

HRESULT CaptureItem::get_DisplayName(HSTRING *value) {
    if (!value) return E_POINTER;
    *value = nullptr;
    wchar_t name[256] = L"";
    if (target_.window) {
        GetWindowTextW(target_.window, name, int(std::size(name)));
    } else {
        MONITORINFOEXW info{};
        info.cbSize = sizeof(info);
        if (GetMonitorInfoW(target_.monitor, &info)) wcsncpy(name, info.szDevice, std::size(name) - 1);
    }
    return WindowsCreateString(name, UINT32(wcslen(name)), value);
}

HRESULT CaptureItem::get_Size(SizeInt32 *value) {
    if (!value) return E_POINTER;
    *value = target_.size();
    return S_OK;
}

HRESULT CaptureItem::add_Closed(IClosedHandler *handler, EventRegistrationToken *token) {
    if (!handler || !token) return E_POINTER;
    if (!agile(handler)) return E_INVALIDARG;  // see FramePool::add_FrameArrived
    std::lock_guard<std::mutex> lock(mutex_);
    token->value = next_token_++;
    handlers_.emplace_back(token->value, Ref<IClosedHandler>::share(handler));
    return S_OK;
}

HRESULT CaptureItem::remove_Closed(EventRegistrationToken token) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::erase_if(handlers_, [&](const auto &entry) { return entry.first == token.value; });
    return S_OK;
}

}  // namespace wine_wgc
