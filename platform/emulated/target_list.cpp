// Window titles and the list of open targets: what the system's window and monitor enumeration tells hosts.
#include <cstring>
#include <string>

#include "corvo_emu.h"
#include "platform/emulated/targets.h"

using namespace corvo::emu;

namespace {

// The bytes of `title` that fit `capacity` - 1, ending on a whole UTF-8 character.
size_t fitting_length(const std::string &title, size_t capacity) {
    if (title.size() < capacity) return title.size();
    size_t length = capacity - 1;
    while (length > 0 && (static_cast<unsigned char>(title[length]) & 0xC0) == 0x80) --length;
    return length;
}

}  // namespace

extern "C" {

void corvo_emu_set_title(HWND window, const char *utf8) {
    try {
        auto target = find_target(window);
        if (target && target->kind == Target::Kind::window) target->set_title(utf8 ? utf8 : "");
    } catch (...) {
        // Out of memory: the title stays as it was.
    }
}

int32_t corvo_emu_list_targets(corvo_emu_target *out, int32_t capacity) {
    try {
        int32_t count = 0, monitor_x = 0;
        for (const auto &[handle, target] : all_targets()) {
            if (target->closed()) continue;
            const auto size = target->size();
            const bool monitor = target->kind == Target::Kind::monitor;
            if (out && count < capacity) {
                const POINT at = monitor ? POINT{monitor_x, 0} : target->position();
                corvo_emu_target &entry = out[count];
                entry = corvo_emu_target{handle, monitor, at.x, at.y, size.Width, size.Height, {}};
                const std::string title = target->title();
                std::memcpy(entry.title, title.data(), fitting_length(title, sizeof entry.title));
            }
            if (monitor) monitor_x += size.Width;
            ++count;
        }
        return count;
    } catch (...) {
        return 0;  // out of memory: nothing listed
    }
}

}  // extern "C"
