// The windows and monitors of a Windows system.
#include <windows.h>
// dwmapi.h needs the types of windows.h.
#include <dwmapi.h>

#include "session/monitor_colour.h"
#include "tools/capture_cli/target_list.h"

namespace capture_cli {
namespace {

std::string narrow(const std::wstring &wide) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(size_t(length > 0 ? length : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), utf8.data(), length, nullptr, nullptr);
    return utf8;
}

// Where the system draws the window; without the compositor's bounds, its rectangle.
RECT bounds_of(HWND window) {
    RECT bounds{};
    if (FAILED(DwmGetWindowAttribute(window, DWMWA_EXTENDED_FRAME_BOUNDS, &bounds, sizeof bounds)))
        GetWindowRect(window, &bounds);
    return bounds;
}

BOOL CALLBACK add_window(HWND window, LPARAM list) noexcept {
    DWORD cloaked = 0;  // a system without cloaking fails the query: nothing is cloaked there
    if (!IsWindowVisible(window) || IsIconic(window) ||
        (SUCCEEDED(DwmGetWindowAttribute(window, DWMWA_CLOAKED, &cloaked, sizeof cloaked)) && cloaked))
        return TRUE;
    const int length = GetWindowTextLengthW(window);
    if (length <= 0) return TRUE;
    try {
        std::wstring title(size_t(length) + 1, L'\0');
        title.resize(size_t(GetWindowTextW(window, title.data(), length + 1)));
        if (title.empty()) return TRUE;
        const RECT r = bounds_of(window);
        reinterpret_cast<TargetList *>(list)->windows.push_back(
            {reinterpret_cast<uintptr_t>(window), narrow(title), r.right - r.left, r.bottom - r.top});
        return TRUE;
    } catch (...) {
        return FALSE;  // out of memory: the list ends here rather than an exception crossing the system's frames
    }
}

BOOL CALLBACK add_monitor(HMONITOR monitor, HDC, LPRECT, LPARAM list) noexcept {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (!GetMonitorInfoW(monitor, &info)) info.rcMonitor = RECT{};
    const RECT &r = info.rcMonitor;
    try {
        // Kept even when its description fails, so that the indexes stay those --monitor takes.
        corvo::MonitorColour reader;  // as the library reads it
        const corvo::MonitorState &colour = reader.look(nullptr, monitor);
        reinterpret_cast<TargetList *>(list)->monitors.push_back(
            {r.left, r.top, r.right - r.left, r.bottom - r.top, colour.hdr, colour.sdr_white_nits});
        return TRUE;
    } catch (...) {
        return FALSE;
    }
}

}  // namespace

TargetList list_targets() {
    TargetList list;
    EnumWindows(add_window, reinterpret_cast<LPARAM>(&list));
    EnumDisplayMonitors(nullptr, nullptr, add_monitor, reinterpret_cast<LPARAM>(&list));
    return list;
}

}  // namespace capture_cli
