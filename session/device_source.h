// Where a session's Direct3D 11 device comes from: the host's own, set with wgc_set_device and never replaced, or
// the library's, made on the adapter the host's choice picks (and made again after a loss while recovery is on).
// The setters may come from any thread at any time; what they set is taken by the next start or rebuild.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <utility>

#include "platform/com_ptr.h"
#include "platform/graphics.h"
#include "platform/win32.h"

namespace corvo {

// A device to capture with, and where it came from.
struct SessionDevice {
    ComPtr<IDXGIFactory1> factory;  // the library's device only: what enumerated its adapter
    ComPtr<IDXGIAdapter1> adapter;  // the library's device only
    ComPtr<ID3D11Device> device;
    ComPtr<ID3D11DeviceContext> context;
    bool host = false;  // the host's device: used, never replaced
};

class DeviceSource {
public:
    // The host's device from the next start on, holding one reference to it; null: the library's own again. False,
    // with a warning and the setting unchanged, for a device without BGRA support or one already removed.
    bool set_host_device(ID3D11Device *device) noexcept;
    // CORVO_WGC_ADAPTER_*; false, with a warning and the setting unchanged, for any other value.
    bool set_adapter(int32_t choice) noexcept;
    void set_recovery(uint8_t on) noexcept;
    // Whether a loss of the library's own device is rebuilt.
    bool recovery() const noexcept { return recovery_.load() != 0; }

    // The device to capture `window` or `monitor` with: false with a failure line when there is none. A start tells
    // the adapter it picked for the target and a device too low for the kernels; a rebuild (`quiet`) does not.
    // Lines may destroy the session, which stays in memory until the call ends: the result goes to `out` only.
    bool make(HWND window, HMONITOR monitor, bool quiet, SessionDevice *out) noexcept;

private:
    ComPtr<IDXGIAdapter1> choose_adapter(IDXGIFactory1 *factory, HWND window, HMONITOR monitor, bool quiet) noexcept;

    mutable std::mutex mutex_;  // guards host_device_, set from any thread while a start reads it
    ComPtr<ID3D11Device> host_device_;
    std::atomic<int32_t> adapter_choice_{0};
    std::atomic<uint8_t> recovery_{0};
};

}  // namespace corvo
