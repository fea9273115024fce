// The capture session: starts and stops its pool's frames and keeps the switches the host sets.
#include "capture_service.h"

namespace wine_wgc {

CaptureSession::CaptureSession(Ref<FramePool> pool, Ref<CaptureItem> item)
    : pool_(std::move(pool)), item_(std::move(item)) {}

CaptureSession::~CaptureSession() { Close(); }

HRESULT CaptureSession::StartCapture() {
    if (!pool_) return kClosed;
    if (started_) return kIllegalMethodCall;
    if (const HRESULT fault = take_fault(Fault::StartCapture); FAILED(fault)) return fault;
    const HRESULT hr = pool_->start(item_);
    if (SUCCEEDED(hr)) started_ = true;
    return hr;
}

HRESULT CaptureSession::get_IsCursorCaptureEnabled(boolean *value) {
    if (!value) return E_POINTER;
    *value = cursor_;
    return S_OK;
}

HRESULT CaptureSession::put_IsCursorCaptureEnabled(boolean value) {
    if (!pool_) return kClosed;
    if (const HRESULT fault = take_fault(Fault::Switch); FAILED(fault)) return fault;
    cursor_ = value;
    pool_->cursor = value != 0;
    observed().cursor = value ? 1 : 0;
    return S_OK;
}

HRESULT CaptureSession::get_IsBorderRequired(boolean *value) {
    if (!value) return E_POINTER;
    *value = border_;
    return S_OK;
}

HRESULT CaptureSession::put_IsBorderRequired(boolean value) {
    if (!pool_) return kClosed;
    if (const HRESULT fault = take_fault(Fault::Switch); FAILED(fault)) return fault;
    // As for a packaged program: hiding takes effect only with the user's consent.
    const bool shown = value || observed().borderless_access.load() != kBorderlessAllowed;
    border_ = shown;
    observed().border = shown ? 1 : 0;
    return S_OK;
}

HRESULT CaptureSession::get_MinUpdateInterval(TimeSpan *value) {
    if (!value) return E_POINTER;
    *value = interval_;
    return S_OK;
}

HRESULT CaptureSession::put_MinUpdateInterval(TimeSpan value) {
    if (!pool_) return kClosed;
    if (value.Duration < 0) return E_INVALIDARG;
    if (const HRESULT fault = take_fault(Fault::Switch); FAILED(fault)) return fault;
    interval_ = value;
    pool_->min_interval = value.Duration;
    observed().interval = value.Duration;
    return S_OK;
}

HRESULT CaptureSession::Close() {
    if (pool_ && started_) pool_->stop();
    pool_ = nullptr;
    item_ = nullptr;
    return S_OK;
}

}  // namespace wine_wgc
