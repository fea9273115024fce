// The capture item: a window or a monitor, its size and name, and its Closed event.
#include "capture_service.h"

namespace wine_wgc {
namespace {

// Queued on the item's dispatcher queue when its target closes.
class ClosedAnnouncement final : public Object<IDispatcherQueueHandler> {
public:
    explicit ClosedAnnouncement(Ref<CaptureItem> item) : item_(std::move(item)) {}
    HRESULT STDMETHODCALLTYPE Invoke() override {
        item_->raise_closed();
        return S_OK;
    }

private:
    const wchar_t *class_name() const override { return L"Windows.System.DispatcherQueueHandler"; }
    Ref<CaptureItem> item_;
};

}  // namespace

CaptureItem::CaptureItem(Target target) : target_(target), queue_(current_thread_queue()) {}

void CaptureItem::close_target() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) return;
        closed_ = true;
    }
    if (!queue_) return;
    const Ref<ClosedAnnouncement> announcement =
        Ref<ClosedAnnouncement>::attach(new ClosedAnnouncement(Ref<CaptureItem>::share(this)));
    boolean queued = 0;
    queue_->TryEnqueue(announcement.get(), &queued);
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
