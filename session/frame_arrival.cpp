// The frame's arrival. The FrameArrived handler, on a thread of the capture service, only keeps the newest frame
// (see FrameSlot); the poll takes it and the frame path reads it into the output of the poll's mode, through the
// change detector while detection is on. So a poll reads at most one frame, however fast the source presents,
// and always the newest, however late it comes.
#include "session/capture_session.h"
#include "session/log_sink.h"

namespace corvo {

bool WgcCaptureSession::read_newest_frame(OutputMode mode, bool detect) noexcept {
    // Held only while it is read, then back to the pool.
    const FrameSlot::Newest newest = slot_->take();
    if (!newest.frame || device_lost_) return false;
    try {
        const platform::SizeInt32 content = newest.frame.ContentSize();
        const FrameInfo info{newest.number, newest.frame.SystemRelativeTime(), content};
        const ComPtr<ID3D11Texture2D> texture = newest.frame.texture();
        if (!texture || device_removed()) return false;
        const HRESULT hr = frame_path_.read(texture.get(), info, mode, detect);
        if (destroyed()) return false;  // a logger destroyed the session on the line of a failed allocation
        if (FAILED(hr) && device_removed()) return false;
        recreate_pool_if_resized(content);
        return SUCCEEDED(hr);
    } catch (...) {
        // The frame is dropped and the next one read as usual, unless the device has gone.
        device_removed();
        return false;
    }
}

void WgcCaptureSession::recreate_pool_if_resized(platform::SizeInt32 content) noexcept {
    if (content.Width == content_size_.Width && content.Height == content_size_.Height) return;
    try {
        frame_pool_.Recreate(winrt_device_, kPixelFormat, kFrameBufferCount, content);
        content_size_ = content;
    } catch (const platform::PlatformError &error) {
        // Tried again at the next frame of that size; said once per size, not at every frame.
        if (device_removed()) return;
        if (content.Width == failed_recreate_.Width && content.Height == failed_recreate_.Height) return;
        failed_recreate_ = content;
        log_failure(error.code(), "Failed to recreate the frame pool at %ldx%ld, hr:%08x",
                    static_cast<long>(content.Width), static_cast<long>(content.Height),
                    static_cast<unsigned>(error.code()));
    }
}

bool WgcCaptureSession::device_removed() noexcept {
    if (device_lost_ || !d3d_device_) return device_lost_;
    const HRESULT reason = d3d_device_->GetDeviceRemovedReason();
    if (SUCCEEDED(reason)) return false;
    device_lost_ = true;
    slot_->stopped();
    // Last: a logger may destroy the session on this line.
    log_failure(reason, "Capture device lost, reason:%08x; the capture has ended", static_cast<unsigned>(reason));
    return true;
}

}  // namespace corvo
