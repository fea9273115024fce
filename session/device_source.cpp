// The device source: the host's device as it is, or a device of the library's own on the adapter of the choice.
#include "session/device_source.h"

#include <string>

#include "corvo_wgc.h"
#include "session/log_sink.h"

namespace corvo {
namespace {

constexpr UINT kPreferredVendorId = 0x10DE;

unsigned hex(HRESULT hr) { return static_cast<unsigned>(hr); }

// An adapter's description as UTF-8, for the line that names it.
std::string utf8(const WCHAR *text, size_t capacity) {
    std::string out;
    for (size_t i = 0; i < capacity && text[i]; ++i) {
        uint32_t c = uint16_t(text[i]);
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < capacity && uint16_t(text[i + 1]) >= 0xDC00 &&
            uint16_t(text[i + 1]) < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (uint16_t(text[++i]) - 0xDC00);
        else if (c >= 0xD800 && c < 0xE000)
            c = 0xFFFD;  // a lone surrogate
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += {char(0xC0 | c >> 6), char(0x80 | (c & 0x3F))};
        } else if (c < 0x10000) {
            out += {char(0xE0 | c >> 12), char(0x80 | (c >> 6 & 0x3F)), char(0x80 | (c & 0x3F))};
        } else {
            out += {char(0xF0 | c >> 18), char(0x80 | (c >> 12 & 0x3F)), char(0x80 | (c >> 6 & 0x3F)),
                    char(0x80 | (c & 0x3F))};
        }
    }
    return out;
}

// Whether one of the adapter's outputs shows `monitor`.
bool shows(IDXGIAdapter1 *adapter, HMONITOR monitor) noexcept {
    for (UINT index = 0;; ++index) {
        ComPtr<IDXGIOutput> output;
        if (FAILED(adapter->EnumOutputs(index, output.put()))) return false;
        DXGI_OUTPUT_DESC desc{};
        if (SUCCEEDED(output->GetDesc(&desc)) && desc.Monitor == monitor) return true;
    }
}

}  // namespace

bool DeviceSource::set_host_device(ID3D11Device *device) noexcept {
    if (device) {
        // Conservative: the library's own device has BGRA support, and whether the capture service takes a device
        // without it is not documented.
        if (!(device->GetCreationFlags() & D3D11_CREATE_DEVICE_BGRA_SUPPORT)) {
            log_message(kLogWarning, "Failed to set device: created without BGRA support");
            return false;
        }
        if (const HRESULT reason = device->GetDeviceRemovedReason(); FAILED(reason)) {
            log_message(kLogWarning, "Failed to set device: removed, reason:%08x", hex(reason));
            return false;
        }
    }
    ComPtr<ID3D11Device> previous;  // released outside the lock
    {
        const std::lock_guard lock(mutex_);
        previous = std::exchange(host_device_, ComPtr<ID3D11Device>::share(device));
    }
    log_message(kLogInfo, "Set device %s", device ? "host" : "own");
    return true;
}

bool DeviceSource::set_adapter(int32_t choice) noexcept {
    static constexpr const char *kNames[] = {"preferred vendor", "of target"};
    if (choice != CORVO_WGC_ADAPTER_PREFERRED_VENDOR && choice != CORVO_WGC_ADAPTER_OF_TARGET) {
        log_message(kLogWarning, "Failed to set adapter %ld", static_cast<long>(choice));
        return false;
    }
    adapter_choice_.store(choice);
    log_message(kLogInfo, "Set adapter %s", kNames[choice]);
    return true;
}

void DeviceSource::set_recovery(uint8_t on) noexcept {
    recovery_.store(on);
    log_message(kLogInfo, "Set recovery %s", on ? "on" : "off");
}

bool DeviceSource::make(HWND window, HMONITOR monitor, bool quiet, SessionDevice *out) noexcept {
    SessionDevice made;
    {
        const std::lock_guard lock(mutex_);
        made.device = host_device_;
    }
    if (made.device) {
        made.host = true;
        // A device the host lost since it set it cannot capture, and is never replaced.
        if (const HRESULT reason = made.device->GetDeviceRemovedReason(); FAILED(reason)) {
            log_failure(reason, "Failed to use the host's device: removed, reason:%08x", hex(reason));
            return false;
        }
        made.device->GetImmediateContext(made.context.put());
    } else {
        HRESULT hr = CreateDXGIFactory1(IID_PPV_ARGS(made.factory.put()));
        if (FAILED(hr)) {
            log_failure(hr, "Failed to create dxgi factory1, hr:%08x", hex(hr));
            return false;
        }
        made.adapter = choose_adapter(made.factory.get(), window, monitor, quiet);
        if (!made.adapter) {
            log_failure(DXGI_ERROR_NOT_FOUND, "Failed to find any adapter to create d3d11 device");
            return false;
        }
        const D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_11_0, D3D_FEATURE_LEVEL_10_1, D3D_FEATURE_LEVEL_10_0};
        hr =
            D3D11CreateDevice(made.adapter.get(), D3D_DRIVER_TYPE_UNKNOWN, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT,
                              levels, 3, D3D11_SDK_VERSION, made.device.put(), nullptr, made.context.put());
        if (FAILED(hr)) {
            log_failure(hr, "Failed to create d3d11 device,hr:%08x", hex(hr));
            return false;
        }
    }
    // The kernels are shader model 5. Told for the host's device only: the library's own has always gone without
    // them silently there.
    if (made.host && made.device->GetFeatureLevel() < D3D_FEATURE_LEVEL_11_0 && !quiet)
        log_message(kLogWarning, "Device feature level %04x is below 11_0: no change detection or HDR conversion",
                    static_cast<unsigned>(made.device->GetFeatureLevel()));
    *out = std::move(made);
    return true;
}

ComPtr<IDXGIAdapter1> DeviceSource::choose_adapter(IDXGIFactory1 *factory, HWND window, HMONITOR monitor,
                                                   bool quiet) noexcept {
    if (adapter_choice_.load() == CORVO_WGC_ADAPTER_OF_TARGET) {
        const HMONITOR shown_on = window ? MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST) : monitor;
        for (UINT index = 0; shown_on; ++index) {
            ComPtr<IDXGIAdapter1> candidate;
            if (FAILED(factory->EnumAdapters1(index, candidate.put()))) break;
            DXGI_ADAPTER_DESC1 desc{};
            if (candidate->GetDesc1(&desc) != S_OK || !shows(candidate.get(), shown_on)) continue;
            if (!quiet) {
                constexpr size_t kCapacity = sizeof desc.Description / sizeof *desc.Description;
                log_message(kLogInfo, "Wgc adapter %s", utf8(desc.Description, kCapacity).c_str());
            }
            return candidate;
        }
        if (!quiet)
            log_message(kLogWarning, "No adapter shows the target's monitor: the preferred vendor's is used");
    }
    // The first adapter with the preferred vendor id, else the first whose description can be read.
    ComPtr<IDXGIAdapter1> chosen;
    for (UINT index = 0;; ++index) {
        ComPtr<IDXGIAdapter1> candidate;
        // Any failure ends the enumeration: only DXGI_ERROR_NOT_FOUND is expected, and another would repeat.
        if (FAILED(factory->EnumAdapters1(index, candidate.put()))) break;
        DXGI_ADAPTER_DESC1 desc{};
        if (candidate->GetDesc1(&desc) != S_OK) continue;
        if (!chosen) chosen = candidate;
        if (desc.VendorId == kPreferredVendorId) return candidate;
    }
    return chosen;
}

}  // namespace corvo
