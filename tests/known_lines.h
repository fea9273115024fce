// Every format the library logs, and a check that a delivered line is one of them, whole.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

namespace known_lines {

inline constexpr const char *kFormats[] = {
    "Wgc capture rebuilt, device generation %u",
    "Wgc adapter %s",
    "Set recovery %s",
    "Set device %s",
    "Set adapter %s",
    "No adapter shows the target's monitor: the preferred vendor's is used",
    "Failed to use the host's device: removed, reason:%08x",
    "Failed to set device: removed, reason:%08x",
    "Failed to set device: created without BGRA support",
    "Failed to set adapter %ld",
    "Device feature level %04x is below 11_0: no change detection or HDR conversion",
    "Capture device lost, reason:%08x; rebuilding",
    "Capture device lost, reason:%08x; the capture has ended",
    "Exception catced %s",
    "Exception catched: %08x",
    "Failed to  %s border",
    "Failed to %s cursor",
    "Failed to QueryInterface[IDXGIDevice]. hr:%08x",
    "Failed to allocate %uKB",
    "Failed to apply %s switch, Winrt exception:%ld",
    "Failed to apply %s switch, std exception:%s",
    "Failed to call CreateDirect3D11DeviceFromDXGIDevice, hr:%08x",
    "Failed to call IGraphicsCaptureItemInterop::CreateForMonitor, hr:%08x",
    "Failed to call IGraphicsCaptureItemInterop::CreateForWindow, hr:%08x",
    "Failed to create d3d11 device,hr:%08x",
    "Failed to create dispatcher queue controller, hr:%08x",
    "Failed to create dxgi factory1, hr:%08x",
    "Failed to recreate the frame pool at %ldx%ld, hr:%08x",
    "Failed to find any adapter to create d3d11 device",
    "Failed to get IGraphicsCaptureItemInterop, hr:%08x",
    "Failed to hide border: borderless capture access cannot be asked, hr:%08x",
    "Failed to hide border: borderless capture access denied, status %d",
    "Failed to initialize COM, hr:%08x",
    "Failed to set client area: the target is a monitor",
    "Failed to set min update interval %uus",
    "Failed to set pixel format %ld",
    "Failed to set region %ld,%ld,%ld,%ld",
    "Failed to start: no window or monitor to capture",
    "IsBorderRequiredSupported: no",
    "IsCursorToggleSupported: no",
    "Set %s border",
    "Set %s cursor",
    "Set client area %s",
    "Set dirtyRect %s",
    "Set min update interval %uus",
    "Set pixel format %s",
    "Set region %ld,%ld,%ld,%ld",
    "Try to exit wgc thread",
    "Wgc border %s ",
    "Wgc cursor %s ",
    "Wgc exit.",
    "Wgc min update interval %uus",
    "Wgc on_closed",
    "Wgc sdr from hdr off",
    "Wgc sdr from hdr on, sdr white %u nits",
    "Wgc hdr mode of the monitor unknown, hr:%08x; treated as sdr",
    "Wgc sdr white unknown, error:%ld; %u nits used",
    "Wgc sdr from hdr unavailable on this device; the system's bgra8 frames are used",
    "Wgc sdr from hdr failed to make a picture; the system's bgra8 frames are used",
    "Wgc session started.",
    "Winrt exception:%ld",
    "std exception:%s",
    "unknown exception",
};

// Whether `text` is what `format` gives for some arguments; %s matches any run of characters.
inline bool matches(std::string_view format, std::string_view text) {
    if (format.empty()) return text.empty();
    if (format.substr(0, 2) == "%s") {
        for (size_t n = 0; n <= text.size(); ++n)
            if (matches(format.substr(2), text.substr(n))) return true;
        return false;
    }
    auto digits = [](std::string_view t, bool hex) {
        size_t n = 0;
        while (n < t.size() && ((t[n] >= '0' && t[n] <= '9') || (hex && t[n] >= 'a' && t[n] <= 'f'))) ++n;
        return n;
    };
    if (format.substr(0, 4) == "%08x")
        return digits(text.substr(0, 8), true) == 8 && matches(format.substr(4), text.substr(8));
    if (format.substr(0, 3) == "%ld" || format.substr(0, 2) == "%d") {
        const size_t sign = !text.empty() && text[0] == '-' ? 1 : 0;
        const size_t n = digits(text.substr(sign), false);
        return n > 0 && matches(format.substr(format[1] == 'l' ? 3 : 2), text.substr(sign + n));
    }
    if (format.substr(0, 2) == "%u") {
        const size_t n = digits(text, false);
        return n > 0 && matches(format.substr(2), text.substr(n));
    }
    return !text.empty() && format[0] == text[0] && matches(format.substr(1), text.substr(1));
}

// A line as the library must deliver it: a known level, terminated where its length says, and one of the
// library's lines (the start line is the one line logged through a bare "%s").
inline bool is_valid(int32_t level, const char *text, uint64_t length) {
    if (level < 1 || level > 3 || text == nullptr || length == 0 || length > 1022) return false;
    if (std::strlen(text) != length) return false;
    const std::string_view line(text, length);
    if (line == "WgcCaptureSession::Start") return true;
    for (const char *format : kFormats)
        if (matches(format, line)) return true;
    return false;
}

}  // namespace known_lines
