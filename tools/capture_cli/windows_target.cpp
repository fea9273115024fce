// Built on Windows only: the Linux build captures the demo scene.
#ifdef _WIN32
#include "tools/capture_cli/windows_target.h"

#include <cstdlib>
#include <vector>

#include "tools/capture_cli/target_list.h"

namespace capture_cli {
namespace {

std::wstring widen(const std::string &utf8) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring wide(size_t(length > 0 ? length : 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), wide.data(), length);
    return wide;
}

// A number (0x... or decimal) that is the handle of an existing window, else the top-level window with that title,
// else the one capturable window whose title contains the name; null with the reason when none or several do.
HWND find_window(const std::string &name, std::string &reason) {
    char *end = nullptr;
    const unsigned long long handle = std::strtoull(name.c_str(), &end, 0);
    if (!name.empty() && *end == '\0') {
        const HWND window = reinterpret_cast<HWND>(static_cast<uintptr_t>(handle));
        if (IsWindow(window)) return window;
    }
    if (const HWND window = FindWindowW(nullptr, widen(name).c_str())) return window;
    const std::vector<ListedWindow> found = windows_titled(list_targets().windows, name);
    if (found.size() == 1) return reinterpret_cast<HWND>(found[0].handle);
    if (found.empty()) {
        reason = "no window has the title or handle \"" + name + "\"";
        return nullptr;
    }
    reason = std::to_string(found.size()) + " windows have \"" + name + "\" in their title; name one by handle:\n";
    for (const ListedWindow &window : found) reason += window_line(window);
    reason.pop_back();  // the caller ends the line
    return nullptr;
}

BOOL CALLBACK add_monitor(HMONITOR monitor, HDC, LPRECT, LPARAM monitors) {
    reinterpret_cast<std::vector<HMONITOR> *>(monitors)->push_back(monitor);
    return TRUE;
}

}  // namespace

wgc_session create_windows_session(const Options &options, std::string &reason) {
    if (options.window) {
        const HWND window = find_window(*options.window, reason);
        return window ? wgc_session_create(window) : nullptr;
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
