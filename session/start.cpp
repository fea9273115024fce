// Start: choose the adapter, create the device, then build the capture pipeline on the calling thread.
#include <exception>
#include <utility>

#include "session/log_sink.h"
#include "session/api_information.h"
#include "session/borderless_access.h"
#include "session/capture_session.h"

namespace corvo {
namespace {

unsigned hex(HRESULT hr) { return static_cast<unsigned>(hr); }

// What the Closed handler holds: the state it shares with the session, and which capture it belongs to.
struct ClosedEvent {
    std::shared_ptr<FrameSlot> slot;
    uint64_t capture;
};

void on_closed(void *context) {
    const auto &event = *static_cast<ClosedEvent *>(context);
    event.slot->on_closed(event.capture);
}

}  // namespace

bool WgcCaptureSession::Start() noexcept {
    // The last error tells of this start from here on, also of a failure it logged and went past.
    last_error_.store(0);
    log_message(kLogInfo, "%s", "WgcCaptureSession::Start");
    // After each line that a logger may destroy the session on, the start goes no further.
    if (destroyed()) return false;
    // A session started again begins from nothing: no object of the previous device may survive. The thread's
    // queue alone is held until the new start has its own share, so that a start again on the same thread neither
    // shuts it down nor makes it anew.
    const ThreadQueue::Lease previous_queue = std::move(thread_queue_);
    release_pipeline();
    if (!target_window_ && !target_monitor_) {
        log_failure(E_INVALIDARG, "Failed to start: no window or monitor to capture");
        return false;
    }
    device_generation_ = 0;
    if (use_device(false) && start_pipeline(false)) return true;
    release_pipeline();
    return false;
}

bool WgcCaptureSession::use_device(bool rebuild) noexcept {
    SessionDevice made;
    if (!device_source_.make(target_window_, target_monitor_, rebuild, &made) || destroyed()) return false;
    dxgi_factory_ = std::move(made.factory);
    adapter_ = std::move(made.adapter);
    d3d_device_ = std::move(made.device);
    d3d_context_ = std::move(made.context);
    host_device_ = made.host;
    ++device_generation_;
    frame_path_.init(d3d_device_, d3d_context_);
    return true;
}

bool WgcCaptureSession::start_pipeline(bool rebuild) noexcept {
    HRESULT hr = S_OK;
    if (!rebuild) thread_queue_ = ThreadQueue::for_current_thread(&hr);
    if (!thread_queue_) {
        log_failure(hr, "Failed to create dispatcher queue controller, hr:%08x", hex(hr));
        return false;
    }

    ComPtr<IDXGIDevice> dxgi_device;
    hr = d3d_device_->QueryInterface(IID_PPV_ARGS(dxgi_device.put()));
    if (FAILED(hr)) {
        log_failure(hr, "Failed to QueryInterface[IDXGIDevice]. hr:%08x", hex(hr));
        return false;
    }
    ComPtr<IUnknown> inspectable;
    hr = platform::Direct3DDevice::from_dxgi_device(dxgi_device.get(), &inspectable);
    if (FAILED(hr)) {
        log_failure(hr, "Failed to call CreateDirect3D11DeviceFromDXGIDevice, hr:%08x", hex(hr));
        return false;
    }
    platform::GraphicsCaptureItemInterop interop;
    if (!rebuild) hr = platform::GraphicsCaptureItemInterop::get(&interop);
    if (FAILED(hr)) {
        log_failure(hr, "Failed to get IGraphicsCaptureItemInterop, hr:%08x", hex(hr));
        return false;
    }

    try {
        if (rebuild) {
            // The item belongs to no device: it and its Closed registration stay.
        } else if (target_window_) {
            hr = interop.CreateForWindow(target_window_, &capture_item_);
            if (FAILED(hr)) {
                log_failure(hr, "Failed to call IGraphicsCaptureItemInterop::CreateForWindow, hr:%08x", hex(hr));
                return false;
            }
        } else {
            hr = interop.CreateForMonitor(target_monitor_, &capture_item_);
            if (FAILED(hr)) {
                log_failure(hr, "Failed to call IGraphicsCaptureItemInterop::CreateForMonitor, hr:%08x", hex(hr));
                return false;
            }
        }
        winrt_device_ = platform::Direct3DDevice::from(inspectable);
        const platform::SizeInt32 size = capture_item_.Size();
        const auto format = PixelFormat(pixel_format_.load());
        pool_format_ = pool_format_for(format, monitor_colour_.look(target_window_, target_monitor_));
        frame_pool_ = platform::Direct3D11CaptureFramePool::CreateFreeThreaded(winrt_device_, pool_format_,
                                                                               kFrameBufferCount, size);
        platform::GraphicsCaptureSession created = frame_pool_.CreateCaptureSession(capture_item_);
        {
            const std::lock_guard lock(switch_mutex_);
            capture_session_ = std::move(created);
        }

        // Each switch is set to the value stored last, under the lock: a switch from another thread meanwhile
        // sets it again after, or stores it before.
        if (is_property_present(kCursorProperty)) {
            if (!rebuild) log_message(kLogInfo, "Wgc cursor %s ", cursor_enabled_.load() ? "Enable" : "Disable");
            if (destroyed()) return false;
            const std::lock_guard lock(switch_mutex_);
            capture_session_.IsCursorCaptureEnabled(cursor_enabled_.load() != 0);
        } else if (!rebuild) {
            log_message(kLogInfo, "IsCursorToggleSupported: no");
            if (destroyed()) return false;
        }
        if (is_property_present(kBorderProperty)) {
            const uint8_t border = border_shown_.load();
            if (!rebuild) log_message(kLogInfo, "Wgc border %s ", border ? "Enable" : "Disable");
            if (destroyed()) return false;
            if (!border && !rebuild) {
                // Never waited for: a pending answer is acted on when it comes; a refusal is told, and the
                // capture still starts, with the border.
                const BorderlessAccess access = borderless_access();
                consent_pending_.store(access.state == BorderlessAccess::kPending);
                if (access.state == BorderlessAccess::kRefused) {
                    access.tell_refusal();
                    if (destroyed()) return false;
                }
            }
            const std::lock_guard lock(switch_mutex_);
            capture_session_.IsBorderRequired(border_shown_.load() != 0);
        } else if (!rebuild) {
            log_message(kLogInfo, "IsBorderRequiredSupported: no");
            if (destroyed()) return false;
        }
        apply_min_update_interval(rebuild);
        if (destroyed()) return false;

        content_size_ = size;
        if (rebuild) {
            // The capture goes on: its number, its Closed registration and its status stay.
            if (!slot_->resume(frame_pool_, d3d_device_)) return false;
            frame_arrived_revoker_ = frame_pool_.FrameArrived({&FrameSlot::on_frame_arrived, slot_});
            capture_session_.StartCapture();
            return true;
        }
        const uint64_t capture = slot_->begin(frame_pool_, d3d_device_, target_window_, !host_device_);
        frame_arrived_revoker_ = frame_pool_.FrameArrived({&FrameSlot::on_frame_arrived, slot_});
        capture_session_.StartCapture();
        closed_revoker_ =
            capture_item_.Closed({&on_closed, std::make_shared<ClosedEvent>(ClosedEvent{slot_, capture})});
        slot_->started(capture);
        log_message(kLogInfo, "Wgc session started.");
        if (!destroyed()) tell_converting(format);
        return !destroyed();
    } catch (const platform::PlatformError &error) {
        log_failure(error.code(), "Winrt exception:%ld", static_cast<long>(error.code()));
    } catch (const std::exception &error) {
        log_failure(E_FAIL, "std exception:%s", error.what());
    } catch (...) {
        log_failure(E_FAIL, "unknown exception");
    }
    return false;
}

}  // namespace corvo
