// What the command line asks for.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace capture_cli {

struct Options {
    std::optional<std::string> window;  // title or handle (Windows)
    std::optional<int32_t> monitor;     // index in the system's enumeration order (Windows)
    bool list = false;                  // print the windows and monitors one could capture, capture nothing
    bool deterministic = false;         // demo scene: one scene step per poll instead of its own clock
    int32_t scene_width = 1280;         // demo scene size
    int32_t scene_height = 720;
    bool cursor = false;
    bool border = false;
    bool texture = false;
    bool dirty_rect = false;
    int32_t pixel_format = 0;                      // a CORVO_WGC_FORMAT_*; 0 is BGRA8
    bool rects = false;                            // print and record the changed rectangles of each new frame
    int32_t adapter = 0;                           // a CORVO_WGC_ADAPTER_*; 0 is the preferred vendor's
    bool recover = false;                          // rebuild the device after a loss instead of ending the capture
    std::optional<std::array<int32_t, 4>> region;  // left, top, right, bottom of the part to capture
    bool client_area = false;                      // a window's client area only
    double min_interval_ms = 0;  // the shortest interval between frames the system may deliver; 0: its default
    int64_t frames = 0;          // 0: poll for `seconds`
    double seconds = 5.0;
    double fps = 30.0;
    std::string out;  // empty: no files
    int64_t every = 1;
    bool verbose = false;
};

// The options of argv, or nothing with the reason (or the help text) written once the caller should exit with
// `exit_code`.
std::optional<Options> parse_options(int argc, char **argv, int &exit_code);

}  // namespace capture_cli
