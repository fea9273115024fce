// The exports. Each is noexcept; nothing crosses into the host.
#define CORVO_WGC_API CORVO_WGC_EXPORT
#include "corvo_wgc.h"

#include <new>

#include "session/log_sink.h"
#include "api/support_probe.h"
#include "session/capture_session.h"

using corvo::WgcCaptureSession;

namespace {

WgcCaptureSession *from(wgc_session session) noexcept { return reinterpret_cast<WgcCaptureSession *>(session); }

// Runs `call` on the session, or gives `failure` for a null one, or for one whose destroy was requested. The
// session counts the call, so that a destroy meanwhile, from a logger or another thread, frees nothing it uses.
template <class Result, class Call>
Result with_session(wgc_session handle, Result failure, Call &&call) noexcept {
    WgcCaptureSession *session = from(handle);
    if (!session) return failure;
    corvo::SessionLifetime::Call in(session->lifetime());
    Result result = failure;
    if (in.admitted()) {
        const corvo::FailureRecord record(session->last_error_record());
        if (session->tell_events()) result = call(*session);
    }
    if (in.leave()) WgcCaptureSession::tear_down(session);
    return result;
}

template <class Target>
wgc_session create(Target target) noexcept {
    if (!corvo::ensure_com_initialized()) return nullptr;
    auto *session = new (std::nothrow) WgcCaptureSession(target);
    if (session && !session->valid()) {
        delete session;
        return nullptr;
    }
    return reinterpret_cast<wgc_session>(session);
}

}  // namespace

