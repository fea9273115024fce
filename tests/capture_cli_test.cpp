// corvo-capture run as a program on the demo scene: what summary.json and the PNGs say about each poll, and the
// one-line reasons for bad arguments.
#include <ImfRgbaFile.h>
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "corvo_emu.h"
#include "tools/capture_cli/demo_scene.h"
#include "tools/capture_cli/target_list.h"

namespace {

namespace fs = std::filesystem;
using capture_cli::DemoScene;

struct Outcome {
    int exit_code = -1;
    std::string output;  // stdout and stderr together
};

Outcome run_capture(const std::string &arguments) {
    Outcome run;
    FILE *pipe = popen((std::string(CORVO_CAPTURE) + " " + arguments + " 2>&1").c_str(), "r");
    if (!pipe) return run;
    char chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) run.output.append(chunk, n);
    const int status = pclose(pipe);
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    // The emulated device tells each call the Direct3D 11 runtime would refuse on stderr.
    EXPECT_EQ(run.output.find("corvo-emu: validation error"), std::string::npos) << run.output;
    return run;
}

std::string read_file(const fs::path &path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// The number after "name": in summary.json.
double field(const std::string &json, const std::string &name) {
    const size_t at = json.find("\"" + name + "\":");
    return at == std::string::npos ? -1 : std::strtod(json.c_str() + at + name.size() + 3, nullptr);
}

std::vector<float> ratios(const std::string &json) {
    std::vector<float> values;
    const size_t at = json.find("\"ratios\": [");
    if (at == std::string::npos) return values;
    const char *p = json.c_str() + at + 11;
    for (char *end; *p != ']'; p = end + (*end == ',')) {
        values.push_back(std::strtof(p, &end));
        if (end == p) break;
    }
    return values;
}

struct Picture {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rgba;
};

Picture decode_png(const fs::path &path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    Picture picture;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return picture;
    image.format = PNG_FORMAT_RGBA;
    picture.rgba.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, picture.rgba.data(), 0, nullptr)) return picture;
    picture.width = image.width;
    picture.height = image.height;
    return picture;
}

std::string frame_name(size_t poll) {
    char name[32];
    std::snprintf(name, sizeof name, "frame-%06zu.png", poll);
    return name;
}

// A bad invocation ends with exit code 2 and one line that names the problem.
void expect_refused(const std::string &arguments, const std::string &named) {
    const Outcome run = run_capture(arguments);
    EXPECT_EQ(run.exit_code, 2) << arguments;
    EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << run.output;
    EXPECT_EQ(run.output.rfind("corvo-capture: ", 0), 0u) << run.output;
    EXPECT_NE(run.output.find(named), std::string::npos) << run.output;
}

class CaptureCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The process id keeps runs of several checkouts at once out of each other's folders.
        dir = fs::path(::testing::TempDir()) /
              ("corvo-capture-" + std::to_string(getpid()) + "-" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    fs::path dir;
};

