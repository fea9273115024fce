// The region request and the client area's place in a window's frame.
#include "session/frame_region.h"

#include <algorithm>

namespace corvo {

Region clip_region(const Region &region, int32_t width, int32_t height) noexcept {
    if (!region.on) return region;
    Region clipped = region;
    clipped.left = std::clamp(region.left, 0, width);
    clipped.top = std::clamp(region.top, 0, height);
    clipped.right = std::clamp(region.right, clipped.left, width);
    clipped.bottom = std::clamp(region.bottom, clipped.top, height);
    return clipped;
}

bool client_area_in_frame(HWND window, Region *client) noexcept {
    // Read as the frame is made, in physical pixels, whatever the host's DPI awareness: the rectangles of a
    // window on a scaled monitor are otherwise scaled for a host that is not per-monitor aware.
    const DPI_AWARENESS_CONTEXT previous = SetThreadDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    // The frame shows the visible bounds, which leave out the invisible resize borders of GetWindowRect;
    // without composition, or where the attribute is not known, the window's rectangle is all there is.
    RECT frame{}, area{};
    POINT origin{0, 0};
    bool known = !IsIconic(window);
    if (known && FAILED(DwmGetWindowAttribute(window, DWMWA_EXTENDED_FRAME_BOUNDS, &frame, sizeof frame)))
        known = GetWindowRect(window, &frame) != 0;
    known = known && GetClientRect(window, &area) && ClientToScreen(window, &origin);
    // A window minimised meanwhile has an empty client area: nothing of this frame is its client area.
    known = known && !IsIconic(window);
    if (previous) SetThreadDpiAwarenessContext(previous);
    if (!known) return false;
    client->on = true;
    client->left = origin.x - frame.left;
    client->top = origin.y - frame.top;
    client->right = client->left + std::max<LONG>(area.right - area.left, 0);
    client->bottom = client->top + std::max<LONG>(area.bottom - area.top, 0);
    return true;
}

bool RegionRequest::set_region(const wgc_rect *rect) noexcept {
    Region region;
    if (rect && (rect->left || rect->top || rect->right || rect->bottom)) {
        if (rect->left < 0 || rect->top < 0 || rect->right <= rect->left || rect->bottom <= rect->top) return false;
        region = {true, rect->left, rect->top, rect->right, rect->bottom};
    }
    const std::lock_guard lock(mutex_);
    rect_ = region;
    return true;
}

void RegionRequest::set_client_area(bool on) noexcept {
    const std::lock_guard lock(mutex_);
    client_area_ = on;
}

bool RegionRequest::frame_region(HWND window, Region *region) const noexcept {
    Region rect;
    bool client_area = false;
    {
        const std::lock_guard lock(mutex_);
        rect = rect_;
        client_area = client_area_;
    }
    if (!client_area || !window) {
        *region = rect;
        return true;
    }
    Region client;
    if (!client_area_in_frame(window, &client)) return false;
    if (rect.on) {
        // The rectangle in the client area, and no further: what lies beyond it is not the client's.
        const Region inside = clip_region(rect, client.right - client.left, client.bottom - client.top);
        client.right = client.left + inside.right;
        client.bottom = client.top + inside.bottom;
        client.left += inside.left;
        client.top += inside.top;
    }
    *region = client;
    return true;
}

}  // namespace corvo
