// The part of each frame the host asked for: a rectangle of the frame's content, a window's client area, or a
// rectangle of the client area. The host sets it from any thread; the poll reads it once per frame, with the
// client area's place in that frame, so that one picture never mixes two requests.
#pragma once

#include <cstdint>
#include <mutex>

#include "corvo_wgc.h"
#include "platform/win32.h"

namespace corvo {

// A part of a frame in the pixels of its content: left and top inclusive, right and bottom exclusive. `on` is
// false for the whole frame; an empty box shows nothing of it.
struct Region {
    bool on = false;
    int32_t left = 0, top = 0, right = 0, bottom = 0;

    bool empty() const noexcept { return right <= left || bottom <= top; }
    bool operator==(const Region &) const = default;
};

// `region` clipped to a content of width x height: a box that may be empty.
Region clip_region(const Region &region, int32_t width, int32_t height) noexcept;

// The client area of `window` inside its captured frame, which shows the window's visible bounds. False when it
// cannot be known now (the window is minimised, or gone).
bool client_area_in_frame(HWND window, Region *client) noexcept;

class RegionRequest {
public:
    // False, and the request as it was, for a rectangle that no region can be; null or all zero is the whole.
    bool set_region(const wgc_rect *rect) noexcept;
    void set_client_area(bool on) noexcept;
    // The part of this frame of `window` (null for a monitor) to read, not yet clipped to the content; false when
    // it cannot be known now, and then the frame shows nothing new.
    bool frame_region(HWND window, Region *region) const noexcept;

private:
    // Never held while calling out: both are read and written together, in a few instructions.
    mutable std::mutex mutex_;
    Region rect_;  // relative to the client area when `client_area_`
    bool client_area_ = false;
};

}  // namespace corvo