TEST_F(CaptureCliTest, DemoSceneRatiosTellClockTicksTileMovesAndUnchangedFrames) {
    const Outcome run = run_capture("--deterministic --frames 25 --fps 1000 --dirty-rect --out " + dir.string());
    ASSERT_EQ(run.exit_code, 0) << run.output;
    const std::string json = read_file(dir / "summary.json");
    const std::vector<float> r = ratios(json);
    ASSERT_EQ(r.size(), 25u) << json;

    // One scene step per poll: the clock ticks at every whole scene second, the tile moves in the second half of
    // each second, and nothing changes in between.
    EXPECT_EQ(r[0], 1.0f);  // the first frame is new as a whole
    int unchanged = 0;
    for (size_t poll = 1; poll < r.size(); ++poll) {
        const int64_t phase = int64_t(poll) % DemoScene::kStepsPerSecond;
        if (phase == 0) {
            EXPECT_GT(r[poll], 0.0f) << "clock tick at poll " << poll;
            EXPECT_LT(r[poll], 0.05f) << "clock tick at poll " << poll;
        } else if (phase >= DemoScene::kStepsPerSecond / 2) {
            EXPECT_GT(r[poll], 0.05f) << "tile move at poll " << poll;
        } else {
            EXPECT_EQ(r[poll], 0.0f) << "unchanged at poll " << poll;
            ++unchanged;
        }
    }
    EXPECT_EQ(field(json, "frames_polled"), 25);
    EXPECT_EQ(field(json, "skipped_unchanged"), unchanged);
    EXPECT_EQ(field(json, "new_frames"), 25 - unchanged);
    // Each step presents a frame, changed or not: every poll hands out the next one.
    EXPECT_NE(json.find("{\"poll\": 0, \"number\": 1, \"system_time\": "), std::string::npos) << json;
    EXPECT_NE(json.find("{\"poll\": 24, \"number\": 25, \"system_time\": "), std::string::npos) << json;
    // Rates over the run's time, and poll times that are ordered and fit in it.
    const double seconds = field(json, "seconds");
    ASSERT_GT(seconds, 0.0) << json;
    // The rates have one decimal, the seconds three.
    const double slack = 0.051 + 25 * 0.0005 / (seconds * seconds);
    EXPECT_NEAR(field(json, "new_frames_per_second"), (25 - unchanged) / seconds, slack) << json;
    EXPECT_NEAR(field(json, "polls_per_second"), 25 / seconds, slack) << json;
    const double median = field(json, "median"), p99 = field(json, "p99");
    EXPECT_GT(median, 0.0) << json;
    EXPECT_GE(p99, median) << json;
    EXPECT_LE(p99, seconds * 1e3) << json;
    // The first frame whole, then only what changed: a clock tick or a tile's path, not whole frames.
    const double frame_bytes = double(DemoScene::kWidth) * DemoScene::kHeight * 4;
    EXPECT_GT(field(json, "bytes_copied"), frame_bytes);
    EXPECT_LT(field(json, "bytes_copied"), frame_bytes + (25 - unchanged - 1) * frame_bytes / 4);

    // A PNG of each new frame, none of a skipped one.
    for (size_t poll = 0; poll < r.size(); ++poll) {
        const fs::path png = dir / frame_name(poll);
        ASSERT_EQ(fs::exists(png), r[poll] > 0) << png;
        if (r[poll] == 0) continue;
        const Picture picture = decode_png(png);
        EXPECT_EQ(picture.width, uint32_t(DemoScene::kWidth)) << png;
        EXPECT_EQ(picture.height, uint32_t(DemoScene::kHeight)) << png;
    }
}

TEST_F(CaptureCliTest, PngHoldsTheSceneInRgbaOrder) {
    const Outcome run = run_capture("--deterministic --frames 1 --out " + dir.string());
    ASSERT_EQ(run.exit_code, 0) << run.output;
    const Picture picture = decode_png(dir / frame_name(0));
    ASSERT_EQ(picture.width, uint32_t(DemoScene::kWidth));
    // The tile starts at (40, 80) with a light orange stripe: R 250, G 160, B 40.
    const uint8_t *pixel = &picture.rgba[(size_t(80) * picture.width + 40) * 4];
    EXPECT_EQ(int(pixel[0]), 250);
    EXPECT_EQ(int(pixel[1]), 160);
    EXPECT_EQ(int(pixel[2]), 40);
    EXPECT_EQ(int(pixel[3]), 255);
}

TEST_F(CaptureCliTest, DemoSceneTakesTheSizeAsked) {
    const Outcome run =
        run_capture("--size 1920x1080 --deterministic --frames 6 --fps 1000 --dirty-rect --out " + dir.string());
    ASSERT_EQ(run.exit_code, 0) << run.output;
    const std::string json = read_file(dir / "summary.json");
    // The first frame and the tile move at step 5 are new; steps 1 to 4 change nothing.
    EXPECT_EQ(field(json, "new_frames"), 2);
    // The first frame whole, then the tile's old and new place only.
    EXPECT_GT(field(json, "bytes_copied"), 1920.0 * 1080 * 4);
    EXPECT_LT(field(json, "bytes_copied"), 1.5 * 1920.0 * 1080 * 4);
    const Picture picture = decode_png(dir / frame_name(0));
    ASSERT_EQ(picture.width, 1920u);
    ASSERT_EQ(picture.height, 1080u);
    // The clock's first glyph, a 0, has its top-left block 16 + 5 * 16 pixels from the right edge.
    const uint8_t *clock = &picture.rgba[(size_t(1080 - 40 + 10) * 1920 + 1920 - 96) * 4];
    EXPECT_EQ(int(clock[0]), 240);
    EXPECT_EQ(int(clock[1]), 240);
}

