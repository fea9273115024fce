#include "tools/capture_cli/monitor_colour.h"

#ifdef _WIN32
#include <windows.h>
// dxgi1_6.h needs the types of windows.h.
#include <dxgi1_6.h>
#else
#include "corvo_emu_d3d11.h"
#include "corvo_emu_display.h"
#endif

#include <string_view>
#include <vector>

namespace capture_cli {
namespace {

template <class I>
struct Released {
    I *p = nullptr;
    ~Released() {
        if (p) p->Release();
    }
};

// Whether an output of the factory's adapters shows `monitor` in HDR10's colour space.
bool in_hdr_mode(IDXGIFactory1 *factory, HMONITOR monitor) {
    for (UINT a = 0;; ++a) {
        Released<IDXGIAdapter1> adapter;
        if (FAILED(factory->EnumAdapters1(a, &adapter.p))) return false;
        for (UINT o = 0;; ++o) {
            Released<IDXGIOutput> output;
            if (FAILED(adapter.p->EnumOutputs(o, &output.p))) break;
            Released<IDXGIOutput6> output6;
            DXGI_OUTPUT_DESC1 desc{};
            if (FAILED(output.p->QueryInterface(IID_PPV_ARGS(&output6.p))) || FAILED(output6.p->GetDesc1(&desc)))
                continue;
            if (desc.Monitor == monitor) return desc.ColorSpace == DXGI_COLOR_SPACE_RGB_FULL_G2084_NONE_P2020;
        }
    }
}

// The SDR white of the display configuration's target that shows `monitor`; 80 when it cannot be read.
float sdr_white(HMONITOR monitor) {
    MONITORINFOEXW info{};
    info.cbSize = sizeof info;
    UINT32 path_count = 0, mode_count = 0;
    if (!GetMonitorInfoW(monitor, &info) ||
        GetDisplayConfigBufferSizes(QDC_ONLY_ACTIVE_PATHS, &path_count, &mode_count) != ERROR_SUCCESS)
        return 80.0f;
    std::vector<DISPLAYCONFIG_PATH_INFO> paths(path_count);
    std::vector<DISPLAYCONFIG_MODE_INFO> modes(mode_count);
    // A configuration that changed in between is read as unknown: --list is run again.
    if (QueryDisplayConfig(QDC_ONLY_ACTIVE_PATHS, &path_count, paths.data(), &mode_count, modes.data(), nullptr) !=
        ERROR_SUCCESS)
        return 80.0f;
    paths.resize(path_count);
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
        if (DisplayConfigGetDeviceInfo(&white.header) != ERROR_SUCCESS || white.SDRWhiteLevel == 0) return 80.0f;
        return float(white.SDRWhiteLevel) * 80.0f / 1000.0f;
    }
    return 80.0f;
}

}  // namespace

MonitorColour monitor_colour(void *monitor) {
    MonitorColour colour;
    Released<IDXGIFactory1> factory;
    const auto handle = static_cast<HMONITOR>(monitor);
    if (FAILED(CreateDXGIFactory1(IID_PPV_ARGS(&factory.p))) || !in_hdr_mode(factory.p, handle)) return colour;
    colour.hdr = true;
    colour.sdr_white_nits = sdr_white(handle);
    return colour;
}

}  // namespace capture_cli
