// corvo-capture: captures a window or monitor (Windows) or the built-in demo scene (elsewhere) through the
// library's exports, shows its progress, and writes a PNG (or, of FP16 frames, an HDR image) of each new frame and a
// summary.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <thread>

#include "corvo_wgc.h"
#include "tools/capture_cli/changed_rects.h"
#include "tools/capture_cli/hdr_writer.h"
#include "tools/capture_cli/options.h"
#include "tools/capture_cli/png_writer.h"
#include "tools/capture_cli/summary.h"
#include "tools/capture_cli/target_list.h"
#ifdef _WIN32
#include <io.h>

#include "tools/capture_cli/windows_target.h"
#else
#include <unistd.h>

#include "corvo_emu_d3d11.h"
#include "tools/capture_cli/demo_scene.h"
#endif

namespace capture_cli {
namespace {

using Clock = std::chrono::steady_clock;
using Session = std::unique_ptr<WgcSession, decltype(&wgc_session_destroy)>;

bool verbose = false;
std::string last_error;  // the library's latest failure line, which names the cause of a failed start

void log_line(int32_t level, const char *text, uint64_t length) {
    if (level == WGC_LOG_ERROR) last_error.assign(text, length);
    if (!verbose) return;
    const char *name = level == WGC_LOG_INFO ? "info" : level == WGC_LOG_WARNING ? "warning" : "error";
    std::fprintf(stderr, "[%s] %.*s\n", name, int(length), text);
}

int fail(const std::string &reason, int exit_code = 1) {
    std::fprintf(stderr, "corvo-capture: %s\n", reason.c_str());
    return exit_code;
}

bool stdout_is_terminal() {
#ifdef _WIN32
    return _isatty(_fileno(stdout)) != 0;
#else
    return isatty(STDOUT_FILENO) != 0;
#endif
}

std::string with_cause(const std::string &reason) {
    return last_error.empty() ? reason : reason + ": " + last_error;
}

void apply_switches(wgc_session session, const Options &o) {
    // A refused switch is no reason to stop: the capture runs without it.
    if (!wgc_enable_cursor(session, o.cursor))
        std::fputs("corvo-capture: the system cannot capture the cursor\n", stderr);
    if (!wgc_show_border(session, o.border))
        std::fputs("corvo-capture: the system cannot hide the border\n", stderr);
    wgc_set_capture_to_texture(session, o.texture);
    wgc_set_dirty_rect(session, o.dirty_rect);
    // Only when asked for, so that a run without --format logs what it always did.
    if (o.pixel_format != CORVO_WGC_FORMAT_BGRA8 && !wgc_set_pixel_format(session, o.pixel_format))
        std::fputs("corvo-capture: the library refused the pixel format\n", stderr);
    if (o.adapter != CORVO_WGC_ADAPTER_PREFERRED_VENDOR) wgc_set_adapter(session, o.adapter);
    if (o.recover) wgc_set_recovery(session, 1);
    if (o.client_area && !wgc_set_client_area(session, 1))
        std::fputs("corvo-capture: a monitor has no client area; capturing all of it\n", stderr);
    if (o.region) {
        const wgc_rect region{(*o.region)[0], (*o.region)[1], (*o.region)[2], (*o.region)[3]};
        wgc_set_region(session, &region);  // checked when the options were read
    }
    if (o.min_interval_ms > 0 && !wgc_set_min_update_interval(session, uint32_t(o.min_interval_ms * 1000)))
        std::fputs("corvo-capture: the system cannot set a minimum interval between frames\n", stderr);
}

// The rectangles as summary.json records them: null for the whole frame, else [[left, top, right, bottom]...].
std::string json_of(const ChangedRects &changed) {
    if (changed.count < 0) return "null";
    std::string out = "[";
    for (const wgc_rect &r : changed.rects)
        out += (out.size() > 1 ? ", [" : "[") + std::to_string(r.left) + ", " + std::to_string(r.top) + ", " +
               std::to_string(r.right) + ", " + std::to_string(r.bottom) + "]";
    return out + "]";
}

// One line of progress: rewritten in place on a terminal, else a new line.
void show_progress(const Summary &summary, bool terminal) {
    std::printf("%spolled %lld, new %lld, skipped %lld%s", terminal ? "\r" : "", (long long)summary.polls(),
                (long long)summary.new_frames(), (long long)summary.skipped(), terminal ? "" : "\n");
    std::fflush(stdout);
}

int capture(const Options &o) {
    verbose = o.verbose;
    wgc_register_logger(log_line);
    std::ofstream summary_file;
    if (!o.out.empty()) {
        std::error_code error;
        std::filesystem::create_directories(o.out, error);
        if (error) return fail("cannot create " + o.out + ": " + error.message(), 2);
        summary_file.open(o.out + "/summary.json");
        if (!summary_file) return fail("cannot write to " + o.out, 2);
    }

#ifdef _WIN32
    std::string reason;
    Session session(create_windows_session(o, reason), wgc_session_destroy);
    if (!reason.empty()) return fail(reason);
#else
    DemoScene scene(o.scene_width, o.scene_height);
    Session session(wgc_session_create(scene.window()), wgc_session_destroy);
#endif
    if (!session) return fail(with_cause("could not create a capture session"));
    apply_switches(session.get(), o);
    if (!wgc_session_start(session.get())) return fail(with_cause("the capture did not start"));
#ifndef _WIN32
    std::optional<Compositor> compositor;
    if (!o.deterministic) compositor.emplace(scene);
#endif

    Summary summary;
    const bool terminal = stdout_is_terminal();
    const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / o.fps));
    const auto start = Clock::now();
    auto next = start;
    auto last_line = start;
    int64_t written = 0;
    while (o.frames ? summary.polls() < o.frames : Clock::now() - start < std::chrono::duration<double>(o.seconds)) {
#ifndef _WIN32
        if (o.deterministic) scene.present_next_step();
#endif
        void *frame = nullptr;
        int32_t width = 0, height = 0;
        uint8_t cursor = 0;
        const auto poll_start = Clock::now();
        const bool got = wgc_get_recent_frame(session.get(), &frame, 0, &width, &height, &cursor) != 0;
        const double poll_seconds = std::chrono::duration<double>(Clock::now() - poll_start).count();
        const float ratio = wgc_get_update_ratio(session.get());
        if (!wgc_get_status(session.get()))
            return fail(last_error.empty() ? "the target closed" : with_cause("the capture ended"));
        const bool is_new = got && ratio > 0;
        wgc_frame_info info{};
        info.size = sizeof info;
        if (wgc_get_frame_info(session.get(), &info) && info.is_new)
            summary.add_frame(summary.polls(), info.frame_number, info.system_time, info.device_generation);
        const bool fp16 = got && info.bytes_per_pixel == 8;
        // In buffer mode a new frame's changed part is copied to the CPU (all of it without detection); an
        // unchanged frame is not copied.
        const ChangedRects changed = is_new ? read_changed_rects(session.get()) : ChangedRects{};
        summary.add_poll(ratio, is_new && !o.texture ? changed_pixels(changed, width, height) * (fp16 ? 8 : 4) : 0,
                         poll_seconds);
        if (is_new && o.rects) {
            std::printf("%spoll %lld: %s\n", terminal ? "\r" : "", (long long)summary.polls() - 1,
                        describe(changed).c_str());
            summary.add_changed_rects(summary.polls() - 1, json_of(changed));
        }
        if (got && o.texture) static_cast<ID3D11Texture2D *>(frame)->Release();
        if (is_new && !o.texture && !o.out.empty() && summary.new_frames() % o.every == 0) {
            char name[48];
            std::snprintf(name, sizeof name, "/frame-%06lld", (long long)summary.polls() - 1);
            const auto *pixels = static_cast<const uint8_t *>(frame);
            std::string problem =
                fp16 ? write_hdr(o.out + name + kHdrExtension, static_cast<const uint16_t *>(frame), width, height)
                     : write_png(o.out + name + ".png", pixels, width, height);
            if (problem.empty() && o.rects && !fp16) {
                std::snprintf(name, sizeof name, "/frame-%06lld-rects.png", (long long)summary.polls() - 1);
                problem = write_png(o.out + name, outlined(pixels, width, height, changed).data(), width, height);
            }
            if (!problem.empty()) return fail(problem);
            ++written;
        }
        // Plain lines go to logs and pipes, so about one a second is enough there.
        if (terminal || Clock::now() - last_line >= std::chrono::seconds(1)) {
            show_progress(summary, terminal);
            last_line = Clock::now();
        }
        // Polls that ran late are made up by the next ones coming early, but the schedule never falls more than
        // a few periods behind: after a slow stretch, no long burst of polls to catch up.
        next = std::max(next + period, Clock::now() - 4 * period);
        std::this_thread::sleep_until(next);
    }
    summary.set_seconds(std::chrono::duration<double>(Clock::now() - start).count());

    std::printf("%s%s", terminal ? "\n" : "", summary.text().c_str());
    if (!o.out.empty()) {
        summary_file << summary.json();
        summary_file.close();
        if (!summary_file) return fail("cannot write " + o.out + "/summary.json");
        if (o.pixel_format == CORVO_WGC_FORMAT_FP16)
            std::printf("wrote %lld %s files and summary.json to %s\n", (long long)written, kHdrExtension,
                        o.out.c_str());
        else
            std::printf("wrote %lld PNGs and summary.json to %s\n", (long long)written, o.out.c_str());
    }
    return 0;
}

// --list: what one could capture; outside Windows the demo scene's window, as a capture would make it.
int list([[maybe_unused]] const Options &o) {
#ifndef _WIN32
    const DemoScene scene(o.scene_width, o.scene_height);
#endif
    std::fputs(list_text(list_targets()).c_str(), stdout);
    return 0;
}

}  // namespace
}  // namespace capture_cli

int main(int argc, char **argv) {
    int exit_code = 0;
    const auto options = capture_cli::parse_options(argc, argv, exit_code);
    if (!options) return exit_code;
    return options->list ? capture_cli::list(*options) : capture_cli::capture(*options);
}
