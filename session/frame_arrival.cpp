// The frame path. The FrameArrived handler only keeps the newest frame; the poll, after dispatching, reads it
// into the output of the current mode, through the change detector while detection is on. So a poll reads at
// most one frame, however fast the source presents, and always the newest.
#include "api/log_sink.h"
#include "session/capture_session.h"

namespace corvo {
namespace {


// The content size in one dimension when it is positive and fits the texture, else the texture's.
uint32_t cropped(int32_t content, uint32_t texture) {
    return content > 0 && uint32_t(content) <= texture ? uint32_t(content) : texture;
}

}  // namespace

void WgcCaptureSession::on_frame_arrived() {
    // The frame it replaces goes back to the pool at once, so the service always has a buffer for the next.
    if (platform::Direct3D11CaptureFrame frame = frame_pool.TryGetNextFrame()) {
        waiting_frame = std::move(frame);
        if (frames_arrived < 2) ++frames_arrived;
    }
}

bool WgcCaptureSession::take_waiting_frame() noexcept {
    if (!waiting_frame) return false;
    const platform::Direct3D11CaptureFrame frame = std::move(waiting_frame);
    waiting_frame = {};
    if (device_lost) return false;
    try {
        return read_frame(frame);
    } catch (...) {
        // The frame is dropped and the next one read as usual, unless the device has gone.
        device_removed();
        return false;
    }
}

bool WgcCaptureSession::read_frame(const platform::Direct3D11CaptureFrame &frame) {
    const platform::SizeInt32 content = frame.ContentSize();
    const ComPtr<ID3D11Texture2D> texture = frame.texture();
    if (!texture || device_removed()) return false;

    D3D11_TEXTURE2D_DESC desc;
    texture->GetDesc(&desc);
    // The texture output shows the whole texture; the buffer shows the content, cropped in each dimension.
    const bool to_texture = capture_to_texture.load() != 0;
    const uint32_t width = to_texture ? desc.Width : cropped(content.Width, desc.Width);
    const uint32_t height = to_texture ? desc.Height : cropped(content.Height, desc.Height);

    // The detector compares with the picture of the output it was last used for: after a switch of mode, or
    // while detection is off, that output's picture is not what the new picture must be compared with.
    const Output output = to_texture ? Output::kTexture : Output::kCpu;
    if (output != history_output || !dirty_rect_enabled.load()) detector.forget();
    history_output = output;
    Detection detection;
    ID3D11Texture2D *source = texture.get();
    if (dirty_rect_enabled.load()) {
        detection = detector.detect(texture.get(), width, height);
        // Read what was compared, so that the output and the history cannot disagree.
        if (ID3D11Texture2D *picture = detector.picture()) source = picture;
    }
    const HRESULT hr = to_texture
                           ? texture_output.update(d3d_device.get(), d3d_context.get(), source, width, height, detection)
                           : cpu_output.update(d3d_device.get(), d3d_context.get(), source, width, height, detection);
    if (SUCCEEDED(hr)) {
        detector.accept();
        update_ratio = detection.ratio;
        read_change = detection.change == Change::kNew ? -1 : int32_t(detection.rects.size());
        read_rects.assign(detection.rects.begin(), detection.rects.end());
    } else if (device_removed()) {
        return false;
    }
    recreate_pool_if_resized(content);
    return SUCCEEDED(hr);
}

void WgcCaptureSession::recreate_pool_if_resized(platform::SizeInt32 content) noexcept {
    if (content.Width == content_size.Width && content.Height == content_size.Height) return;
    try {
        frame_pool.Recreate(winrt_device, kPixelFormat, kFrameBufferCount, content);
        content_size = content;
    } catch (const platform::PlatformError &error) {
        // Tried again at the next frame of that size; said once per size, not at every frame.
        if (device_removed()) return;
        if (content.Width == failed_recreate.Width && content.Height == failed_recreate.Height) return;
        failed_recreate = content;
        log_message(kLogError, "Failed to recreate the frame pool at %ldx%ld, hr:%08x", static_cast<long>(content.Width),
                    static_cast<long>(content.Height),
                    static_cast<unsigned>(error.code()));
    }
}

bool WgcCaptureSession::device_removed() noexcept {
    if (device_lost || !d3d_device) return device_lost;
    const HRESULT reason = d3d_device->GetDeviceRemovedReason();
    if (SUCCEEDED(reason)) return false;
    device_lost = true;
    started.store(0);
    // Last: a logger may destroy the session on this line.
    log_message(kLogError, "Capture device lost, reason:%08x; the capture has ended", static_cast<unsigned>(reason));
    return true;
}

}  // namespace corvo
