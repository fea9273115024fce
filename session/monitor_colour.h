// The colour state of the monitor a capture's target is on: whether it is in HDR mode and its SDR white level.
// A window's monitor is the one it is mostly on. Looks made with the frames' clock cost no display query between
// two reads: the target's monitor, the display configuration's currency and the white are read at most every
// 250 ms, the mode only when the monitor or the configuration changed. What could not be read is tried again at
// the next look once, then at the next read: a failure that lasts (a remote session's refusal) must not cost a
// query on every frame.
#pragma once

#include <cstdint>

#include "platform/com_ptr.h"
#include "platform/graphics.h"

namespace corvo {

struct MonitorState {
    HMONITOR monitor = nullptr;
    bool hdr = false;
    float sdr_white_nits = 80.0f;  // the last white read in HDR mode; what Windows assumes for SDR content before
    // Why the last read of the mode failed (S_OK when it did not): the monitor then counts as SDR.
    HRESULT mode_error = S_OK;
    // The Win32 error of the last read of the white (0 when it succeeded): the white is then the last good one.
    LONG white_error = 0;
};

// Where the display configuration keeps a monitor's SDR white.
struct WhiteTarget {
    LUID adapter{};
    UINT32 id = 0;
};

class MonitorColour {
public:
    // The time, in 100 ns units, between two reads of a look with a clock (the slider moves no configuration).
    static constexpr int64_t kReadInterval = 250 * 10'000;

    // The state of the monitor `window` is mostly on, or of `monitor`. `time` is the frames' clock; a look without
    // one (negative) reads at once, and so does the next look with one.
    const MonitorState &look(HWND window, HMONITOR monitor, int64_t time = -1) noexcept;
    void reset() noexcept;

private:
    // Reads what is due for the monitor `now`.
    void read(HMONITOR now) noexcept;

    ComPtr<IDXGIFactory1> factory_;  // made anew when the display configuration changed
    MonitorState state_;
    WhiteTarget target_;
    bool has_target_ = false;
    bool retry_ = false;    // the last read failed: the next look reads again
    int64_t read_at_ = -1;  // the clock at the last read; negative while it was read without one
};

}  // namespace corvo
