// The host's poll: dispatch the thread's messages (where Closed runs), read the newest frame the handler kept,
// then hand out the output of the poll's mode: the buffer, or a counted reference to the frame texture.
#include "session/capture_session.h"

namespace corvo {

bool WgcCaptureSession::get_recent_frame(void **frame_out, int32_t *width_out, int32_t *height_out,
                                         uint8_t *cursor_out) noexcept {
    // Frames arrive on the service's thread, so any thread may poll; Closed needs the start thread's
    // dispatching, and the calling thread's own windows this one's.
    MSG msg;
    while (!destroyed() && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    // The switches are read once: another thread may flip them, and the host gets a whole answer of one kind.
    const OutputMode mode = capture_to_texture_.load() ? OutputMode::kTexture : OutputMode::kBuffer;
    const bool detect = dirty_rect_enabled_.load() != 0;
    const auto format = PixelFormat(pixel_format_.load());
    // A removal with no frame to notice it is still noticed, whatever its reason. A poll that cannot hand out a
    // frame leaves the newest for the next one.
    const bool read =
        tell_events() && recover() && !device_removed() && frame_out && read_newest_frame(mode, detect, format);
    if (cursor_out) *cursor_out = cursor_enabled_.load();
    // Destroyed by a logger or a window: the session lives until this call returns, and hands out nothing.
    if (destroyed()) return frame_path_.hand_out(mode, false, nullptr, width_out, height_out);
    return frame_path_.hand_out(mode, read, frame_out, width_out, height_out);
}

}  // namespace corvo