extern "C" {

uint8_t CORVO_WGC_CALL is_wgc_session_supported(void) noexcept { return corvo::capture_supported() ? 1 : 0; }

uint8_t CORVO_WGC_CALL wgc_enable_cursor(wgc_session session, uint8_t enable) noexcept {
    return with_session<uint8_t>(session, 0, [&](WgcCaptureSession &s) { return s.enable_cursor(enable) ? 1 : 0; });
}

void CORVO_WGC_CALL wgc_free_recent_frame(void *) noexcept {}

ID3D11Device *CORVO_WGC_CALL wgc_get_device(wgc_session session) noexcept {
    return with_session<ID3D11Device *>(session, nullptr, [](WgcCaptureSession &s) { return s.device(); });
}

uint8_t CORVO_WGC_CALL wgc_get_recent_frame(wgc_session session, void **frame, intptr_t, int32_t *width,
                                            int32_t *height, uint8_t *cursor) noexcept {
    return with_session<uint8_t>(session, 0, [&](WgcCaptureSession &s) {
        return s.get_recent_frame(frame, width, height, cursor) ? 1 : 0;
    });
}

uint8_t CORVO_WGC_CALL wgc_get_status(wgc_session session) noexcept {
    return with_session<uint8_t>(session, 0, [](WgcCaptureSession &s) { return s.status(); });
}

float CORVO_WGC_CALL wgc_get_update_ratio(wgc_session session) noexcept {
    return with_session<float>(session, 0.0f, [](WgcCaptureSession &s) { return s.take_update_ratio(); });
}

void CORVO_WGC_CALL wgc_register_logger(wgc_log_callback callback) noexcept { corvo::set_log_sink(callback); }

wgc_session CORVO_WGC_CALL wgc_session_create(HWND window) noexcept { return create(window); }

wgc_session CORVO_WGC_CALL wgc_session_create2(HMONITOR monitor) noexcept {
    if (monitor == nullptr) return nullptr;
    return create(monitor);
}

void CORVO_WGC_CALL wgc_session_destroy(wgc_session session) noexcept {
    if (session) WgcCaptureSession::destroy(from(session));
}

uint8_t CORVO_WGC_CALL wgc_session_start(wgc_session session) noexcept {
    return with_session<uint8_t>(session, 0, [](WgcCaptureSession &s) { return s.Start() ? 1 : 0; });
}

void CORVO_WGC_CALL wgc_set_capture_to_texture(wgc_session session, uint8_t on) noexcept {
    with_session<bool>(session, false, [&](WgcCaptureSession &s) {
        s.set_capture_to_texture(on);
        return true;
    });
}

void CORVO_WGC_CALL wgc_set_dirty_rect(wgc_session session, uint8_t enable) noexcept {
    with_session<bool>(session, false, [&](WgcCaptureSession &s) {
        s.set_dirty_rect(enable);
        return true;
    });
}

uint8_t CORVO_WGC_CALL wgc_show_border(wgc_session session, uint8_t show) noexcept {
    return with_session<uint8_t>(session, 0, [&](WgcCaptureSession &s) { return s.show_border(show) ? 1 : 0; });
}

int32_t CORVO_WGC_CALL wgc_get_dirty_rects(wgc_session session, wgc_rect *rects, int32_t capacity) noexcept {
    return with_session<int32_t>(session, -1, [&](WgcCaptureSession &s) { return s.dirty_rects(rects, capacity); });
}

uint8_t CORVO_WGC_CALL wgc_set_min_update_interval(wgc_session session, uint32_t microseconds) noexcept {
    return with_session<uint8_t>(session, 0, [&](WgcCaptureSession &s) {
        return s.set_min_update_interval(microseconds) ? 1 : 0;
    });
}

uint8_t CORVO_WGC_CALL wgc_set_pixel_format(wgc_session session, int32_t format) noexcept {
    return with_session<uint8_t>(session, 0, [&](WgcCaptureSession &s) {
        return s.set_pixel_format(format) ? 1 : 0;
    });
}

uint8_t CORVO_WGC_CALL wgc_get_frame_info(wgc_session session, wgc_frame_info *info) noexcept {
    return with_session<uint8_t>(session, 0, [&](WgcCaptureSession &s) { return s.frame_info(info) ? 1 : 0; });
}

uint8_t CORVO_WGC_CALL wgc_wait_for_frame(wgc_session session, uint32_t timeout_ms) noexcept {
    return with_session<uint8_t>(session, 0, [&](WgcCaptureSession &s) {
        return s.wait_for_frame(timeout_ms) ? 1 : 0;
    });
}

int32_t CORVO_WGC_CALL wgc_get_last_error(wgc_session session) noexcept {
    return with_session<int32_t>(session, static_cast<int32_t>(E_POINTER), [](WgcCaptureSession &s) {
        return s.last_error();
    });
}

uint32_t CORVO_WGC_CALL wgc_get_version(void) noexcept { return CORVO_WGC_VERSION; }

uint8_t CORVO_WGC_CALL wgc_set_device(wgc_session session, ID3D11Device *device) noexcept {
    return with_session<uint8_t>(session, 0, [&](WgcCaptureSession &s) { return s.set_device(device) ? 1 : 0; });
}

uint8_t CORVO_WGC_CALL wgc_set_adapter(wgc_session session, int32_t choice) noexcept {
    return with_session<uint8_t>(session, 0, [&](WgcCaptureSession &s) { return s.set_adapter(choice) ? 1 : 0; });
}

uint8_t CORVO_WGC_CALL wgc_set_recovery(wgc_session session, uint8_t on) noexcept {
    return with_session<uint8_t>(session, 0, [&](WgcCaptureSession &s) {
        s.set_recovery(on);
        return 1;
    });
}

uint8_t CORVO_WGC_CALL wgc_set_region(wgc_session session, const wgc_rect *region) noexcept {
    return with_session<uint8_t>(session, 0, [&](WgcCaptureSession &s) { return s.set_region(region) ? 1 : 0; });
}

uint8_t CORVO_WGC_CALL wgc_set_client_area(wgc_session session, uint8_t on) noexcept {
    return with_session<uint8_t>(session, 0, [&](WgcCaptureSession &s) { return s.set_client_area(on) ? 1 : 0; });
}

}  // extern "C"
