#include "session/capture_session.h"

#include <exception>
#include <new>

#include "api/log_sink.h"

namespace corvo {

WgcCaptureSession::WgcCaptureSession(HWND window) noexcept : target_window(window) {}

WgcCaptureSession::WgcCaptureSession(HMONITOR monitor) noexcept : target_monitor(monitor) {}

WgcCaptureSession::~WgcCaptureSession() {
    Stop();
    release_all();
    // The remaining fields are destroyed in reverse declaration order.
}

void WgcCaptureSession::on_closed() noexcept {
    log_message(kLogInfo, "Wgc on_closed");
    started.exchange(0);
}

void WgcCaptureSession::Stop() noexcept {
    log_message(kLogInfo, "Try to exit wgc thread");
    frame_arrived_revoker.revoke();
    closed_revoker.revoke();
    waiting_frame = {};
    try {
        if (frame_pool) frame_pool.Close();
        if (capture_session) capture_session.Close();
    } catch (const platform::PlatformError &error) {
        log_message(kLogError, "Exception catced %s", error.message().c_str());
    } catch (const std::bad_alloc &) {
        log_message(kLogError, "Exception catched: %08x", static_cast<unsigned>(E_OUTOFMEMORY));
    } catch (...) {
        log_message(kLogError, "Exception catched: %08x", static_cast<unsigned>(E_FAIL));
    }
    log_message(kLogInfo, "Wgc exit.");
}

void WgcCaptureSession::release_all() noexcept {
    cpu_output.reset();
    texture_output.reset();
    detector.shutdown();
}

void WgcCaptureSession::set_dirty_rect(uint8_t enable) noexcept {
    dirty_rect_enabled.exchange(enable);
    log_message(kLogInfo, "Set dirtyRect %s", enable ? "enable" : "disable");
}

float WgcCaptureSession::take_update_ratio() noexcept {
    const float ratio = update_ratio;
    update_ratio = 0.0f;
    return ratio;
}

}  // namespace corvo
