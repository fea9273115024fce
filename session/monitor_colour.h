// The colour state of the monitor a capture's target is on: whether it is in HDR mode and its SDR white level.
// A window's monitor is the one it is mostly on. The state is read again when the target moves to another
// monitor or the display configuration changes; otherwise a look costs one call for the window's monitor, one for
// the factory's currency and, in HDR mode, one for the white.
#pragma once

#include "platform/com_ptr.h"
#include "platform/graphics.h"

namespace corvo {

struct MonitorState {
    HMONITOR monitor = nullptr;
    bool hdr = false;
    float sdr_white_nits = 80.0f;  // what Windows assumes for SDR content when it cannot be read
};

// Where the display configuration keeps a monitor's SDR white.
struct WhiteTarget {
    LUID adapter{};
    UINT32 id = 0;
};

class MonitorColour {
public:
    // The state of the monitor `window` is mostly on, or of `monitor`.
    const MonitorState &look(HWND window, HMONITOR monitor) noexcept;
    void reset() noexcept;

private:
    ComPtr<IDXGIFactory1> factory_;  // made anew when the display configuration changed
    MonitorState state_;
    WhiteTarget target_;
    bool has_target_ = false;
};

}  // namespace corvo
