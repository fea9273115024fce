#include "tools/capture_cli/options.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <map>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "corvo_wgc.h"

#ifndef _WIN32
#include "tools/capture_cli/demo_scene.h"
#endif

namespace capture_cli {
namespace {

std::string shown(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", value);
    return text;
}

// A number the capture can honour: finite, within [min, max] (above min where `above_min`), and written as
// digits alone where it must be whole. CLI11's own checks let NaN through and state the type's whole range;
// this one says what is wanted.
CLI::Validator number(double min, double max, bool above_min, bool whole) {
    return CLI::Validator(
        [=](const std::string &text) -> std::string {
            if (whole && (text.empty() || text.find_first_not_of("0123456789") != std::string::npos))
                return "must be a whole number";
            char *end = nullptr;
            const double value = std::strtod(text.c_str(), &end);
            if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])) ||
                end != text.c_str() + text.size())
                return "must be a number";
            if (!std::isfinite(value)) return "must be a finite number";
            if (above_min && value <= min) return "must be greater than " + shown(min);
            if (value < min) return "must be at least " + shown(min);
            if (value > max) return "must be at most " + shown(max);
            return {};
        },
        "NUMBER");
}

constexpr double kMaxCount = 1e12;  // polls, or frames between two PNGs

#ifndef _WIN32
// One side of WIDTHxHEIGHT: digits alone, within the sizes the demo scene can draw.
bool parse_side(const char *begin, const char *end, int min, int &side) {
    const auto [rest, error] = std::from_chars(begin, end, side);
    return begin != end && error == std::errc() && rest == end && side >= min && side <= DemoScene::kMaxSide;
}

bool parse_size(const std::string &text, Options &o) {
    const size_t x = text.find('x');
    if (x == std::string::npos) return false;
    int width = 0, height = 0;
    const char *begin = text.data(), *end = text.data() + text.size();
    if (!parse_side(begin, begin + x, DemoScene::kMinWidth, width) ||
        !parse_side(begin + x + 1, end, DemoScene::kMinHeight, height))
        return false;
    o.scene_width = width;
    o.scene_height = height;
    return true;
}
#endif

// "L,T,R,B": four integers with 0 <= L < R and 0 <= T < B.
bool parse_region(const std::string &text, Options &o) {
    std::array<int32_t, 4> sides{};
    const char *at = text.data(), *end = text.data() + text.size();
    for (size_t i = 0; i < sides.size(); ++i) {
        const auto [next, error] = std::from_chars(at, end, sides[i]);
        if (error != std::errc() || next == at || (i < 3 ? next == end || *next != ',' : next != end)) return false;
        at = next + 1;
    }
    if (sides[0] < 0 || sides[1] < 0 || sides[2] <= sides[0] || sides[3] <= sides[1]) return false;
    o.region = sides;
    return true;
}

