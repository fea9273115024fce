// Built on Windows only: the Linux build captures the demo scene.
#ifdef _WIN32
#include "tools/capture_cli/windows_target.h"

#include <cstdlib>
#include <vector>

namespace capture_cli {
namespace {

std::wstring widen(const std::string &utf8) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring wide(size_t(length > 0 ? length : 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), wide.data(), length);
    return wide;
}

// A number (0x... or decimal) that is the handle of an existing window, else the top-level window with that title.
HWND find_window(const std::string &name) {
    char *end = nullptr;
    const unsigned long long handle = std::strtoull(name.c_str(), &end, 0);
    if (!name.empty() && *end == '\0') {
        const HWND window = reinterpret_cast<HWND>(static_cast<uintptr_t>(handle));
        if (IsWindow(window)) return window;
    }
    return FindWindowW(nullptr, widen(name).c_str());
}

BOOL CALLBACK add_monitor(HMONITOR monitor, HDC, LPRECT, LPARAM monitors) {
    reinterpret_cast<std::vector<HMONITOR> *>(monitors)->push_back(monitor);
    return TRUE;
}

}  // namespace

wgc_session create_windows_session(const Options &options, std::string &reason) {
    if (options.window) {
        const HWND window = find_window(*options.window);
        if (!window) {
            reason = "no window has the title or handle \"" + *options.window + "\"";
            return nullptr;
        }
        return wgc_session_create(window);
    }
    std::vector<HMONITOR> monitors;
    EnumDisplayMonitors(nullptr, nullptr, add_monitor, reinterpret_cast<LPARAM>(&monitors));
    if (size_t(*options.monitor) >= monitors.size()) {
        reason = "no monitor " + std::to_string(*options.monitor) + "; this system has " +
                 std::to_string(monitors.size()) + ", numbered from 0";
        return nullptr;
    }
    return wgc_session_create2(monitors[size_t(*options.monitor)]);
}

}  // namespace capture_cli
#endif