TEST_F(CaptureCliTest, EveryNthNewFrameIsWritten) {
    // Without detection every presented frame is new as a whole.
    const Outcome run = run_capture("--deterministic --frames 8 --fps 1000 --every 3 --out " + dir.string());
    ASSERT_EQ(run.exit_code, 0) << run.output;
    const std::string json = read_file(dir / "summary.json");
    EXPECT_EQ(field(json, "new_frames"), 8);
    EXPECT_EQ(field(json, "skipped_unchanged"), 0);
    for (size_t poll = 0; poll < 8; ++poll) EXPECT_EQ(fs::exists(dir / frame_name(poll)), poll % 3 == 2) << poll;
}

TEST_F(CaptureCliTest, RectsArePrintedRecordedAndOutlined) {
    const Outcome run =
        run_capture("--deterministic --frames 11 --fps 1000 --dirty-rect --rects --out " + dir.string());
    ASSERT_EQ(run.exit_code, 0) << run.output;
    EXPECT_NE(run.output.find("poll 0: whole frame"), std::string::npos) << run.output;
    // Poll 10 is the clock's tick: the bottom-right corner of the scene.
    const std::string tick = "poll 10: 1 changed: 1248,672-1280,720";
    EXPECT_NE(run.output.find(tick), std::string::npos) << run.output;
    const std::string json = read_file(dir / "summary.json");
    EXPECT_NE(json.find("{\"poll\": 0, \"rects\": null}"), std::string::npos) << json;
    EXPECT_NE(json.find("{\"poll\": 10, \"rects\": [[1248, 672, 1280, 720]]}"), std::string::npos) << json;
    // The outlined copy differs from the frame on the rectangles' edges only.
    const Picture frame = decode_png(dir / frame_name(10));
    const Picture outlined = decode_png(dir / "frame-000010-rects.png");
    ASSERT_EQ(outlined.rgba.size(), frame.rgba.size());
    const uint8_t *corner = &outlined.rgba[(size_t(672) * outlined.width + 1248) * 4];
    EXPECT_EQ(std::vector<uint8_t>(corner, corner + 4), (std::vector<uint8_t>{255, 0, 255, 255}));
    EXPECT_EQ(std::vector<uint8_t>(outlined.rgba.begin(), outlined.rgba.begin() + 4000),
              std::vector<uint8_t>(frame.rgba.begin(), frame.rgba.begin() + 4000));
}

