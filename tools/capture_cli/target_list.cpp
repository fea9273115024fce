#include "tools/capture_cli/target_list.h"

#include <algorithm>
#include <cstdio>

namespace capture_cli {
namespace {

char fold(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

std::string counted(size_t count, const char *noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? ":" : "s:");
}

}  // namespace

std::string window_line(const ListedWindow &window) {
    char line[64];
    std::snprintf(line, sizeof line, "  0x%llx %dx%d \"", static_cast<unsigned long long>(window.handle),
                  window.width, window.height);
    return line + window.title + "\"\n";
}

std::string list_text(const TargetList &targets) {
    std::string text = counted(targets.windows.size(), "window") + "\n";
    for (const ListedWindow &window : targets.windows) text += window_line(window);
    text += counted(targets.monitors.size(), "monitor") + "\n";
    for (size_t i = 0; i < targets.monitors.size(); ++i) {
        const ListedMonitor &m = targets.monitors[i];
        char line[128];
        const int length = std::snprintf(line, sizeof line, "  %zu at %d,%d %dx%d", i, m.x, m.y, m.width, m.height);
        if (m.hdr)
            std::snprintf(line + length, sizeof line - size_t(length), " HDR, SDR white %g nits\n",
                          double(m.sdr_white_nits));
        else
            std::snprintf(line + length, sizeof line - size_t(length), " SDR\n");
        text += line;
    }
    return text;
}

std::vector<ListedWindow> windows_titled(const std::vector<ListedWindow> &windows, const std::string &part) {
    std::vector<ListedWindow> found;
    const auto same = [](char a, char b) { return fold(a) == fold(b); };
    for (const ListedWindow &window : windows)
        if (std::search(window.title.begin(), window.title.end(), part.begin(), part.end(), same) !=
            window.title.end())
            found.push_back(window);
    return found;
}

}  // namespace capture_cli
