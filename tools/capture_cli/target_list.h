// The windows and monitors one could capture: what --list prints and what --window matches a part of a title in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace capture_cli {

struct ListedWindow {
    uintptr_t handle;
    std::string title;  // UTF-8
    int32_t width, height;
};

struct ListedMonitor {  // its index is its place in the list, as --monitor takes it
    int32_t x, y, width, height;
    bool hdr = false;
    float sdr_white_nits = 80.0f;  // read in HDR mode only
};

struct TargetList {
    std::vector<ListedWindow> windows;
    std::vector<ListedMonitor> monitors;
};

// The system's windows that are visible, titled, not cloaked and not minimised, and its monitors, in the
// system's order (on Linux the emulated targets: the demo scene's window once it exists).
TargetList list_targets();
// --list's text: a line per window (handle, size, title) and per monitor (index, position, size, HDR mode and SDR
// white, or SDR).
std::string list_text(const TargetList &targets);
std::string window_line(const ListedWindow &window);
// The windows whose title contains `part`, ASCII letters compared without case.
std::vector<ListedWindow> windows_titled(const std::vector<ListedWindow> &windows, const std::string &part);

}  // namespace capture_cli
