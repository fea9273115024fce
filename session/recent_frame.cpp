// The host's poll: dispatch the thread's messages (where Closed runs), read the newest frame the handler kept,
// then hand out the active output: the buffer, or a counted reference to the frame texture.
#include <algorithm>

#include "session/capture_session.h"

namespace corvo {

bool WgcCaptureSession::get_recent_frame(void **frame_out, int32_t *width_out, int32_t *height_out,
                                         uint8_t *cursor_out) noexcept {
    // Frames arrive on the service's thread, so any thread may poll; Closed needs the start thread's
    // dispatching, and the calling thread's own windows this one's.
    MSG msg;
    while (!destroy_requested_.load() && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    // A removal with no frame to notice it is still noticed, whatever its reason.
    const bool read = tell_events() && !device_removed() && read_newest_frame();
    if (destroy_requested_.load()) return false;  // destroyed by a logger or a window: nothing to hand out

    if (cursor_out) *cursor_out = cursor_enabled_.load();
    const bool texture_mode = capture_to_texture_.load() != 0;
    if (width_out) *width_out = static_cast<int32_t>(texture_mode ? texture_output_.width() : cpu_output_.width());
    if (height_out)
        *height_out = static_cast<int32_t>(texture_mode ? texture_output_.height() : cpu_output_.height());
    return hand_out(frame_out, read);
}

bool WgcCaptureSession::hand_out(void **frame_out, bool read) noexcept {
    const Output output = capture_to_texture_.load() ? Output::kTexture : Output::kCpu;
    void *frame = nullptr;
    if (output == Output::kTexture) {
        frame = texture_output_.texture();
    } else {
        // The host reads the buffer; it is the session's, and the host never writes it.
        frame = const_cast<uint8_t *>(cpu_output_.pixels());
    }
    const bool handed = frame_out && frame;
    // Compared with the picture the previous poll handed out: no new picture is no change, unless it came from
    // the other output.
    if (!handed || output != handed_output_)
        handed_change_ = -1;
    else
        handed_change_ = read ? read_change_ : 0;
    handed_output_ = handed ? output : Output::kNone;
    handed_new_ = handed && read;
    if (!handed) return false;
    handed_info_ = read_info_[output == Output::kTexture ? 1 : 0];
    if (output == Output::kTexture) static_cast<ID3D11Texture2D *>(frame)->AddRef();
    *frame_out = frame;
    return true;
}

bool WgcCaptureSession::frame_info(wgc_frame_info *info) const noexcept {
    if (!info || info->size < sizeof(wgc_frame_info) || handed_output_ == Output::kNone) return false;
    info->is_new = handed_new_ ? 1 : 0;
    info->frame_number = handed_info_.number;
    info->system_time = handed_info_.system_time;
    info->content_width = handed_info_.content.Width;
    info->content_height = handed_info_.content.Height;
    return true;
}

int32_t WgcCaptureSession::dirty_rects(wgc_rect *rects, int32_t capacity) const noexcept {
    if (handed_change_ > 0 && rects)
        for (int32_t i = 0; i < std::min(handed_change_, capacity); ++i) {
            const DirtyRect &r = read_rects_[size_t(i)];
            rects[i] = {int32_t(r.left), int32_t(r.top), int32_t(r.right), int32_t(r.bottom)};
        }
    return handed_change_;
}

}  // namespace corvo
