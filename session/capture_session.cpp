#include "session/capture_session.h"

#include <exception>
#include <new>
#include <utility>

#include "session/log_sink.h"

namespace corvo {

namespace {

std::shared_ptr<FrameSlot> make_slot() noexcept {
    try {
        return std::make_shared<FrameSlot>();
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

}  // namespace

WgcCaptureSession::WgcCaptureSession(HWND window) noexcept : slot_(make_slot()), target_window_(window) {}

WgcCaptureSession::WgcCaptureSession(HMONITOR monitor) noexcept : slot_(make_slot()), target_monitor_(monitor) {}

void WgcCaptureSession::destroy(WgcCaptureSession *session) noexcept {
    SessionLifetime::Call call(session->lifetime_);
    const bool first = call.admitted();
    const bool now = session->lifetime_.request_destroy(call);
    // A wait on another thread ends at once, so that the teardown does not wait for it.
    if (first) session->slot_->stopped();
    if (now || call.leave()) tear_down(session);
}

void WgcCaptureSession::tear_down(WgcCaptureSession *session) noexcept {
    session->lifetime_.wait_for_other_calls();
    {
        // Its failures are this session's, whichever session's logger destroys it.
        const FailureRecord record(session->last_error_record());
        // Stopped first, so that nothing of it runs after the host has let go of it; a closing not yet told is
        // told before, since the destroy is the host's next call.
        session->tell_closed();
        session->Stop();
    }
    delete session;
}

bool WgcCaptureSession::tell_events() noexcept {
    tell_closed();
    if (destroyed()) return false;
    tell_borderless_answer();
    return !destroyed();
}

void WgcCaptureSession::tell_closed() noexcept {
    // Closed may run where the host has not called the library; its line waits for the host's next call.
    if (slot_->take_closed()) log_message(kLogInfo, "Wgc on_closed");
}

void WgcCaptureSession::Stop() noexcept {
    log_message(kLogInfo, "Try to exit wgc thread");
    frame_arrived_revoker_.revoke();
    closed_revoker_.revoke();
    slot_->end();
    close_capture(true);
    release_pipeline();
    log_message(kLogInfo, "Wgc exit.");
}

void WgcCaptureSession::close_capture(bool log_errors) noexcept {
    slot_->suspend();  // the frame it keeps goes back to the pool before the pool closes
    platform::GraphicsCaptureSession session;
    {
        // Closed outside the lock, since a close may take long; a switch meanwhile finds no session to set.
        const std::lock_guard lock(switch_mutex_);
        session = std::exchange(capture_session_, {});
    }
    try {
        if (frame_pool_) frame_pool_.Close();
        if (session) session.Close();
    } catch (const platform::PlatformError &error) {
        if (log_errors) log_failure(error.code(), "Exception catced %s", error.message().c_str());
    } catch (const std::bad_alloc &) {
        if (log_errors) log_failure(E_OUTOFMEMORY, "Exception catched: %08x", static_cast<unsigned>(E_OUTOFMEMORY));
    } catch (...) {
        if (log_errors) log_failure(E_FAIL, "Exception catched: %08x", static_cast<unsigned>(E_FAIL));
    }
    session = {};
    frame_pool_ = {};
}

void WgcCaptureSession::release_pipeline() noexcept {
    closed_revoker_.revoke();
    slot_->end();
    release_device_objects();
    capture_item_ = {};
    converting_ = false;
    recovering_ = false;
    thread_queue_.reset();
}

void WgcCaptureSession::release_device_objects() noexcept {
    frame_arrived_revoker_.revoke();
    close_capture(false);
    frame_path_.release();
    winrt_device_ = {};
    d3d_context_.reset();
    d3d_device_.reset();
    adapter_.reset();
    dxgi_factory_.reset();
    content_size_ = {};
    failed_recreate_ = {};
    pool_format_ = DXGI_FORMAT_B8G8R8A8_UNORM;
    monitor_colour_.reset();
    device_lost_ = false;
}

bool WgcCaptureSession::set_pixel_format(int32_t format) noexcept {
    static constexpr const char *kNames[] = {"bgra8", "sdr from hdr", "fp16"};
    if (format < CORVO_WGC_FORMAT_BGRA8 || format > CORVO_WGC_FORMAT_FP16) {
        log_message(kLogWarning, "Failed to set pixel format %ld", static_cast<long>(format));
        return false;
    }
    // Taken by the next frame: the poll recreates the pool in the format it needs.
    pixel_format_.store(format);
    log_message(kLogInfo, "Set pixel format %s", kNames[format]);
    return true;
}

void WgcCaptureSession::set_recovery(uint8_t on) noexcept {
    device_source_.set_recovery(on);
    slot_->set_recovers(on != 0);
}

void WgcCaptureSession::set_dirty_rect(uint8_t enable) noexcept {
    dirty_rect_enabled_.store(enable);
    log_message(kLogInfo, "Set dirtyRect %s", enable ? "enable" : "disable");
}

}  // namespace corvo
