// The host's poll: dispatch the thread's messages (where the capture events run), then hand out the latest
// frame as the session's buffer or as a counted reference to its frame texture.
#include "session/capture_session.h"

namespace corvo {

bool WgcCaptureSession::get_recent_frame(void **frame_out, int32_t *width_out, int32_t *height_out,
                                         uint8_t *cursor_out) noexcept {
    frame_pending = 0;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }

    *cursor_out = cursor_enabled;
    if (capture_to_texture) {
        // The texture's own size: a texture left from an earlier period in texture mode is handed out again
        // while frame_width and frame_height may describe a picture read back in buffer mode since.
        *width_out = static_cast<int32_t>(frame_texture ? frame_texture_desc.Width : frame_width);
        *height_out = static_cast<int32_t>(frame_texture ? frame_texture_desc.Height : frame_height);
        if (!frame_texture) return false;
        frame_texture->AddRef();
        *frame_out = frame_texture.get();
        return true;
    }
    // The buffer's own picture size: after texture mode, frame_width and frame_height describe the texture.
    *width_out = static_cast<int32_t>(buffer_width);
    *height_out = static_cast<int32_t>(buffer_height);
    if (buffer_width == 0 || !frame_buffer) return false;
    *frame_out = frame_buffer.get();
    return true;
}

}  // namespace corvo