// The clock's corner as a region: 256 x 256 pictures, the tick's rectangle in cells counted from the region's
// top-left (the clock's digits lie below its row 224), and the tile's moves outside it no change at all.
TEST_F(CaptureCliTest, ARegionsPicturesAndRectsAreTheRegions) {
    const Outcome run = run_capture(
        "--deterministic --frames 11 --fps 1000 --dirty-rect --rects --region "
        "1024,464,1280,720 --out " +
        dir.string());
    ASSERT_EQ(run.exit_code, 0) << run.output;
    EXPECT_NE(run.output.find("poll 10: 1 changed: 224,224-256,256"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("poll 5:"), std::string::npos) << run.output;
    const Picture frame = decode_png(dir / frame_name(10));
    EXPECT_EQ(frame.width, 256u);
    EXPECT_EQ(frame.rgba.size(), size_t(256) * 256 * 4);
}

double srgb_decode(int level) {
    const double c = level / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

TEST_F(CaptureCliTest, EachFormatWritesItsPictures) {
    // The demo scene's window is on no monitor: SDR, so FP16 frames hold its pixels decoded, white at 1.0.
    const Outcome fp16 = run_capture("--deterministic --frames 2 --fps 1000 --format fp16 --out " + dir.string());
    ASSERT_EQ(fp16.exit_code, 0) << fp16.output;
    EXPECT_NE(fp16.output.find("wrote 2 .exr files"), std::string::npos) << fp16.output;
    EXPECT_FALSE(fs::exists(dir / frame_name(0)));
    EXPECT_EQ(field(read_file(dir / "summary.json"), "bytes_copied"),
              2.0 * DemoScene::kWidth * DemoScene::kHeight * 8);
    Imf::RgbaInputFile file((dir / "frame-000000.exr").c_str());
    const Imath::Box2i window = file.dataWindow();
    ASSERT_EQ(window.max.x + 1, DemoScene::kWidth);
    ASSERT_EQ(window.max.y + 1, DemoScene::kHeight);
    std::vector<Imf::Rgba> pixels(size_t(DemoScene::kWidth) * DemoScene::kHeight);
    file.setFrameBuffer(pixels.data(), 1, DemoScene::kWidth);
    file.readPixels(0, DemoScene::kHeight - 1);
    // The tile's light orange stripe at (40, 80): R 250, G 160, B 40; within one FP16 step.
    const Imf::Rgba &tile = pixels[size_t(80) * DemoScene::kWidth + 40];
    EXPECT_NEAR(float(tile.r), srgb_decode(250), srgb_decode(250) / 1024);
    EXPECT_NEAR(float(tile.g), srgb_decode(160), srgb_decode(160) / 1024);
    EXPECT_NEAR(float(tile.b), srgb_decode(40), srgb_decode(40) / 1024);
    EXPECT_EQ(float(tile.a), 1.0f);

    // On an SDR monitor the library's own conversion is the system's: the same PNG as bgra8.
    fs::remove_all(dir);
    const Outcome sdr = run_capture("--deterministic --frames 1 --format sdr-from-hdr --out " + dir.string());
    ASSERT_EQ(sdr.exit_code, 0) << sdr.output;
    const Picture picture = decode_png(dir / frame_name(0));
    ASSERT_EQ(picture.width, uint32_t(DemoScene::kWidth));
    const uint8_t *pixel = &picture.rgba[(size_t(80) * picture.width + 40) * 4];
    EXPECT_EQ(std::vector<int>(pixel, pixel + 4), (std::vector<int>{250, 160, 40, 255}));

    expect_refused("--frames 1 --format fp32", "--format");
    const Outcome verbose = run_capture("--deterministic --frames 1 --verbose");
    EXPECT_EQ(verbose.output.find("pixel format"), std::string::npos) << "not asked for, not set";
}

TEST_F(CaptureCliTest, MinimumIntervalIsAcceptedAndCheckedForRange) {
    const Outcome run = run_capture("--deterministic --frames 2 --min-interval 8 --verbose");
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_NE(run.output.find("[info] Wgc min update interval 8000us"), std::string::npos) << run.output;
    expect_refused("--frames 1 --min-interval -3", "--min-interval");
}

TEST_F(CaptureCliTest, TextureModeCopiesNothingToTheCpu) {
    const Outcome run = run_capture("--deterministic --frames 3 --fps 1000 --texture --out " + dir.string());
    ASSERT_EQ(run.exit_code, 0) << run.output;
    const std::string json = read_file(dir / "summary.json");
    EXPECT_EQ(field(json, "new_frames"), 3);
    EXPECT_EQ(field(json, "bytes_copied"), 0);
    EXPECT_FALSE(fs::exists(dir / frame_name(0)));
}

TEST_F(CaptureCliTest, BadArgumentsAreRefusedWithOneLine) {
    expect_refused("--frames 2 --bogus", "--bogus");
    expect_refused("--frames 0", "--frames: must be greater than 0");
    expect_refused("--fps -1", "--fps: must be at least 0.001");
    expect_refused("--frames 2 --seconds 1", "--seconds");
    expect_refused("--window Editor", "--window needs a Windows build");
    expect_refused("--monitor 0", "--monitor needs a Windows build");
    expect_refused("--frames 1 --size 639x480", "--size: WIDTHxHEIGHT from 640x480");
    expect_refused("--frames 1 --size 1920by1080", "--size");
    expect_refused("--frames 1 --region 5,5,5,9", "--region: L,T,R,B with 0 <= L < R and 0 <= T < B");
    expect_refused("--frames 1 --region -1,0,4,4", "--region");
    expect_refused("--frames 1 --region 1,2,3", "--region");
    expect_refused("--frames 1 --region 1,2,3,4,", "--region");
    expect_refused("--frames 1 --region 1:2:3:4", "--region");
}

TEST_F(CaptureCliTest, VersionIsTheProjectsAndStartsNoCapture) {
    const Outcome run = run_capture("--version --out " + dir.string());
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(run.output, "corvo-capture " CORVO_PROJECT_VERSION "\n");
    EXPECT_FALSE(fs::exists(dir));
}

TEST_F(CaptureCliTest, NumbersThatCannotBeHonouredAreRefusedWithWhichAndWhy) {
    const std::pair<const char *, const char *> refused[] = {
        {"--frames 1 --fps 1e-30", "--fps: must be at least 0.001"},
        {"--frames 1 --fps 1e7", "--fps: must be at most 1000000"},
        {"--frames 1 --fps nan", "--fps: must be a finite number"},
        {"--frames 1 --fps inf", "--fps: must be a finite number"},
        {"--frames 1 --fps 30fps", "--fps: must be a number"},
        {"--frames 1 --min-interval nan", "--min-interval: must be a finite number"},
        {"--frames 1 --min-interval 4294968", "--min-interval: must be at most 4294967"},
        {"--seconds inf", "--seconds: must be a finite number"},
        {"--seconds 0", "--seconds: must be greater than 0"},
        {"--frames 1.5", "--frames: must be a whole number"},
        {"--frames 1e3", "--frames: must be a whole number"},
        {"--frames 99999999999999999999", "--frames: must be at most 1000000000000"},
        {"--frames 1 --every 0x10", "--every: must be a whole number"},
        {"--frames 1 --size 99999999999x480", "--size: WIDTHxHEIGHT from 640x480"},
        {"--frames 1 --size +640x480", "--size: WIDTHxHEIGHT from 640x480"},
    };
    for (const auto &[arguments, named] : refused) expect_refused(arguments, named);
}

TEST_F(CaptureCliTest, ListShowsTheDemoScenesWindowAndCapturesNothing) {
    const Outcome run = run_capture("--list --size 800x600 --out " + dir.string());
    EXPECT_EQ(run.exit_code, 0) << run.output;
    const std::string window = std::string(" 800x600 \"") + DemoScene::kTitle + "\"\n";
    EXPECT_EQ(run.output.rfind("1 window:\n  0x", 0), 0u) << run.output;
    EXPECT_NE(run.output.find(window + "0 monitors:\n"), std::string::npos) << run.output;
    EXPECT_FALSE(fs::exists(dir)) << "nothing captured, nothing written";
    expect_refused("--list --window Editor", "--window excludes --list");
}

TEST(TargetList, WindowsMatchAPartOfTheirTitleInAnyCaseOfAsciiLetters) {
    const std::vector<capture_cli::ListedWindow> windows = {{0x10, "Untitled - Editor", 640, 480},
                                                            {0x20, "Editor settings", 320, 200},
                                                            {0x30, "Caf\xc3\xa9 menu", 10, 10}};
    const struct {
        const char *part;
        std::vector<uintptr_t> found;
    } cases[] = {
        {"untitled - EDITOR", {0x10}}, {"editor", {0x10, 0x20}}, {"Settings", {0x20}},     {"CAF\xc3\xa9", {0x30}},
        {"caf\xc3\x89", {}},           {"editors", {}},          {"", {0x10, 0x20, 0x30}},
    };
    for (const auto &c : cases) {
        std::vector<uintptr_t> handles;
        for (const auto &window : capture_cli::windows_titled(windows, c.part)) handles.push_back(window.handle);
        EXPECT_EQ(handles, c.found) << c.part;
    }
}

TEST(TargetList, MonitorsShowTheirModeAndOnlyTitledWindowsNotMinimisedAreOffered) {
    corvo_emu_reset();
    void *sdr = corvo_emu_create_monitor(1920, 1080);
    void *hdr = corvo_emu_create_monitor(2560, 1440);
    corvo_emu_set_hdr(sdr, 0, 240);  // a white that HDR mode would show; off, the monitor is SDR
    corvo_emu_set_hdr(hdr, 1, 250);
    EXPECT_EQ(
        capture_cli::list_text(capture_cli::list_targets()),
        "0 windows:\n2 monitors:\n  0 at 0,0 1920x1080 SDR\n  1 at 1920,0 2560x1440 HDR, SDR white 250 nits\n");
    // A white the display configuration cannot tell is the 80 nits Windows assumes.
    corvo_emu_fail("DisplayConfigGetDeviceInfo", 5, 0, 100);
    EXPECT_TRUE(capture_cli::list_targets().monitors[1].hdr);
    EXPECT_EQ(capture_cli::list_targets().monitors[1].sdr_white_nits, 80.0f);

    // Of the windows, only those titled and not minimised are offered.
    HWND titled = corvo_emu_create_window(64, 48), minimised = corvo_emu_create_window(32, 32);
    corvo_emu_create_window(16, 16);
    corvo_emu_set_title(titled, "editor");
    corvo_emu_set_title(minimised, "minimised");
    corvo_emu_set_window_minimised(minimised, 1);
    const std::vector<capture_cli::ListedWindow> windows = capture_cli::list_targets().windows;
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(windows[0].title, "editor");
    corvo_emu_reset();
}

TEST_F(CaptureCliTest, UnwritableOutputFolderIsRefusedWithOneLine) {
    fs::create_directories(dir);
    std::ofstream(dir / "file") << "not a folder";
    expect_refused("--frames 1 --out " + (dir / "file" / "frames").string(), (dir / "file" / "frames").string());
}

}  // namespace
