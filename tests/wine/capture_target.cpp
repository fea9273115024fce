// A capture target's size and pixels: a window's visible bounds (title bar and borders too, as Windows captures a
// window) read from its window device context, a monitor's area from the screen's.
#include <algorithm>
#include <cstring>

#include <dwmapi.h>

#include "capture_service.h"

namespace wine_wgc {
namespace {

// The window's visible bounds on the screen, which its frames show: the extended frame bounds, or the window's
// rectangle where the attribute is not known.
bool visible_bounds(HWND window, RECT *bounds) {
    return SUCCEEDED(DwmGetWindowAttribute(window, DWMWA_EXTENDED_FRAME_BOUNDS, bounds, sizeof *bounds)) ||
           GetWindowRect(window, bounds);
}

}  // namespace

bool Target::alive() const {
    if (window) return IsWindow(window);
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    return GetMonitorInfoW(monitor, &info);
}

SizeInt32 Target::size() const {
    RECT area{};
    if (window) {
        if (!visible_bounds(window, &area)) return {0, 0};
    } else {
        MONITORINFO info{};
        info.cbSize = sizeof(info);
        if (!GetMonitorInfoW(monitor, &info)) return {0, 0};
        area = info.rcMonitor;
    }
    return {area.right - area.left, area.bottom - area.top};
}

std::vector<uint8_t> Target::pixels(SizeInt32 size, bool cursor) const {
    POINT origin{0, 0};
    if (monitor) {
        MONITORINFO info{};
        info.cbSize = sizeof(info);
        if (!GetMonitorInfoW(monitor, &info)) return {};
        origin = {info.rcMonitor.left, info.rcMonitor.top};
    }
    POINT screen_origin = origin;  // of the frame, for the cursor
    if (window) {
        RECT bounds{}, placed{};
        if (!visible_bounds(window, &bounds) || !GetWindowRect(window, &placed)) return {};
        screen_origin = {bounds.left, bounds.top};
        origin = {bounds.left - placed.left, bounds.top - placed.top};  // in the window's device context
    }
    // Windows composes no frame of a hidden window; one that DestroyWindow is hiding reads as garbage here.
    if (window && !IsWindowVisible(window)) return {};
    HDC source = window ? GetWindowDC(window) : GetDC(nullptr);
    if (!source) return {};
    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof(format.bmiHeader);
    format.bmiHeader.biWidth = size.Width;
    format.bmiHeader.biHeight = -size.Height;  // top-down rows
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    void *bits = nullptr;
    HBITMAP section = CreateDIBSection(source, &format, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC memory = CreateCompatibleDC(source);
    std::vector<uint8_t> pixels;
    if (section && memory) {
        HGDIOBJ previous = SelectObject(memory, section);
        if (BitBlt(memory, 0, 0, size.Width, size.Height, source, origin.x, origin.y, SRCCOPY | CAPTUREBLT)) {
            GdiFlush();
            const auto *begin = static_cast<const uint8_t *>(bits);
            pixels.assign(begin, begin + size_t(size.Width) * size_t(size.Height) * 4);
            for (size_t i = 3; i < pixels.size(); i += 4) pixels[i] = 255;  // GDI leaves alpha 0; frames are opaque
        }
        SelectObject(memory, previous);
    }
    if (memory) DeleteDC(memory);
    if (section) DeleteObject(section);
    ReleaseDC(window, source);
    if (window && !IsWindowVisible(window)) return {};  // hidden while it was read
    POINT at{};
    if (cursor && !pixels.empty() && GetCursorPos(&at)) {
        const int left = at.x - screen_origin.x, top = at.y - screen_origin.y;
        for (int y = std::max(top, 0); y < std::min(top + kCursorSize, int(size.Height)); ++y)
            for (int x = std::max(left, 0); x < std::min(left + kCursorSize, int(size.Width)); ++x)
                std::memset(&pixels[(size_t(y) * size_t(size.Width) + size_t(x)) * 4], 0xff, 4);
    }
    return pixels;
}

}  // namespace wine_wgc
