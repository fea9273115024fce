// The frame path. The FrameArrived handler, on a thread of the capture service, only keeps the newest frame
// (see FrameSlot); the poll reads it into the output of the current mode, through the change detector while
// detection is on. So a poll reads at most one frame, however fast the source presents, and always the newest,
// however late it comes.
#include "api/log_sink.h"
#include "session/capture_session.h"

namespace corvo {
namespace {

// The content size in one dimension when it is positive and fits the texture, else the texture's.
uint32_t cropped(int32_t content, uint32_t texture) {
    return content > 0 && uint32_t(content) <= texture ? uint32_t(content) : texture;
}

}  // namespace

bool WgcCaptureSession::read_newest_frame() noexcept {
    // Held only while it is read, then back to the pool.
    const FrameSlot::Newest newest = slot_->take();
    if (!newest.frame || device_lost_) return false;
    try {
        return read_frame(newest.frame, newest.number);
    } catch (...) {
        // The frame is dropped and the next one read as usual, unless the device has gone.
        device_removed();
        return false;
    }
}

bool WgcCaptureSession::read_frame(const platform::Direct3D11CaptureFrame &frame, uint64_t number) {
    const platform::SizeInt32 content = frame.ContentSize();
    const FrameInfo info{number, frame.SystemRelativeTime(), content};
    const ComPtr<ID3D11Texture2D> texture = frame.texture();
    if (!texture || device_removed()) return false;

    D3D11_TEXTURE2D_DESC desc;
    texture->GetDesc(&desc);
    // The texture output shows the whole texture; the buffer shows the content, cropped in each dimension.
    const bool to_texture = capture_to_texture_.load() != 0;
    const uint32_t width = to_texture ? desc.Width : cropped(content.Width, desc.Width);
    const uint32_t height = to_texture ? desc.Height : cropped(content.Height, desc.Height);

    // The detector compares with the picture of the output it was last used for: after a switch of mode, or
    // while detection is off, that output's picture is not what the new picture must be compared with.
    const Output output = to_texture ? Output::kTexture : Output::kCpu;
    const bool detecting = dirty_rect_enabled_.load() != 0;  // read once: another thread may switch it
    if (output != history_output_ || !detecting) detector_.forget();
    history_output_ = output;
    Detection detection;
    ID3D11Texture2D *source = texture.get();
    if (detecting) {
        detection = detector_.detect(texture.get(), width, height);
        // Read what was compared, so that the output and the history cannot disagree.
        if (ID3D11Texture2D *picture = detector_.picture()) source = picture;
    }
    const HRESULT hr =
        to_texture ? texture_output_.update(d3d_device_.get(), d3d_context_.get(), source, width, height, detection)
                   : cpu_output_.update(d3d_device_.get(), d3d_context_.get(), source, width, height, detection);
    if (destroyed()) return false;  // a logger destroyed the session on the line of a failed allocation
    if (SUCCEEDED(hr)) {
        detector_.accept();
        update_ratio_.store(detection.ratio);
        read_change_ = detection.change == Change::kNew ? -1 : int32_t(detection.rects.size());
        read_rects_.assign(detection.rects.begin(), detection.rects.end());
        read_info_[to_texture ? 1 : 0] = info;
    } else if (device_removed()) {
        return false;
    }
    recreate_pool_if_resized(content);
    return SUCCEEDED(hr);
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
