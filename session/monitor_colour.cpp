#include "session/monitor_colour.h"

#include <new>
#include <string_view>
#include <vector>

namespace corvo {
namespace {

// The mode of the output of the factory's adapters that shows `monitor`: S_OK with `*hdr`, else why it could not be
// read (no output shows it, no IDXGIOutput6, a failing description).
HRESULT read_mode(IDXGIFactory1 *factory, HMONITOR monitor, bool *hdr) noexcept {
    for (UINT a = 0;; ++a) {
        ComPtr<IDXGIAdapter1> adapter;
        if (FAILED(factory->EnumAdapters1(a, adapter.put()))) return DXGI_ERROR_NOT_FOUND;
        for (UINT o = 0;; ++o) {
            ComPtr<IDXGIOutput> output;
            if (FAILED(adapter->EnumOutputs(o, output.put()))) break;
            DXGI_OUTPUT_DESC desc{};
            if (FAILED(output->GetDesc(&desc)) || desc.Monitor != monitor) continue;
            ComPtr<IDXGIOutput6> output6;
            DXGI_OUTPUT_DESC1 desc1{};
            HRESULT hr = output->QueryInterface(IID_PPV_ARGS(output6.put()));
            if (SUCCEEDED(hr)) hr = output6->GetDesc1(&desc1);
            if (FAILED(hr)) return hr;
            *hdr = desc1.ColorSpace == DXGI_COLOR_SPACE_RGB_FULL_G2084_NONE_P2020;
            return S_OK;
        }
    }
}

// The display configuration's target that shows `monitor`: ERROR_SUCCESS, or the Win32 error of the call that
// failed (ERROR_GEN_FAILURE when no path shows it).
LONG find_target(HMONITOR monitor, WhiteTarget *found) noexcept {
    MONITORINFOEXW info{};
    info.cbSize = sizeof info;
    if (!GetMonitorInfoW(monitor, &info)) return ERROR_GEN_FAILURE;
    try {
        std::vector<DISPLAYCONFIG_PATH_INFO> paths;
        std::vector<DISPLAYCONFIG_MODE_INFO> modes;
        LONG result = ERROR_INSUFFICIENT_BUFFER;
        // The configuration may change between the two calls: ask again while the buffers are too small.
        for (int tries = 0; result == ERROR_INSUFFICIENT_BUFFER && tries < 4; ++tries) {
            UINT32 path_count = 0, mode_count = 0;
            result = GetDisplayConfigBufferSizes(QDC_ONLY_ACTIVE_PATHS, &path_count, &mode_count);
            if (result != ERROR_SUCCESS) return result;
            paths.resize(path_count);
            modes.resize(mode_count);
            result = QueryDisplayConfig(QDC_ONLY_ACTIVE_PATHS, &path_count, paths.data(), &mode_count, modes.data(),
                                        nullptr);
            paths.resize(path_count);
        }
        if (result != ERROR_SUCCESS) return result;
        for (const DISPLAYCONFIG_PATH_INFO &path : paths) {
            DISPLAYCONFIG_SOURCE_DEVICE_NAME source{};
            source.header.type = DISPLAYCONFIG_DEVICE_INFO_GET_SOURCE_NAME;
            source.header.size = sizeof source;
            source.header.adapterId = path.sourceInfo.adapterId;
            source.header.id = path.sourceInfo.id;
            if (DisplayConfigGetDeviceInfo(&source.header) == ERROR_SUCCESS &&
                std::basic_string_view<WCHAR>(source.viewGdiDeviceName) == info.szDevice) {
                *found = {path.targetInfo.adapterId, path.targetInfo.id};
                return ERROR_SUCCESS;
            }
        }
    } catch (const std::bad_alloc &) {
    }
    return ERROR_GEN_FAILURE;
}

// The target's SDR white level into `nits`: ERROR_SUCCESS, or why not.
LONG read_white(const WhiteTarget &target, float *nits) noexcept {
    DISPLAYCONFIG_SDR_WHITE_LEVEL white{};
    white.header.type = DISPLAYCONFIG_DEVICE_INFO_GET_SDR_WHITE_LEVEL;
    white.header.size = sizeof white;
    white.header.adapterId = target.adapter;
    white.header.id = target.id;
    const LONG result = DisplayConfigGetDeviceInfo(&white.header);
    if (result != ERROR_SUCCESS) return result;
    if (white.SDRWhiteLevel == 0) return ERROR_GEN_FAILURE;
    *nits = float(white.SDRWhiteLevel) * 80.0f / 1000.0f;  // 1000 is 80 nits
    return ERROR_SUCCESS;
}

}  // namespace

const MonitorState &MonitorColour::look(HWND window, HMONITOR monitor, int64_t time) noexcept {
    // A read without a clock says nothing of when it was on the frames' clock: the next look with one reads.
    if (time >= 0 && read_at_ >= 0 && time >= read_at_ && time - read_at_ < kReadInterval && !retry_) return state_;
    read_at_ = time;
    const HMONITOR now = window ? MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST) : monitor;
    read(now);
    // A failure is read again at the next look, once: a passing one must not leave a wrong mode or white for
    // 250 ms, nor a lasting one cost a query on every frame.
    retry_ = (FAILED(state_.mode_error) || state_.white_error != ERROR_SUCCESS) && !retry_;
    return state_;
}

void MonitorColour::read(HMONITOR now) noexcept {
    if (!factory_ || !factory_->IsCurrent() || now != state_.monitor) {
        factory_.reset();
        has_target_ = false;
        // Another monitor's white is no fallback for this one.
        if (now != state_.monitor) state_.sdr_white_nits = 80.0f;
        state_.monitor = now;
        state_.hdr = false;
        state_.mode_error = S_OK;
        if (now) {
            bool hdr = false;
            HRESULT hr = CreateDXGIFactory1(IID_PPV_ARGS(factory_.put()));
            if (SUCCEEDED(hr)) hr = read_mode(factory_.get(), now, &hdr);
            state_.hdr = hdr;
            state_.mode_error = hr;
            if (FAILED(hr)) factory_.reset();  // read again at the next read
        }
    }
    // What the level means while HDR is off is not known: SDR content is shown as SDR then.
    if (!state_.hdr) {
        state_.sdr_white_nits = 80.0f;
        state_.white_error = ERROR_SUCCESS;
        return;
    }
    LONG result = has_target_ ? ERROR_SUCCESS : find_target(now, &target_);
    has_target_ = result == ERROR_SUCCESS;
    float nits = 0.0f;
    if (has_target_) result = read_white(target_, &nits);
    // A failed read keeps the last good white.
    if (result == ERROR_SUCCESS) state_.sdr_white_nits = nits;
    state_.white_error = result;
}

void MonitorColour::reset() noexcept {
    factory_.reset();
    state_ = {};
    has_target_ = false;
    retry_ = false;
    read_at_ = -1;
}

}  // namespace corvo
