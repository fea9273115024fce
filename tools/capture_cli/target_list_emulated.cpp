// The emulated system's targets (non-Windows builds).
#include <algorithm>

#include "corvo_emu.h"
#include "corvo_emu_window.h"
#include "session/monitor_colour.h"
#include "tools/capture_cli/target_list.h"

namespace capture_cli {

TargetList list_targets() {
    std::vector<corvo_emu_target> entries(size_t(corvo_emu_list_targets(nullptr, 0)));
    const int32_t count = corvo_emu_list_targets(entries.data(), int32_t(entries.size()));
    entries.resize(std::min(entries.size(), size_t(count)));  // fewer when one closed in between
    TargetList list;
    for (const corvo_emu_target &t : entries) {
        if (t.is_monitor) {
            corvo::MonitorColour reader;  // as the library reads it
            const corvo::MonitorState &colour = reader.look(nullptr, static_cast<HMONITOR>(t.handle));
            list.monitors.push_back({t.x, t.y, t.width, t.height, colour.hdr, colour.sdr_white_nits});
        } else if (t.title[0] != '\0' && !IsIconic(static_cast<HWND>(t.handle))) {
            // As on Windows, untitled and minimised windows are not offered.
            list.windows.push_back({reinterpret_cast<uintptr_t>(t.handle), t.title, t.width, t.height});
        }
    }
    return list;
}

}  // namespace capture_cli
