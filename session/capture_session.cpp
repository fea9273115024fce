#include "session/capture_session.h"

#include <exception>
#include <new>

#include "api/log_sink.h"

namespace corvo {

WgcCaptureSession::WgcCaptureSession(HWND window) noexcept : target_window(window) {}

WgcCaptureSession::WgcCaptureSession(HMONITOR monitor) noexcept : target_monitor(monitor) {}

WgcCaptureSession::~WgcCaptureSession() {
    Stop();
    cpu_output.reset();
    // The remaining fields are destroyed in reverse declaration order.
}

void WgcCaptureSession::destroy(WgcCaptureSession *session) noexcept {
    if (session->calls_in_progress.load() == 0) {
        delete session;
        return;
    }
    // Stopped first, so that nothing of it runs after the host has let go of it.
    if (!session->destroy_requested.exchange(true)) session->Stop();
}

void WgcCaptureSession::on_closed() noexcept {
    started.store(0);
    // Last: a logger may destroy the session on this line.
    log_message(kLogInfo, "Wgc on_closed");
}

void WgcCaptureSession::Stop() noexcept {
    log_message(kLogInfo, "Try to exit wgc thread");
    frame_arrived_revoker.revoke();
    closed_revoker.revoke();
    close_capture(true);
    release_pipeline();
    log_message(kLogInfo, "Wgc exit.");
}

void WgcCaptureSession::close_capture(bool log_errors) noexcept {
    waiting_frame = {};  // back to the pool before it closes
    try {
        if (frame_pool) frame_pool.Close();
        if (capture_session) capture_session.Close();
    } catch (const platform::PlatformError &error) {
        if (log_errors) log_message(kLogError, "Exception catced %s", error.message().c_str());
    } catch (const std::bad_alloc &) {
        if (log_errors) log_message(kLogError, "Exception catched: %08x", static_cast<unsigned>(E_OUTOFMEMORY));
    } catch (...) {
        if (log_errors) log_message(kLogError, "Exception catched: %08x", static_cast<unsigned>(E_FAIL));
    }
    capture_session = {};
    frame_pool = {};
}

void WgcCaptureSession::release_pipeline() noexcept {
    started.store(0);
    frame_arrived_revoker.revoke();
    closed_revoker.revoke();
    close_capture(false);
    texture_output.reset();
    cpu_output.release_textures();
    detector.shutdown();
    history_output = Output::kNone;
    read_change = handed_change = -1;
    handed_output = Output::kNone;
    capture_item = {};
    winrt_device = {};
    d3d_context.reset();
    d3d_device.reset();
    adapter.reset();
    dxgi_factory.reset();
    content_size = failed_recreate = {};
    device_lost = false;
    // Last: shutting the thread's queue down dispatches the thread's messages.
    thread_queue.reset();
}

void WgcCaptureSession::set_dirty_rect(uint8_t enable) noexcept {
    dirty_rect_enabled.store(enable);
    log_message(kLogInfo, "Set dirtyRect %s", enable ? "enable" : "disable");
}

float WgcCaptureSession::take_update_ratio() noexcept {
    const float ratio = update_ratio;
    update_ratio = 0.0f;
    return ratio;
}

}  // namespace corvo
