// Whether a monitor is in HDR mode and the SDR white it shows SDR content at, as --list prints them.
#pragma once

namespace capture_cli {

struct MonitorColour {
    bool hdr = false;
    float sdr_white_nits = 80.0f;  // what Windows assumes when it cannot be read
};

// The state of `monitor` (an HMONITOR): the mode from its DXGI output's colour space, the white from the display
// configuration, read in HDR mode only, as the capture library reads them.
MonitorColour monitor_colour(void *monitor);

}  // namespace capture_cli
