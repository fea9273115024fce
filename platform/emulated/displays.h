// The monitors as the system arranges them: side by side from (0, 0), left to right in the order they were made,
// the first the primary; which monitor a window is on; and the generation of the display configuration, which a
// DXGI factory compares with the one it was made in.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/emulated/targets.h"

namespace corvo::emu {

struct Monitor {
    void *handle = nullptr;  // null when there is none
    std::shared_ptr<Target> target;
    RECT rect{};
    bool primary = false;
};

// The open monitors, in order.
std::vector<Monitor> monitors();
// The open monitor of that handle, or none.
Monitor monitor_named(const void *handle);
// MonitorFromWindow's answer for a window: the monitor it overlaps most, else what `flags` asks for (the nearest,
// the primary or none).
Monitor monitor_of(const Target &window, DWORD flags);
// How the pixels of a target are shown: by the monitor itself, or by the monitor a window is on; as on an SDR
// monitor where there is none.
Display display_of(const Target &target);

uint64_t display_generation();
// Monitors came or went, changed size or HDR mode: DXGI factories made before are no longer current.
void display_changed();

// The GDI name of monitor `number`: \\.\DISPLAYn.
void device_name(uint32_t number, WCHAR (&name)[32]);

}  // namespace corvo::emu
