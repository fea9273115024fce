#include "session/monitor_colour.h"

#include <new>
#include <string_view>
#include <vector>

namespace corvo {
namespace {

// Whether `monitor` is shown by an output of the factory's adapters whose colour space is HDR10's.
bool in_hdr_mode(IDXGIFactory1 *factory, HMONITOR monitor) noexcept {
    for (UINT a = 0;; ++a) {
        ComPtr<IDXGIAdapter1> adapter;
        if (FAILED(factory->EnumAdapters1(a, adapter.put()))) return false;
        for (UINT o = 0;; ++o) {
            ComPtr<IDXGIOutput> output;
            if (FAILED(adapter->EnumOutputs(o, output.put()))) break;
            ComPtr<IDXGIOutput6> output6;
            DXGI_OUTPUT_DESC1 desc{};
            if (FAILED(output->QueryInterface(IID_PPV_ARGS(output6.put()))) || FAILED(output6->GetDesc1(&desc)))
                continue;
            if (desc.Monitor == monitor) return desc.ColorSpace == DXGI_COLOR_SPACE_RGB_FULL_G2084_NONE_P2020;
        }
    }
}

// The SDR white level of `monitor` from the display configuration; 80 when it cannot be read.
float sdr_white_nits(HMONITOR monitor) noexcept {
    constexpr float kDefault = 80.0f;
    MONITORINFOEXW info{};
    info.cbSize = sizeof info;
    if (!GetMonitorInfoW(monitor, &info)) return kDefault;
    try {
        std::vector<DISPLAYCONFIG_PATH_INFO> paths;
        std::vector<DISPLAYCONFIG_MODE_INFO> modes;
        LONG result = ERROR_INSUFFICIENT_BUFFER;
        // The configuration may change between the two calls: ask again while the buffers are too small.
        for (int tries = 0; result == ERROR_INSUFFICIENT_BUFFER && tries < 4; ++tries) {
            UINT32 path_count = 0, mode_count = 0;
            if (GetDisplayConfigBufferSizes(QDC_ONLY_ACTIVE_PATHS, &path_count, &mode_count) != ERROR_SUCCESS)
                return kDefault;
            paths.resize(path_count);
            modes.resize(mode_count);
            result = QueryDisplayConfig(QDC_ONLY_ACTIVE_PATHS, &path_count, paths.data(), &mode_count, modes.data(),
                                        nullptr);
            paths.resize(path_count);
        }
        if (result != ERROR_SUCCESS) return kDefault;
        for (const DISPLAYCONFIG_PATH_INFO &path : paths) {
            DISPLAYCONFIG_SOURCE_DEVICE_NAME source{};
            source.header.type = DISPLAYCONFIG_DEVICE_INFO_GET_SOURCE_NAME;
            source.header.size = sizeof source;
            source.header.adapterId = path.sourceInfo.adapterId;
            source.header.id = path.sourceInfo.id;
            if (DisplayConfigGetDeviceInfo(&source.header) != ERROR_SUCCESS ||
                std::basic_string_view<WCHAR>(source.viewGdiDeviceName) != info.szDevice)
                continue;
            DISPLAYCONFIG_SDR_WHITE_LEVEL white{};
            white.header.type = DISPLAYCONFIG_DEVICE_INFO_GET_SDR_WHITE_LEVEL;
            white.header.size = sizeof white;
            white.header.adapterId = path.targetInfo.adapterId;
            white.header.id = path.targetInfo.id;
            // 1000 is 80 nits.
            if (DisplayConfigGetDeviceInfo(&white.header) != ERROR_SUCCESS || white.SDRWhiteLevel == 0)
                return kDefault;
            return float(white.SDRWhiteLevel) * 80.0f / 1000.0f;
        }
    } catch (const std::bad_alloc &) {
    }
    return kDefault;
}

}  // namespace

const MonitorState &MonitorColour::look(HWND window, HMONITOR monitor) noexcept {
    const HMONITOR now = window ? MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST) : monitor;
    if (factory_ && factory_->IsCurrent() && now == state_.monitor) return state_;
    factory_.reset();
    state_ = {now, false, 80.0f};
    if (!now || FAILED(CreateDXGIFactory1(IID_PPV_ARGS(factory_.put())))) {
        factory_.reset();
        return state_;
    }
    state_.hdr = in_hdr_mode(factory_.get(), now);
    // Read only in HDR mode: what the level means while HDR is off is not known.
    if (state_.hdr) state_.sdr_white_nits = sdr_white_nits(now);
    return state_;
}

void MonitorColour::reset() noexcept {
    factory_.reset();
    state_ = {};
}

}  // namespace corvo
