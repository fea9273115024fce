// Where a simulated window and its client area are on the desktop.
#include <algorithm>
#include <memory>

#include "corvo_emu.h"
#include "corvo_emu_window.h"
#include "platform/emulated/c_boundary.h"
#include "platform/emulated/system.h"
#include "platform/emulated/targets.h"

using namespace corvo::emu;

namespace {

std::shared_ptr<Target> open_window(HWND window) {
    std::shared_ptr<Target> t = find_target(window);
    return t && t->kind == Target::Kind::window && !t->closed() ? t : nullptr;
}

// Windows parks a minimised window at -32000, -32000, out of sight.
POINT window_position(const Target &t) { return t.minimised() ? POINT{-32000, -32000} : t.position(); }

RECT window_rect(const Target &t) {
    const POINT at = window_position(t);
    const corvo::platform::SizeInt32 size = t.size();
    return {at.x, at.y, at.x + size.Width, at.y + size.Height};
}

// Windows 10 and 11 count invisible resize borders into a framed window's rectangle (left, right and bottom),
// which its visible bounds, what its capture shows, leave out.
constexpr LONG kResizeBorder = 7;

thread_local DPI_AWARENESS_CONTEXT thread_awareness = DPI_AWARENESS_CONTEXT_UNAWARE;

}  // namespace

extern "C" {

void corvo_emu_set_window_frame(HWND window, int32_t left, int32_t top, int32_t right,
                                int32_t bottom) CORVO_EMU_NOEXCEPT {
    or_nothing([&] {
        if (const auto t = open_window(window))
            t->set_non_client({std::max(left, 0), std::max(top, 0), std::max(right, 0), std::max(bottom, 0)});
    });
}

void corvo_emu_set_window_minimised(HWND window, BOOL minimised) CORVO_EMU_NOEXCEPT {
    or_nothing([&] {
        if (const auto t = open_window(window)) t->set_minimised(minimised != 0);
    });
}

BOOL WINAPI GetWindowRect(HWND window, RECT *rect) {
    return or_failure<BOOL>(0, [&]() -> BOOL {
        const auto t = open_window(window);
        if (FAILED(call("GetWindowRect")) || !t || !rect) return 0;
        *rect = window_rect(*t);
        const RECT frame = t->non_client();
        if (frame.left || frame.top || frame.right || frame.bottom) {
            rect->left -= kResizeBorder;
            rect->right += kResizeBorder;
            rect->bottom += kResizeBorder;
        }
        return 1;
    });
}

BOOL WINAPI GetClientRect(HWND window, RECT *rect) {
    return or_failure<BOOL>(0, [&]() -> BOOL {
        const auto t = open_window(window);
        if (FAILED(call("GetClientRect")) || !t || !rect) return 0;
        if (t->minimised()) {
            *rect = {0, 0, 0, 0};
            return 1;
        }
        const RECT whole = window_rect(*t), frame = t->non_client();
        *rect = {0, 0, std::max<LONG>(whole.right - whole.left - frame.left - frame.right, 0),
                 std::max<LONG>(whole.bottom - whole.top - frame.top - frame.bottom, 0)};
        return 1;
    });
}

BOOL WINAPI ClientToScreen(HWND window, POINT *point) {
    return or_failure<BOOL>(0, [&]() -> BOOL {
        const auto t = open_window(window);
        if (FAILED(call("ClientToScreen")) || !t || !point) return 0;
        const POINT at = window_position(*t);
        const RECT frame = t->non_client();
        point->x += at.x + frame.left;
        point->y += at.y + frame.top;
        return 1;
    });
}

BOOL WINAPI IsIconic(HWND window) {
    return or_failure<BOOL>(0, [&]() -> BOOL {
        const auto t = open_window(window);
        return t && t->minimised();
    });
}

HRESULT WINAPI DwmGetWindowAttribute(HWND window, DWORD attribute, void *value, DWORD size) {
    return or_failure<HRESULT>(E_FAIL, [&]() -> HRESULT {
        if (const HRESULT hr = call("DwmGetWindowAttribute"); FAILED(hr)) return hr;
        const auto t = open_window(window);
        if (!t || attribute != DWMWA_EXTENDED_FRAME_BOUNDS || !value || size != sizeof(RECT)) return E_INVALIDARG;
        *static_cast<RECT *>(value) = window_rect(*t);
        return S_OK;
    });
}

DPI_AWARENESS_CONTEXT WINAPI SetThreadDpiAwarenessContext(DPI_AWARENESS_CONTEXT context) {
    if (context != DPI_AWARENESS_CONTEXT_UNAWARE && context != DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2)
        return nullptr;
    const DPI_AWARENESS_CONTEXT previous = thread_awareness;
    thread_awareness = context;
    return previous;
}

}  // extern "C"
