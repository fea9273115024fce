// The host's poll: dispatch the thread's messages (where the capture events run), read the newest waiting
// frame, then hand out the active output: the buffer, or a counted reference to the frame texture.
#include "session/capture_session.h"

namespace corvo {

bool WgcCaptureSession::get_recent_frame(void **frame_out, int32_t *width_out, int32_t *height_out,
                                         uint8_t *cursor_out) noexcept {
    // The loop ends when the queue is empty, or once a second frame has arrived during it: only the newest
    // frame is read anyway, and a source that presents faster than the loop runs cannot hold the poll.
    frames_arrived = 0;
    MSG msg;
    while (frames_arrived < 2 && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    take_waiting_frame();

    *cursor_out = cursor_enabled;
    if (capture_to_texture) {
        *width_out = static_cast<int32_t>(texture_output.width());
        *height_out = static_cast<int32_t>(texture_output.height());
        ID3D11Texture2D *texture = texture_output.texture();
        if (!texture) return false;
        texture->AddRef();
        *frame_out = texture;
        return true;
    }
    *width_out = static_cast<int32_t>(cpu_output.width());
    *height_out = static_cast<int32_t>(cpu_output.height());
    if (!cpu_output.pixels()) return false;
    // The host reads the buffer; it is the session's, and the host never writes it.
    *frame_out = const_cast<uint8_t *>(cpu_output.pixels());
    return true;
}

}  // namespace corvo
