// The frame's arrival. The FrameArrived handler, on a thread of the capture service, only keeps the newest frame
// (see FrameSlot); the poll takes it and the frame path reads it into the output of the poll's mode, through the
// change detector while detection is on. So a poll reads at most one frame, however fast the source presents,
// and always the newest, however late it comes.
#include "session/capture_session.h"
#include "session/log_sink.h"

namespace corvo {

bool WgcCaptureSession::read_newest_frame(OutputMode mode, bool detect, PixelFormat format) noexcept {
    // Held only while it is read, then back to the pool.
    const FrameSlot::Newest newest = slot_->take();
    if (!newest.frame || device_lost_) return false;
    try {
        const platform::SizeInt32 content = newest.frame.ContentSize();
        const int64_t time = newest.frame.SystemRelativeTime();
        // On the frames' clock: no display query on most frames.
        const MonitorState &monitor = monitor_colour_.look(target_window_, target_monitor_, time);
        FrameInfo info{newest.number, time, content, monitor.hdr, monitor.sdr_white_nits, device_generation_, {}};
        // A window whose client area cannot be known now (minimised) shows nothing new.
        if (!region_.frame_region(target_window_, &info.region)) return false;
        const ComPtr<ID3D11Texture2D> texture = newest.frame.texture();
        if (!texture || device_removed()) return false;
        const HRESULT hr = frame_path_.read(texture.get(), info, mode, detect, format);
        if (destroyed()) return false;  // a logger destroyed the session on the line of a failed allocation
        if (FAILED(hr) && device_removed()) return false;
        recreate_pool_if_changed(content, pool_format_for(format, monitor));
        if (!destroyed()) tell_converting(format, monitor);
        if (!destroyed()) tell_hdr_failures(format, monitor);
        return SUCCEEDED(hr);
    } catch (...) {
        // The frame is dropped and the next one read as usual, unless the device has gone.
        device_removed();
        return false;
    }
}

void WgcCaptureSession::recreate_pool_if_changed(platform::SizeInt32 content, DXGI_FORMAT format) noexcept {
    if (content.Width == content_size_.Width && content.Height == content_size_.Height && format == pool_format_)
        return;
    try {
        frame_pool_.Recreate(winrt_device_, format, kFrameBufferCount, content);
        content_size_ = content;
        pool_format_ = format;
        failed_recreate_ = {};
    } catch (const platform::PlatformError &error) {
        // Tried again at the next frame; said once while it fails for the same size and format, not at every frame.
        if (device_removed()) return;
        if (content.Width == failed_recreate_.size.Width && content.Height == failed_recreate_.size.Height &&
            format == failed_recreate_.format)
            return;
        failed_recreate_ = {content, format};
        log_failure(error.code(), "Failed to recreate the frame pool at %ldx%ld, hr:%08x",
                    static_cast<long>(content.Width), static_cast<long>(content.Height),
                    static_cast<unsigned>(error.code()));
    }
}

DXGI_FORMAT WgcCaptureSession::pool_format_for(PixelFormat format, const MonitorState &monitor) const noexcept {
    // 8-bit pictures of an SDR monitor, or where no kernel can convert, are the system's own.
    const bool fp16 = format == PixelFormat::kFp16 ||
                      (format == PixelFormat::kSdrFromHdr && monitor.hdr && frame_path_.converts());
    return fp16 ? DXGI_FORMAT_R16G16B16A16_FLOAT : DXGI_FORMAT_B8G8R8A8_UNORM;
}

void WgcCaptureSession::tell_converting(PixelFormat format, const MonitorState &monitor) noexcept {
    const bool converting = format == PixelFormat::kSdrFromHdr && pool_format_ == DXGI_FORMAT_R16G16B16A16_FLOAT;
    if (converting == converting_) return;
    converting_ = converting;
    // Last: a logger may destroy the session on this line.
    if (converting)
        log_message(kLogInfo, "Wgc sdr from hdr on, sdr white %u nits", unsigned(monitor.sdr_white_nits + 0.5f));
    else
        log_message(kLogInfo, "Wgc sdr from hdr off");
}

void WgcCaptureSession::tell_hdr_failures(PixelFormat format, const MonitorState &monitor) noexcept {
    // Each once: a line on every frame would flood the log, and the fallback holds until it is read again. A line
    // may destroy the session: nothing more is told then.
    if (FAILED(monitor.mode_error) && told_.mode != monitor.monitor) {
        told_.mode = monitor.monitor;
        log_message(kLogWarning, "Wgc hdr mode of the monitor unknown, hr:%08x; treated as sdr",
                    static_cast<unsigned>(monitor.mode_error));
        if (destroyed()) return;
    }
    if (monitor.white_error != ERROR_SUCCESS && told_.white != monitor.monitor) {
        told_.white = monitor.monitor;
        log_message(kLogWarning, "Wgc sdr white unknown, error:%ld; %u nits used",
                    static_cast<long>(monitor.white_error), unsigned(monitor.sdr_white_nits + 0.5f));
        if (destroyed()) return;
    }
    if (format != PixelFormat::kSdrFromHdr || !monitor.hdr) return;
    if (frame_path_.conversion_failed()) {
        if (told_.conversion_failed) return;
        told_.conversion_failed = told_.no_converter = true;
        log_message(kLogWarning, "Wgc sdr from hdr failed to make a picture; the system's bgra8 frames are used");
    } else if (!frame_path_.converts() && !told_.no_converter) {
        told_.no_converter = true;
        log_message(kLogWarning, "Wgc sdr from hdr unavailable on this device; the system's bgra8 frames are used");
    }
}

bool WgcCaptureSession::device_removed() noexcept {
    if (device_lost_ || !d3d_device_) return device_lost_;
    const HRESULT reason = d3d_device_->GetDeviceRemovedReason();
    if (SUCCEEDED(reason)) return false;
    device_lost_ = true;
    if (device_source_.recovery() && !host_device_) {
        // The status stays: the next poll begins to rebuild.
        recovering_ = true;
        lost_reason_ = reason;
        rebuild_tries_ = 0;
        next_rebuild_ = std::chrono::steady_clock::now();
        log_message(kLogWarning, "Capture device lost, reason:%08x; rebuilding", static_cast<unsigned>(reason));
        return true;
    }
    slot_->stopped();
    // Last: a logger may destroy the session on this line.
    log_failure(reason, "Capture device lost, reason:%08x; the capture has ended", static_cast<unsigned>(reason));
    return true;
}

}  // namespace corvo
