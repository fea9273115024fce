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

// The display configuration's target that shows `monitor`; false when none can be found.
bool find_target(HMONITOR monitor, WhiteTarget *found) noexcept {
    MONITORINFOEXW info{};
    info.cbSize = sizeof info;
    if (!GetMonitorInfoW(monitor, &info)) return false;
    try {
        std::vector<DISPLAYCONFIG_PATH_INFO> paths;
        std::vector<DISPLAYCONFIG_MODE_INFO> modes;
        LONG result = ERROR_INSUFFICIENT_BUFFER;
        // The configuration may change between the two calls: ask again while the buffers are too small.
        for (int tries = 0; result == ERROR_INSUFFICIENT_BUFFER && tries < 4; ++tries) {
            UINT32 path_count = 0, mode_count = 0;
            if (GetDisplayConfigBufferSizes(QDC_ONLY_ACTIVE_PATHS, &path_count, &mode_count) != ERROR_SUCCESS)
                return false;
            paths.resize(path_count);
            modes.resize(mode_count);
            result = QueryDisplayConfig(QDC_ONLY_ACTIVE_PATHS, &path_count, paths.data(), &mode_count, modes.data(),
                                        nullptr);
            paths.resize(path_count);
        }
        if (result != ERROR_SUCCESS) return false;
        for (const DISPLAYCONFIG_PATH_INFO &path : paths) {
            DISPLAYCONFIG_SOURCE_DEVICE_NAME source{};
            source.header.type = DISPLAYCONFIG_DEVICE_INFO_GET_SOURCE_NAME;
            source.header.size = sizeof source;
            source.header.adapterId = path.sourceInfo.adapterId;
            source.header.id = path.sourceInfo.id;
            if (DisplayConfigGetDeviceInfo(&source.header) == ERROR_SUCCESS &&
                std::basic_string_view<WCHAR>(source.viewGdiDeviceName) == info.szDevice) {
                *found = {path.targetInfo.adapterId, path.targetInfo.id};
                return true;
            }
        }
    } catch (const std::bad_alloc &) {
    }
    return false;
}

// The target's SDR white level into `nits`; false, leaving it alone, when it cannot be read.
bool read_white(const WhiteTarget &target, float *nits) noexcept {
    DISPLAYCONFIG_SDR_WHITE_LEVEL white{};
    white.header.type = DISPLAYCONFIG_DEVICE_INFO_GET_SDR_WHITE_LEVEL;
    white.header.size = sizeof white;
    white.header.adapterId = target.adapter;
    white.header.id = target.id;
    if (DisplayConfigGetDeviceInfo(&white.header) != ERROR_SUCCESS || white.SDRWhiteLevel == 0) return false;
    *nits = float(white.SDRWhiteLevel) * 80.0f / 1000.0f;  // 1000 is 80 nits
    return true;
}

}  // namespace

const MonitorState &MonitorColour::look(HWND window, HMONITOR monitor) noexcept {
    const HMONITOR now = window ? MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST) : monitor;
    if (!factory_ || !factory_->IsCurrent() || now != state_.monitor) {
        factory_.reset();
        state_.monitor = now;
        state_.hdr = false;
        has_target_ = false;
        if (!now || FAILED(CreateDXGIFactory1(IID_PPV_ARGS(factory_.put())))) {
            factory_.reset();
            state_.sdr_white_nits = 80.0f;
            return state_;
        }
        state_.hdr = in_hdr_mode(factory_.get(), now);
    }
    // The white moves with the user's slider, which changes no configuration: read at every look, in HDR mode
    // only (what the level means while HDR is off is not known). A read that fails keeps the last good white:
    // one failed call must not turn a 200-nit white into 80 for that frame.
    if (!state_.hdr) {
        state_.sdr_white_nits = 80.0f;
    } else {
        if (!has_target_) has_target_ = find_target(state_.monitor, &target_);
        if (has_target_) read_white(target_, &state_.sdr_white_nits);
    }
    return state_;
}

void MonitorColour::reset() noexcept {
    factory_.reset();
    state_ = {};
    has_target_ = false;
}

}  // namespace corvo
