// Start: choose the adapter, create the device, then build the capture pipeline on the calling thread.
#include <exception>

#include "session/log_sink.h"
#include "session/api_information.h"
#include "session/borderless_access.h"
#include "session/capture_session.h"

namespace corvo {
namespace {

constexpr UINT kPreferredVendorId = 0x10DE;

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
    if (create_device() && start_pipeline()) return true;
    release_pipeline();
    return false;
}

bool WgcCaptureSession::create_device() noexcept {
    HRESULT hr = CreateDXGIFactory1(IID_PPV_ARGS(dxgi_factory_.put()));
    if (FAILED(hr)) {
        log_failure(hr, "Failed to create dxgi factory1, hr:%08x", hex(hr));
        return false;
    }

    // The first adapter with the preferred vendor id, else the first whose description can be read.
    adapter_.reset();
    for (UINT index = 0;; ++index) {
        ComPtr<IDXGIAdapter1> candidate;
        // Any failure ends the enumeration: only DXGI_ERROR_NOT_FOUND is expected, and another would repeat.
        if (FAILED(dxgi_factory_->EnumAdapters1(index, candidate.put()))) break;
        DXGI_ADAPTER_DESC1 desc{};
        if (candidate->GetDesc1(&desc) != S_OK) continue;
        if (!adapter_) adapter_ = candidate;
        if (desc.VendorId == kPreferredVendorId) {
            adapter_ = candidate;
            break;
        }
    }
    if (!adapter_) {
        log_failure(DXGI_ERROR_NOT_FOUND, "Failed to find any adapter to create d3d11 device");
        return false;
    }

    const D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_11_0, D3D_FEATURE_LEVEL_10_1, D3D_FEATURE_LEVEL_10_0};
    hr = D3D11CreateDevice(adapter_.get(), D3D_DRIVER_TYPE_UNKNOWN, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT,
                           levels, 3, D3D11_SDK_VERSION, d3d_device_.put(), nullptr, d3d_context_.put());
    if (FAILED(hr)) {
        log_failure(hr, "Failed to create d3d11 device,hr:%08x", hex(hr));
        return false;
    }
    frame_path_.init(d3d_device_, d3d_context_);
    return true;
}

bool WgcCaptureSession::start_pipeline() noexcept {
    HRESULT hr = S_OK;
    thread_queue_ = ThreadQueue::for_current_thread(&hr);
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
    hr = platform::GraphicsCaptureItemInterop::get(&interop);
    if (FAILED(hr)) {
        log_failure(hr, "Failed to get IGraphicsCaptureItemInterop, hr:%08x", hex(hr));
        return false;
    }

    try {
        if (target_window_) {
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
            log_message(kLogInfo, "Wgc cursor %s ", cursor_enabled_.load() ? "Enable" : "Disable");
            if (destroyed()) return false;
            const std::lock_guard lock(switch_mutex_);
            capture_session_.IsCursorCaptureEnabled(cursor_enabled_.load() != 0);
        } else {
            log_message(kLogInfo, "IsCursorToggleSupported: no");
            if (destroyed()) return false;
        }
        if (is_property_present(kBorderProperty)) {
            const uint8_t border = border_shown_.load();
            log_message(kLogInfo, "Wgc border %s ", border ? "Enable" : "Disable");
            if (destroyed()) return false;
            if (!border) {
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
        } else {
            log_message(kLogInfo, "IsBorderRequiredSupported: no");
            if (destroyed()) return false;
        }
        apply_min_update_interval();
        if (destroyed()) return false;

        content_size_ = size;
        const uint64_t capture = slot_->begin(frame_pool_, d3d_device_, target_window_);
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