void add_options(CLI::App &app, Options &o) {
    app.add_option("--window", o.window,
                   "Capture the window with this title, this handle (0x...), or the one window whose title contains "
                   "it (letters of any case); Windows only");
    app.add_option("--monitor", o.monitor, "Capture the monitor with this index, from 0; Windows only")
        ->check(number(0, 2147483647, false, true))
        ->excludes("--window");
#ifndef _WIN32
    app.add_flag("--deterministic", o.deterministic,
                 "Demo scene: advance one scene step before each poll instead of on the scene's own clock");
    const std::string sizes =
        std::to_string(DemoScene::kMinWidth) + "x" + std::to_string(DemoScene::kMinHeight) + " to " +
        std::to_string(DemoScene::kMaxSide) + "x" + std::to_string(DemoScene::kMaxSide);
    app.add_option_function<std::string>(
           "--size",
           [&o, sizes](const std::string &text) {
               if (!parse_size(text, o)) throw CLI::ValidationError("--size", "WIDTHxHEIGHT from " + sizes);
           },
           "Demo scene: its size in pixels, WIDTHxHEIGHT (default 1280x720)")
        ->type_name("WxH");
#endif
    app.add_flag("--cursor", o.cursor, "Capture the cursor");
    app.add_flag("--border", o.border, "Show the capture border (hidden by default where the system allows)");
    app.add_flag("--texture", o.texture, "Take frames as Direct3D 11 textures instead of CPU buffers (no PNGs)");
    app.add_flag("--dirty-rect", o.dirty_rect, "Detect changes on the GPU and skip unchanged frames");
    app.add_flag("--rects", o.rects,
                 "Print and record where each new frame changed; with --out also a PNG with them outlined (8-bit "
                 "frames)");
    app.add_option_function<std::string>(
           "--region",
           [&o](const std::string &text) {
               if (!parse_region(text, o))
                   throw CLI::ValidationError("--region", "L,T,R,B with 0 <= L < R and 0 <= T < B");
           },
           "Capture only this rectangle of the target (of its client area with --client-area), right and bottom "
           "exclusive; frames, changes and --rects are the region's")
        ->type_name("L,T,R,B");
    app.add_flag("--client-area", o.client_area,
                 "Capture only the window's client area, without title bar and borders");
    const std::map<std::string, int32_t> formats{{"bgra8", CORVO_WGC_FORMAT_BGRA8},
                                                 {"sdr-from-hdr", CORVO_WGC_FORMAT_SDR_FROM_HDR},
                                                 {"fp16", CORVO_WGC_FORMAT_FP16}};
    app.add_option("--format", o.pixel_format,
                   "What frames hold: bgra8 as the system converts them (default), sdr-from-hdr (8-bit, made by the "
                   "library from an HDR monitor's frames without clipping highlights), or fp16 (the HDR frames, "
                   "written as half-float images)")
        ->transform(CLI::CheckedTransformer(formats))
        ->type_name("FORMAT");
    const std::map<std::string, int32_t> adapters{{"preferred", CORVO_WGC_ADAPTER_PREFERRED_VENDOR},
                                                  {"target", CORVO_WGC_ADAPTER_OF_TARGET}};
    app.add_option("--adapter", o.adapter,
                   "The adapter to capture on: preferred (the first of vendor 0x10DE, else the first; the default) "
                   "or target (the one whose output shows the target)")
        ->transform(CLI::CheckedTransformer(adapters));
    app.add_flag("--recover", o.recover, "After a device loss, rebuild the device and go on capturing");
    app.add_option("--min-interval", o.min_interval_ms,
                   "Let the system deliver a frame at most every MS milliseconds (default: its own limit)")
        ->check(number(0, 4294967, false, false));  // microseconds in 32 bits
    auto *frames =
        app.add_option("--frames", o.frames, "Poll this many times")->check(number(0, kMaxCount, true, true));
    app.add_option("--seconds", o.seconds, "Poll for this long (default 5)")
        ->check(number(0, 1e9, true, false))
        ->excludes(frames);
    // A period from 1000 s to 1 us, which the clock holds.
    app.add_option("--fps", o.fps, "Polls per second (default 30)")->check(number(0.001, 1e6, false, false));
    app.add_option(
        "--out", o.out,
        "Write a PNG of each new frame (an HDR image with --format fp16) and summary.json to this folder");
    app.add_option("--every", o.every, "Write only every Nth new frame")->check(number(0, kMaxCount, true, true));
    app.add_flag("--verbose", o.verbose, "Show the library's log lines with their level");
    app.add_flag("--list", o.list,
                 "Print the windows (handle, size, title) and monitors (index, position, size, HDR or SDR and SDR "
                 "white) one could capture, then exit")
        ->excludes("--window", "--monitor");
}

}  // namespace

std::optional<Options> parse_options(int argc, char **argv, int &exit_code) {
    CLI::App app{"Captures a window or monitor with libcorvo-wgc and reports how much of each frame changed.",
                 "corvo-capture"};
    Options o;
    add_options(app, o);
    app.set_version_flag("--version", "corvo-capture " CORVO_CAPTURE_VERSION);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &) {
        std::fputs(app.help().c_str(), stdout);
        exit_code = 0;
        return std::nullopt;
    } catch (const CLI::CallForVersion &version) {  // before ParseError, of which it is one
        std::printf("%s\n", version.what());
        exit_code = 0;
        return std::nullopt;
    } catch (const CLI::ParseError &error) {
        std::fprintf(stderr, "corvo-capture: %s\n", error.what());
        exit_code = 2;
        return std::nullopt;
    }
#ifndef _WIN32
    // The option is declared on every build so that the reason names it instead of calling it unknown.
    if (o.window || o.monitor) {
        std::fprintf(stderr, "corvo-capture: --%s needs a Windows build; this build captures the demo scene\n",
                     o.window ? "window" : "monitor");
        exit_code = 2;
        return std::nullopt;
    }
#else
    if (!o.window && !o.monitor && !o.list) {
        std::fputs("corvo-capture: choose a target with --window TITLE|HANDLE or --monitor INDEX, or --list\n",
                   stderr);
        exit_code = 2;
        return std::nullopt;
    }
#endif
    return o;
}

}  // namespace capture_cli
