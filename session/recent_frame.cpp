// The host's poll: dispatch the thread's messages (where the capture events run), read the newest waiting
// frame, then hand out the active output: the buffer, or a counted reference to the frame texture.
#include <cassert>

#include "session/capture_session.h"

namespace corvo {

bool WgcCaptureSession::get_recent_frame(void **frame_out, int32_t *width_out, int32_t *height_out,
                                         uint8_t *cursor_out) noexcept {
    // The capture's events are delivered to the thread that started it, and only its dispatching runs them.
    assert(start_thread == std::thread::id() || start_thread == std::this_thread::get_id());
    // The loop ends when the queue is empty, or once a second frame has arrived during it: only the newest
    // frame is read anyway, and a source that presents faster than the loop runs cannot hold the poll.
    frames_arrived = 0;
    MSG msg;
    while (frames_arrived < 2 && !destroy_requested.load() && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    // A removal with no frame to notice it is still noticed, whatever its reason.
    if (!destroy_requested.load() && !device_removed()) take_waiting_frame();
    if (destroy_requested.load()) return false;  // destroyed by a handler's logger: nothing to hand out

    const bool texture_mode = capture_to_texture.load() != 0;
    if (cursor_out) *cursor_out = cursor_enabled.load();
    if (width_out) *width_out = static_cast<int32_t>(texture_mode ? texture_output.width() : cpu_output.width());
    if (height_out) *height_out = static_cast<int32_t>(texture_mode ? texture_output.height() : cpu_output.height());
    if (!frame_out) return false;
    if (texture_mode) {
        ID3D11Texture2D *texture = texture_output.texture();
        if (!texture) return false;
        texture->AddRef();
        *frame_out = texture;
        return true;
    }
    if (!cpu_output.pixels()) return false;
    // The host reads the buffer; it is the session's, and the host never writes it.
    *frame_out = const_cast<uint8_t *>(cpu_output.pixels());
    return true;
}

}  // namespace corvo
