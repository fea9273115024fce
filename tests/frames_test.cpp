// Frames through the exports: read-back into the buffer, cropping and growth, texture mode, close, device
// removal and the failure paths of the frame handler.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <time.h>

#include "corvo_emu_window.h"
#include "picture.h"
#include "session_harness.h"

namespace {

constexpr int32_t kNoInterface = static_cast<int32_t>(0x80004002);

// A pattern that differs in every pixel and channel, so that a wrong pitch or offset shows.
uint32_t pattern(int32_t x, int32_t y) { return 0xFF000000u | uint32_t(x * 7 + y * 131) % 0xFFFFFFu; }

void paint_pattern(HWND window, int32_t width, int32_t height) {
    std::vector<uint32_t> rows(size_t(width) * size_t(height));
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) rows[size_t(y) * size_t(width) + size_t(x)] = pattern(x, y);
    corvo_emu_write(window, 0, 0, width, height, rows.data(), uint32_t(width) * 4);
}

void expect_pattern(const Poll &p) {
    for (int32_t y = 0; y < p.height; ++y)
        for (int32_t x = 0; x < p.width; ++x)
            if (pixel_at(p, x, y) != pattern(x, y)) {
                ADD_FAILURE() << "pixel (" << x << ", " << y << ") differs";
                return;
            }
}

void release_texture(const Poll &p) {
    if (p.ok) static_cast<ID3D11Texture2D *>(p.frame)->Release();
}

using FramesTest = CaptureTest;

// An HDR monitor with SDR content (rows of every level of each channel), a grey at twice SDR white and a
// coloured highlight, in the three formats: 8-bit as the system clips it, 8-bit made from HDR (SDR content as an
// SDR display shows it, highlights with the largest channel limited to white), and the FP16 frames themselves;
// made from HDR also on a device that cannot store BGRA from a kernel, and where the kernel cannot be made (the
// system's pictures then).
TEST_F(FramesTest, PicturesOfAnHdrMonitorInEveryFormat) {
    constexpr float kHighlight[3] = {12.5f, 5.0f, 1.25f};  // scRGB red, green, blue: 1000, 400 and 100 nits
    enum Device { kFull, kNoBgraStores, kNoKernel };
    struct Case {
        int32_t format;
        Device device;
    };
    EXPECT_EQ(wgc_set_pixel_format(nullptr, CORVO_WGC_FORMAT_FP16), 0);
    for (const uint32_t white : {80u, 200u, 480u})
        for (const auto [asked, device] :
             {Case{CORVO_WGC_FORMAT_BGRA8, kFull}, Case{CORVO_WGC_FORMAT_SDR_FROM_HDR, kFull},
              Case{CORVO_WGC_FORMAT_FP16, kFull}, Case{CORVO_WGC_FORMAT_SDR_FROM_HDR, kNoBgraStores},
              Case{CORVO_WGC_FORMAT_SDR_FROM_HDR, kNoKernel}}) {
            SCOPED_TRACE(testing::Message() << "white " << white << ", format " << asked << ", device " << device);
            // What the pixels are: without the kernel, the system's.
            const int32_t format = device == kNoKernel ? CORVO_WGC_FORMAT_BGRA8 : asked;
            log.clear();
            corvo_emu_set_bgra_uav_store(device == kNoBgraStores ? 0 : 1);
            const HMONITOR monitor = corvo_emu_create_monitor(1920, 1080);  // the window is shown on it
            open_window(256, 4, false);
            corvo_emu_set_hdr(window, 1, white);
            std::vector<uint32_t> levels(256 * 3);
            for (uint32_t v = 0; v < 256; ++v)
                for (uint32_t c = 0; c < 3; ++c) levels[c * 256 + v] = 0xFF000000u | v << (8 * c);  // B, G, R rows
            corvo_emu_write(window, 0, 0, 256, 3, levels.data(), 256 * 4);
            const float grey = 2.0f * float(white) / 80.0f;
            corvo_emu_fill_scrgb(window, 0, 3, 8, 1, grey, grey, grey, 1.0f);
            corvo_emu_fill_scrgb(window, 8, 3, 8, 1, kHighlight[0], kHighlight[1], kHighlight[2], 1.0f);
            ASSERT_EQ(wgc_set_pixel_format(session, asked), 1);
            EXPECT_EQ(wgc_set_pixel_format(session, -1), 0);  // unknown formats leave the setting as it was
            EXPECT_EQ(wgc_set_pixel_format(session, 3), 0);
            if (device == kNoKernel) corvo_emu_fail("CreateComputeShader", kFail, 4, 1);  // the detector's 4 first
            ASSERT_EQ(wgc_session_start(session), 1);
            const Poll p = present_and_poll();
            ASSERT_TRUE(p.ok);
            wgc_frame_info info{};
            info.size = sizeof info;
            ASSERT_EQ(wgc_get_frame_info(session, &info), 1);
            EXPECT_EQ(info.hdr, 1u);
            EXPECT_EQ(info.sdr_white_nits, float(white));
            EXPECT_EQ(info.dxgi_format, format == CORVO_WGC_FORMAT_FP16 ? 10 : 87);
            // The white is read on the frames' clock. One that cannot be read is the last good one, not 80, told
            // once: a failed read, then a path that cannot be found when a new configuration (another monitor)
            // makes the session look it up again.
            wgc_frame_info failed{};
            failed.size = sizeof failed;
            corvo_emu_advance_clock(kColourReadInterval);
            corvo_emu_fail("DisplayConfigGetDeviceInfo", 31, 0, 1);
            ASSERT_TRUE(present_and_poll().ok);
            ASSERT_EQ(wgc_get_frame_info(session, &failed), 1);
            EXPECT_EQ(failed.sdr_white_nits, float(white));
            const HMONITOR other = corvo_emu_create_monitor(64, 64);
            corvo_emu_advance_clock(kColourReadInterval);
            corvo_emu_fail("QueryDisplayConfig", 31, 0, 1);
            ASSERT_TRUE(present_and_poll().ok);
            ASSERT_EQ(wgc_get_frame_info(session, &failed), 1);
            EXPECT_EQ(failed.sdr_white_nits, float(white));
            corvo_emu_close(other);
            // A configuration that changed between its two calls is asked again: the new white is read at once.
            // Then a lasting failure is read again once, not at every frame.
            for (const uint32_t now : {120u, white}) {
                corvo_emu_set_hdr(window, 1, now);
                corvo_emu_advance_clock(kColourReadInterval);
                corvo_emu_fail("QueryDisplayConfig", 122, 0, 1);  // ERROR_INSUFFICIENT_BUFFER
                ASSERT_TRUE(present_and_poll().ok);
                ASSERT_EQ(wgc_get_frame_info(session, &failed), 1);
                EXPECT_EQ(failed.sdr_white_nits, float(now));
            }
            corvo_emu_advance_clock(kColourReadInterval);
            corvo_emu_fail("DisplayConfigGetDeviceInfo", 31, 0, 1000);
            const uint64_t reads = corvo_emu_count("DisplayConfigGetDeviceInfo");
            const auto began = std::chrono::steady_clock::now();  // the frames' clock also moves with the real one
            for (int n = 0; n < 4; ++n) ASSERT_TRUE(present_and_poll().ok);
            const auto elapsed = std::chrono::steady_clock::now() - began;
            EXPECT_LE(corvo_emu_count("DisplayConfigGetDeviceInfo") - reads,
                      2u + uint64_t(elapsed / std::chrono::milliseconds(250)));
            corvo_emu_fail("DisplayConfigGetDeviceInfo", 0, 0, 0);
            const std::vector<std::string> lines = log.texts();
            const std::string converting = "Wgc sdr from hdr on, sdr white " + std::to_string(white) + " nits";
            EXPECT_EQ(std::count(lines.begin(), lines.end(), converting), format == CORVO_WGC_FORMAT_SDR_FROM_HDR);
            const std::string unknown = "Wgc sdr white unknown, error:31; " + std::to_string(white) + " nits used";
            EXPECT_EQ(std::count(lines.begin(), lines.end(), unknown), 1);
            EXPECT_EQ(std::count(lines.begin(), lines.end(),
                                 "Wgc sdr from hdr unavailable on this device; the system's bgra8 frames are used"),
                      device == kNoKernel);
            const auto *bytes = static_cast<const uint8_t *>(p.frame);
            const double scale = white / 80.0;
            for (uint32_t c = 0; c < 3; ++c)
                for (uint32_t v = 0; v < 256; ++v) {
                    const size_t at = size_t(c) * 256 + v;
                    if (format == CORVO_WGC_FORMAT_FP16) {
                        const auto *half = reinterpret_cast<const uint16_t *>(bytes) + at * 4;
                        ASSERT_EQ(half[2 - c], corvo::emu::half_toward_zero(srgb_decode(uint8_t(v)) * scale))
                            << "channel " << c << " level " << v;
                        ASSERT_EQ(half[(3 - c) % 3], 0);  // another channel
                    } else {
                        ASSERT_LE(std::abs(int(bytes[at * 4 + c]) - int(v)), format == 0 ? 0 : 1)
                            << "channel " << c << " level " << v;
                    }
                }
            if (format != CORVO_WGC_FORMAT_FP16) {
                const uint8_t *grey_pixel = bytes + size_t(3 * 256) * 4, *colour = grey_pixel + 8 * 4;
                EXPECT_EQ(grey_pixel[0] & grey_pixel[1] & grey_pixel[2], 255) << "a grey above SDR white is white";
                uint16_t halves[4];
                for (int c = 0; c < 3; ++c) halves[c] = half_from_float(kHighlight[c]);
                halves[3] = half_from_float(1.0f);
                // The system clips each channel; the library keeps the hue: red the largest, then green, then blue.
                for (int c = 0; c < 3; ++c) {
                    const double clipped = std::min(1.0, kHighlight[c] / scale);
                    const uint8_t expected =
                        format == CORVO_WGC_FORMAT_BGRA8
                            ? unorm8(clipped <= 0.0031308 ? 12.92 * clipped
                                                          : 1.055 * std::pow(clipped, 1 / 2.4) - 0.055)
                            : sdr_pixel(halves, float(1 / scale))[size_t(c)];
                    EXPECT_LE(std::abs(int(colour[2 - c]) - int(expected)), 1) << "highlight channel " << c;
                }
            }
            if (format == CORVO_WGC_FORMAT_SDR_FROM_HDR && device == kFull && white == 200) {
                // A picture the kernel cannot make: that frame is left out, and the system's frames follow, told
                // once, not a picture that stays as it was.
                corvo_emu_fail("CreateShaderResourceView", kFail, 0, 1);
                corvo_emu_fill(window, 0, 0, 1, 1, 0xFF000000u);
                ASSERT_TRUE(present_and_poll().ok);
                ASSERT_EQ(wgc_get_frame_info(session, &info), 1);
                EXPECT_EQ(info.is_new, 0u);
                const Poll system = present_and_poll();
                ASSERT_TRUE(system.ok);
                ASSERT_EQ(wgc_get_frame_info(session, &info), 1);
                EXPECT_EQ(info.is_new, 1u);
                EXPECT_EQ(pixel_at(system, 0, 0), 0xFF000000u);
                const std::vector<std::string> after = log.texts();
                EXPECT_EQ(
                    std::count(after.begin(), after.end(),
                               "Wgc sdr from hdr failed to make a picture; the system's bgra8 frames are used"),
                    1);
                EXPECT_EQ(std::count(after.begin(), after.end(), "Wgc sdr from hdr off"), 1);
            }
            if (format == CORVO_WGC_FORMAT_SDR_FROM_HDR) {
                // A changed cell alone reaches the buffer, in BGRA order; a texture is BGRA where the device
                // stores it.
                wgc_set_dirty_rect(session, 1);
                ASSERT_TRUE(present_and_poll().ok);
                corvo_emu_fill(window, 40, 0, 1, 1, 0xFF0000FFu);
                const Poll changed = present_and_poll();
                ASSERT_TRUE(changed.ok);
                EXPECT_EQ(wgc_get_dirty_rects(session, nullptr, 0), 1);
                EXPECT_EQ(pixel_at(changed, 40, 0), 0xFF0000FFu);
                wgc_set_capture_to_texture(session, 1);
                const Poll texture = present_and_poll();
                ASSERT_TRUE(texture.ok);
                static_cast<ID3D11Texture2D *>(texture.frame)->Release();
                ASSERT_EQ(wgc_get_frame_info(session, &info), 1);
                EXPECT_EQ(info.dxgi_format, device == kNoBgraStores ? 28 : 87);
            }
            // A mode that cannot be read counts as SDR, told once, and is read again at the next read.
            const auto poll_mode = [&] {  // format 1's rows are in texture mode by now
                const Poll polled = present_and_poll();
                if (format == CORVO_WGC_FORMAT_SDR_FROM_HDR) release_texture(polled);
            };
            corvo_emu_fail("IDXGIOutput6", kNoInterface, 0, 1);
            const HMONITOR third = corvo_emu_create_monitor(64, 64);  // a new configuration: the mode is read again
            corvo_emu_advance_clock(kColourReadInterval);
            poll_mode();
            ASSERT_EQ(wgc_get_frame_info(session, &info), 1);
            EXPECT_EQ(info.hdr, 0u);
            corvo_emu_advance_clock(kColourReadInterval);
            poll_mode();
            ASSERT_EQ(wgc_get_frame_info(session, &info), 1);
            EXPECT_EQ(info.hdr, 1u);
            const std::vector<std::string> last = log.texts();
            EXPECT_EQ(std::count(last.begin(), last.end(),
                                 "Wgc hdr mode of the monitor unknown, hr:80004002; treated as sdr"),
                      1);
            corvo_emu_close(third);
            // A failed read of the white is tried again at the next frame, not 250 ms later: a slider moved in
            // between is seen at once.
            const uint32_t moved = white == 480 ? 80 : 480;
            corvo_emu_advance_clock(kColourReadInterval);
            corvo_emu_fail("DisplayConfigGetDeviceInfo", 31, 0, 1);
            poll_mode();
            corvo_emu_set_hdr(window, 1, moved);
            poll_mode();
            ASSERT_EQ(wgc_get_frame_info(session, &info), 1);
            EXPECT_EQ(info.sdr_white_nits, float(moved));
            // Another monitor's white is no fallback: moved to an HDR monitor whose white cannot be read, the
            // window is told at 80 nits.
            const HMONITOR next = corvo_emu_create_monitor(64, 64);  // right of the first
            corvo_emu_set_hdr(next, 1, 300);
            corvo_emu_move_window(window, 1920, 0);
            corvo_emu_advance_clock(kColourReadInterval);
            corvo_emu_fail("DisplayConfigGetDeviceInfo", 31, 0, 1000);
            poll_mode();
            ASSERT_EQ(wgc_get_frame_info(session, &info), 1);
            EXPECT_EQ(info.hdr, 1u);
            EXPECT_EQ(info.sdr_white_nits, 80.0f);
            corvo_emu_fail("DisplayConfigGetDeviceInfo", 0, 0, 0);
            corvo_emu_close(next);
            wgc_session_destroy(session);
            session = nullptr;
            corvo_emu_close(window);
            corvo_emu_close(monitor);
        }
}

// Switches of format while capturing an HDR monitor at 200 nits, with the target unchanged and changing: from the
// first poll after the switch, what is handed out has the asked format's bytes per pixel, DXGI format and pixels.
// An FP16 frame of the old pool is made 8-bit; an 8-bit frame of the old pool (format 0's) cannot be made FP16 and
// is left out, so that poll hands out nothing and the next frame is FP16.
TEST_F(FramesTest, SwitchOfFormatWhileCapturingHandsOutTheAskedFormatFromTheNextPoll) {
    struct Row {
        int32_t from, to;
        bool changing;
    };
    for (const Row row : {Row{2, 0, false}, Row{2, 0, true}, Row{0, 2, false}, Row{0, 2, true}, Row{1, 2, false},
                          Row{1, 2, true}, Row{2, 1, true}}) {
        SCOPED_TRACE(testing::Message() << row.from << " -> " << row.to << (row.changing ? ", changing" : ""));
        const HMONITOR monitor = corvo_emu_create_monitor(640, 480);
        open_window(256, 1, false);
        corvo_emu_set_hdr(window, 1, 200);
        std::vector<uint32_t> levels(256);
        for (uint32_t v = 0; v < 256; ++v) levels[v] = 0xFF000000u | v << 16 | v << 8 | v;
        corvo_emu_write(window, 0, 0, 256, 1, levels.data(), 256 * 4);
        wgc_set_pixel_format(session, row.from);
        ASSERT_EQ(wgc_session_start(session), 1);
        ASSERT_TRUE(present_and_poll().ok);
        ASSERT_EQ(wgc_set_pixel_format(session, row.to), 1);
        if (row.changing) {
            levels[0] = 0xFF808080u;
            corvo_emu_fill(window, 0, 0, 1, 1, levels[0]);
        }
        Poll p = present_and_poll();               // a frame of the pool made for the old format
        if (row.from == CORVO_WGC_FORMAT_BGRA8) {  // format 1's pool on an HDR monitor is FP16 already
            EXPECT_FALSE(p.ok) << "an 8-bit picture handed out for FP16";
            p = present_and_poll();
        }
        ASSERT_TRUE(p.ok);
        wgc_frame_info info{};
        info.size = sizeof info;
        ASSERT_EQ(wgc_get_frame_info(session, &info), 1);
        EXPECT_EQ(info.dxgi_format, row.to == CORVO_WGC_FORMAT_FP16 ? 10 : 87);
        EXPECT_EQ(info.bytes_per_pixel, row.to == CORVO_WGC_FORMAT_FP16 ? 8u : 4u);
        for (uint32_t x = 0; x < 256; ++x) {
            const auto v = uint8_t(levels[x]);
            if (row.to == CORVO_WGC_FORMAT_FP16) {
                const auto *half = static_cast<const uint16_t *>(p.frame) + size_t(x) * 4;
                ASSERT_EQ(half[1], corvo::emu::half_toward_zero(srgb_decode(v) * 2.5)) << "pixel " << x;
            } else {
                ASSERT_LE(std::abs(int(pixel_at(p, int32_t(x), 0) & 0xFF) - int(v)), 1) << "pixel " << x;
            }
        }
        wgc_session_destroy(session);
        session = nullptr;
        corvo_emu_close(window);
        corvo_emu_close(monitor);
    }
}

// The monitor's mode and white cost no display query on every frame: 300 frames at 60 a second make at most 25
// calls of each, in every format, and a moved slider is still seen within 250 ms.
TEST_F(FramesTest, FramesReadTheMonitorOnAClockNotEveryFrame) {
    constexpr const char *kDisplayConfig[] = {"GetDisplayConfigBufferSizes", "QueryDisplayConfig",
                                              "DisplayConfigGetDeviceInfo"};
    for (const int32_t format : {CORVO_WGC_FORMAT_BGRA8, CORVO_WGC_FORMAT_SDR_FROM_HDR, CORVO_WGC_FORMAT_FP16}) {
        SCOPED_TRACE(testing::Message() << "format " << format);
        const HMONITOR monitor = corvo_emu_create_monitor(640, 480);
        open_window(64, 64, false);
        corvo_emu_set_hdr(window, 1, 200);
        wgc_set_pixel_format(session, format);
        const auto display_config = [&] {
            uint64_t calls = 0;
            for (const char *name : kDisplayConfig) calls += corvo_emu_count(name);
            return calls;
        };
        const uint64_t configs = display_config();
        const uint64_t monitors = corvo_emu_count("MonitorFromWindow"), current = corvo_emu_count("IsCurrent");
        // The frames' clock is the real one moved ahead: what the machine's own time adds may cost a read per
        // 250 ms of it (a sanitizer lane runs this several times slower).
        const auto began = std::chrono::steady_clock::now();
        ASSERT_EQ(wgc_session_start(session), 1);
        wgc_frame_info info{};
        info.size = sizeof info;
        for (int frame = 0; frame < 300; ++frame) {
            if (frame == 150) corvo_emu_set_hdr(window, 1, 400);
            corvo_emu_advance_clock(10'000'000 / 60);
            ASSERT_TRUE(present_and_poll().ok);
            ASSERT_EQ(wgc_get_frame_info(session, &info), 1);
            if (frame == 150 + 15) {
                EXPECT_EQ(info.sdr_white_nits, 400.0f) << "the slider not read in 250 ms";
            }
        }
        const uint64_t limit =
            25u +
            uint64_t(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began)
                         .count() /
                     250);
        EXPECT_LE(display_config() - configs, limit);
        EXPECT_LE(corvo_emu_count("MonitorFromWindow") - monitors, limit);
        EXPECT_LE(corvo_emu_count("IsCurrent") - current, limit);
        wgc_session_destroy(session);
        session = nullptr;
        corvo_emu_close(window);
        corvo_emu_close(monitor);
    }
}

TEST_F(FramesTest, BufferHoldsTheTargetsPixelsRowByRow) {
    open_window(100, 37);  // 400-byte rows in a texture whose row pitch is padded
    paint_pattern(window, 100, 37);
    const Poll p = present_and_poll();
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.width, 100);
    EXPECT_EQ(p.height, 37);
    expect_pattern(p);
    EXPECT_EQ(wgc_get_update_ratio(session), 1.0f);
    EXPECT_EQ(wgc_get_update_ratio(session), 0.0f);

    // No new frame: the same buffer again, nothing new.
    const Poll again = poll(session);
    EXPECT_TRUE(again.ok);
    EXPECT_EQ(again.frame, p.frame);
    EXPECT_EQ(again.width, 100);
    EXPECT_EQ(wgc_get_update_ratio(session), 0.0f);
}

TEST_F(FramesTest, PollReadsTheNewestFrameAndHandsTheOlderBack) {
    open_window(64, 64);
    corvo_emu_fill(window, 0, 0, 64, 64, 0xFF0000FFu);
    corvo_emu_present(window);
    corvo_emu_fill(window, 0, 0, 64, 64, 0xFF00FF00u);
    corvo_emu_resize(window, 80, 80);
    EXPECT_EQ(corvo_emu_present(window), 1);
    const Poll p = poll(session);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(pixel_at(p, 10, 10), 0xFF00FF00u);  // the second frame, still in a 64 x 64 texture
    EXPECT_EQ(p.width, 64);
    EXPECT_EQ(corvo_emu_count("CopyResource"), 1u);  // the first frame was never read
    EXPECT_EQ(corvo_emu_count("Recreate"), 1u);
    // Both buffers went back to the pool.
    EXPECT_EQ(corvo_emu_present(window), 1);
    EXPECT_EQ(corvo_emu_present(window), 1);
}

TEST_F(FramesTest, FrameArrivingOutsideAPollWaitsForTheNextPoll) {
    open_window(32, 32);
    corvo_emu_fill(window, 0, 0, 32, 32, 0xFF0000FFu);
    const Poll first = present_and_poll();
    ASSERT_TRUE(first.ok);
    (void)wgc_get_update_ratio(session);
    // The host's own message loop dispatches a frame: the buffer it holds stays as handed out.
    corvo_emu_fill(window, 0, 0, 32, 32, 0xFF00FF00u);
    corvo_emu_present(window);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    EXPECT_EQ(pixel_at(first, 0, 0), 0xFF0000FFu);
    EXPECT_EQ(wgc_get_update_ratio(session), 0.0f);
    const Poll next = poll(session);
    EXPECT_EQ(pixel_at(next, 0, 0), 0xFF00FF00u);
    EXPECT_EQ(wgc_get_update_ratio(session), 1.0f);
}

// The service renders only into a free buffer, and the host may not poll for a long while: the frames the
// host never saw go back to the pool as soon as newer ones arrive, so the next poll hands out the last picture.
TEST_F(FramesTest, PicturesPresentedWithoutAPollLeaveTheNewestForTheNextPoll) {
    for (const uint8_t texture_mode : {0, 1}) {
        SCOPED_TRACE(texture_mode ? "texture" : "buffer");
        open_window(32, 32, false);
        wgc_set_capture_to_texture(session, texture_mode);
        ASSERT_EQ(wgc_session_start(session), 1);
        for (uint32_t picture = 1; picture <= 5; ++picture) {
            corvo_emu_fill(window, 0, 0, 32, 32, 0xFF000000u | picture);
            EXPECT_EQ(corvo_emu_present(window), 1);
        }
        for (const uint64_t reads : {1u, 0u}) {  // one frame read, the rest never; then nothing new
            const uint64_t copies = corvo_emu_count("CopyResource");
            const Poll p = poll(session);
            ASSERT_TRUE(p.ok);
            EXPECT_EQ(corvo_emu_count("CopyResource") - copies, reads);
            const Picture picture = texture_mode ? picture_of_texture(static_cast<ID3D11Texture2D *>(p.frame))
                                                 : picture_of_buffer(p.frame, p.width, p.height);
            EXPECT_EQ(picture, Picture(32, 32, 0xFF000005u));
            if (texture_mode) release_texture(p);
        }
        wgc_session_destroy(session);
        session = nullptr;
        corvo_emu_reset();
    }
}

TEST_F(FramesTest, ShrunkTargetIsCroppedAndThePoolRecreated) {
    open_window(200, 100);
    paint_pattern(window, 200, 100);
    corvo_emu_resize(window, 120, 60);
    const Poll p = present_and_poll();
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.width, 120);
    EXPECT_EQ(p.height, 60);
    expect_pattern(p);
    EXPECT_EQ(wgc_get_update_ratio(session), 1.0f);
    EXPECT_EQ(corvo_emu_count("Recreate"), 1u);

    const Poll next = present_and_poll();  // now in textures of the new size
    EXPECT_EQ(next.width, 120);
    EXPECT_EQ(corvo_emu_count("Recreate"), 1u);
}

TEST_F(FramesTest, GrownTargetIsCopiedWholeUntilThePoolIsRecreated) {
    open_window(64, 48);
    corvo_emu_resize(window, 96, 72);
    paint_pattern(window, 96, 72);
    const Poll p = present_and_poll();
    EXPECT_EQ(p.width, 64);  // clipped to the pool's textures
    EXPECT_EQ(p.height, 48);
    expect_pattern(p);
    wgc_frame_info info{};
    info.size = sizeof info;
    ASSERT_EQ(wgc_get_frame_info(session, &info), 1);
    EXPECT_EQ(info.content_width, 96);  // while the frame's content is the new size
    EXPECT_EQ(info.content_height, 72);
    EXPECT_EQ(corvo_emu_count("Recreate"), 1u);
    const Poll next = present_and_poll();
    EXPECT_EQ(next.width, 96);
    EXPECT_EQ(next.height, 72);
    expect_pattern(next);
}

TEST_F(FramesTest, TextureModeHandsOutOneReferencePerPoll) {
    open_window(64, 32);
    wgc_set_capture_to_texture(session, 1);
    const Poll first = present_and_poll();
    ASSERT_TRUE(first.ok);
    EXPECT_EQ(first.width, 64);
    EXPECT_EQ(first.height, 32);
    EXPECT_EQ(wgc_get_update_ratio(session), 1.0f);
    const Poll second = poll(session);
    ASSERT_TRUE(second.ok);
    EXPECT_EQ(second.frame, first.frame);

    auto *texture = static_cast<ID3D11Texture2D *>(first.frame);
    D3D11_TEXTURE2D_DESC desc;
    texture->GetDesc(&desc);
    EXPECT_EQ(desc.Width, 64u);
    EXPECT_EQ(desc.Usage, D3D11_USAGE_DEFAULT);
    EXPECT_EQ(desc.BindFlags, UINT(D3D11_BIND_RENDER_TARGET));
    // The session's reference and the host's two.
    EXPECT_EQ(texture->AddRef(), 4u);
    EXPECT_EQ(texture->Release(), 3u);
    wgc_free_recent_frame(texture);  // changes nothing
    EXPECT_EQ(texture->Release(), 2u);
    EXPECT_EQ(texture->Release(), 1u);
}

TEST_F(FramesTest, TextureModeFrameSizeIsTheWholeTextureAndOnlyTheNewestFrameIsCopied) {
    open_window(64, 32);
    wgc_set_capture_to_texture(session, 1);
    corvo_emu_resize(window, 16, 16);
    corvo_emu_present(window);
    corvo_emu_present(window);
    const Poll p = poll(session);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.width, 64);  // the content size plays no part
    EXPECT_EQ(p.height, 32);
    EXPECT_EQ(corvo_emu_count("CopyResource"), 1u);
    release_texture(p);
}

TEST_F(FramesTest, HostReferenceKeepsAReplacedTextureAlive) {
    open_window(64, 32);
    wgc_set_capture_to_texture(session, 1);
    const Poll first = present_and_poll();
    corvo_emu_resize(window, 32, 32);
    const Poll cropped = present_and_poll();  // same texture size, then the pool is recreated
    EXPECT_EQ(cropped.frame, first.frame);
    release_texture(cropped);
    corvo_emu_present(window);
    const Poll resized = poll(session);
    ASSERT_TRUE(resized.ok);
    EXPECT_NE(resized.frame, first.frame);
    EXPECT_EQ(resized.width, 32);
    EXPECT_EQ(static_cast<ID3D11Texture2D *>(first.frame)->Release(), 0u);  // the host's was the last
    release_texture(resized);
}

TEST_F(FramesTest, BackInBufferModeThePollReportsThePictureTheBufferHolds) {
    open_window(64, 48);
    present_and_poll();
    wgc_set_capture_to_texture(session, 1);
    corvo_emu_resize(window, 128, 96);
    release_texture(present_and_poll());  // recreates the pool
    const Poll texture = present_and_poll();
    ASSERT_TRUE(texture.ok);
    EXPECT_EQ(texture.width, 128);
    release_texture(texture);

    wgc_set_capture_to_texture(session, 0);
    const Poll buffer = poll(session);
    ASSERT_TRUE(buffer.ok);
    EXPECT_EQ(buffer.width, 64);  // not the texture's 128 x 96
    EXPECT_EQ(buffer.height, 48);
    const Poll fresh = present_and_poll();
    EXPECT_EQ(fresh.width, 128);
}

// Found by the stress test: the texture of an earlier period in texture mode was handed out with the size of
// the picture read back in buffer mode since.
TEST_F(FramesTest, BackInTextureModeThePollReportsTheSizeOfTheTextureItHandsOut) {
    open_window(128, 96);
    wgc_set_capture_to_texture(session, 1);
    release_texture(present_and_poll());
    wgc_set_capture_to_texture(session, 0);
    corvo_emu_resize(window, 64, 48);
    present_and_poll();  // read back cropped to 64 x 48, then the pool is recreated
    const Poll buffer = present_and_poll();
    ASSERT_TRUE(buffer.ok);
    EXPECT_EQ(buffer.width, 64);

    wgc_set_capture_to_texture(session, 1);
    const Poll texture = poll(session);  // no new frame: the texture left from before
    ASSERT_TRUE(texture.ok);
    D3D11_TEXTURE2D_DESC desc;
    static_cast<ID3D11Texture2D *>(texture.frame)->GetDesc(&desc);
    EXPECT_EQ(texture.width, int32_t(desc.Width));
    EXPECT_EQ(texture.height, int32_t(desc.Height));
    EXPECT_EQ(texture.width, 128);
    release_texture(texture);
}

// Closed runs where the start thread dispatches: in a poll, or in the host's own message loop, outside any
// call of the library. The status drops at once; the line waits for the host's next call on the session.
TEST_F(FramesTest, ClosedTargetEndsTheCaptureAndKeepsTheLastFrame) {
    for (const bool host_loop : {false, true}) {
        SCOPED_TRACE(host_loop ? "the host's own loop" : "a poll");
        open_window(32, 32);
        const Poll before = present_and_poll();
        log.clear();
        corvo_emu_close(window);
        EXPECT_EQ(wgc_get_status(session), 1);  // delivered only when the thread dispatches
        if (host_loop) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
            EXPECT_TRUE(log.lines().empty());
            EXPECT_EQ(wgc_get_status(session), 0);
            (void)wgc_get_update_ratio(session);  // any call tells it
            EXPECT_EQ(log.lines().size(), 1u);
        }
        const Poll after = poll(session);
        EXPECT_EQ(wgc_get_status(session), 0);
        EXPECT_EQ(log.lines(), (std::vector<LogLine>{{1, "Wgc on_closed", 13}}));
        EXPECT_TRUE(after.ok);
        EXPECT_EQ(after.frame, before.frame);
        EXPECT_EQ(corvo_emu_present(window), 0);
        wgc_session_destroy(session);
        session = nullptr;
    }
    // When the host's next call is the destroy, the closing is told before the destroy's own lines.
    open_window(32, 32);
    corvo_emu_close(window);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    log.clear();
    wgc_session_destroy(std::exchange(session, nullptr));
    EXPECT_EQ(log.texts(), (std::vector<std::string>{"Wgc on_closed", "Try to exit wgc thread", "Wgc exit."}));
}

TEST_F(FramesTest, RemovedDeviceEndsTheCaptureWithOneLine) {
    open_window(32, 32);
    present_and_poll();
    corvo_emu_present(window);
    corvo_emu_remove_devices(static_cast<int32_t>(0x887A0007));  // DXGI_ERROR_DEVICE_RESET
    log.clear();
    poll(session);
    poll(session);
    EXPECT_EQ(wgc_get_status(session), 0);
    EXPECT_EQ(log.lines(),
              (std::vector<LogLine>{{3, "Capture device lost, reason:887a0007; the capture has ended", 59}}));
    EXPECT_EQ(wgc_get_last_error(session), static_cast<int32_t>(0x887A0007));
    EXPECT_EQ(wgc_get_last_error(nullptr), static_cast<int32_t>(E_POINTER));
    EXPECT_EQ(corvo_emu_count("Recreate"), 0u);
    // The frame presented before the loss was never read, but the capture has ended: nothing to wait for.
    EXPECT_EQ(wgc_wait_for_frame(session, 0), 0);
}

TEST_F(FramesTest, FailedStagingTextureFallsBackToAOneShotCopy) {
    open_window(50, 20);
    paint_pattern(window, 50, 20);
    corvo_emu_fail("CreateTexture2D", kFail, 0, 1);
    const Poll p = present_and_poll();
    ASSERT_TRUE(p.ok);
    expect_pattern(p);
    EXPECT_EQ(wgc_get_update_ratio(session), 1.0f);  // a copied frame is never "nothing new"
    // The frame texture is not mapped (the CPU may not read it): only the one-shot staging copy is.
    EXPECT_EQ(corvo_emu_count("Map"), 1u);
    EXPECT_EQ(corvo_emu_count("Unmap"), 1u);
}

TEST_F(FramesTest, FailedMapFallsBackAndAFailedFallbackKeepsThePictureUntilTheNextFrame) {
    open_window(40, 10);
    corvo_emu_fail("Map", kFail, 0, 1);
    const Poll p = present_and_poll();  // staging map fails, the fallback's map works
    EXPECT_TRUE(p.ok);
    EXPECT_EQ(corvo_emu_count("Unmap"), 1u);
    (void)wgc_get_update_ratio(session);

    corvo_emu_fail("Map", kFail, 0, 2);  // the staging and the one-shot maps both fail
    corvo_emu_fill(window, 0, 0, 40, 10, 0xFF123456u);
    const Poll q = present_and_poll();
    EXPECT_TRUE(q.ok);
    EXPECT_EQ(pixel_at(q, 0, 0), 0xFF000000u);  // the picture before, not a torn one
    EXPECT_EQ(wgc_get_update_ratio(session), 0.0f);
    const Poll r = present_and_poll();
    EXPECT_EQ(pixel_at(r, 0, 0), 0xFF123456u);
    EXPECT_EQ(wgc_get_update_ratio(session), 1.0f);
}

TEST_F(FramesTest, FailedFirstAllocationReportsNoFrame) {
    open_window(64, 64);
    corvo_emu_fail("allocate", static_cast<int32_t>(0x8007000E), 0, 1);
    log.clear();
    const Poll p = present_and_poll();
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.width, 0);
    EXPECT_EQ(log.at_level(3), (std::vector<std::string>{"Failed to allocate 16KB"}));
    const Poll q = present_and_poll();
    EXPECT_TRUE(q.ok);
}

TEST_F(FramesTest, FailedRecreateIsSaidOnceAndTriedAgainAtTheNextFrame) {
    open_window(64, 64);
    corvo_emu_resize(window, 32, 32);
    corvo_emu_fail("Recreate", kFail, 0, 2);
    log.clear();
    const Poll p = present_and_poll();
    EXPECT_TRUE(p.ok);  // the buffer holds the frame already
    EXPECT_EQ(p.width, 32);
    present_and_poll();
    EXPECT_EQ(log.at_level(3),
              (std::vector<std::string>{"Failed to recreate the frame pool at 32x32, hr:80004005"}));
    present_and_poll();
    EXPECT_EQ(corvo_emu_count("Recreate"), 3u);
    EXPECT_EQ(log.at_level(3).size(), 1u);
    // Back at the first size, then at this one again: a new failure at a size seen before is told and recorded.
    corvo_emu_resize(window, 64, 64);
    present_and_poll();
    corvo_emu_resize(window, 32, 32);
    corvo_emu_fail("Recreate", static_cast<int32_t>(0x8007000E), 0, 1);
    present_and_poll();
    EXPECT_EQ(log.at_level(3).size(), 2u);
    EXPECT_EQ(wgc_get_last_error(session), static_cast<int32_t>(0x8007000E));
}

wgc_session flip_session = nullptr;
uint8_t flip_to = 0;

void flipping_logger(int32_t level, const char *text, uint64_t length) {
    LogCapture::callback(level, text, length);
    if (flip_session && std::string_view(text).starts_with("Failed to recreate the frame pool"))
        wgc_set_capture_to_texture(flip_session, flip_to);
}

// The mode is read once per poll: a switch that another thread makes while a poll runs (here a logger, on a
// line the poll logs after reading the frame) gives the whole answer of the mode the poll began in.
TEST_F(FramesTest, SwitchOfModeDuringAPollGivesAWholeAnswerOfOneMode) {
    for (const bool texture_first : {false, true}) {
        SCOPED_TRACE(texture_first ? "texture mode, switched to buffer" : "buffer mode, switched to texture");
        open_window(64, 64);
        const Poll buffer = present_and_poll();
        wgc_set_capture_to_texture(session, 1);
        release_texture(present_and_poll());  // both outputs hold a picture
        wgc_set_capture_to_texture(session, texture_first);
        corvo_emu_resize(window, 32, 32);  // the buffer is cropped to it; the texture stays the pool's 64 x 64
        corvo_emu_fail("Recreate", kFail, 0, 100);
        flip_session = session;
        flip_to = !texture_first;
        wgc_register_logger(flipping_logger);
        const Poll p = present_and_poll();
        flip_session = nullptr;
        ASSERT_TRUE(p.ok);
        EXPECT_EQ(p.frame == buffer.frame, !texture_first) << "the output of the other mode";
        EXPECT_EQ(p.width, texture_first ? 64 : 32);
        EXPECT_EQ(p.height, texture_first ? 64 : 32);
        if (p.frame != buffer.frame) release_texture(p);
        wgc_frame_info info{};
        info.size = sizeof info;
        ASSERT_EQ(wgc_get_frame_info(session, &info), 1);
        EXPECT_EQ(info.is_new, 1);
        EXPECT_EQ(info.frame_number, 3u);
        wgc_session_destroy(session);
        session = nullptr;
        corvo_emu_reset();
    }
}

int64_t monotonic_100ns() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 10'000'000 + now.tv_nsec / 100;
}

wgc_frame_info frame_info(wgc_session session, bool *ok) {
    wgc_frame_info info{};
    info.size = sizeof info;
    *ok = wgc_get_frame_info(session, &info) != 0;
    return info;
}

// Each poll describes the frame it handed out: its number among the frames delivered since the start (a gap is
// a frame the host never saw), the service's time for it, its content size, and whether it is new.
TEST_F(FramesTest, FrameInfoNumbersTimesAndTellsNewFromRepeated) {
    open_window(48, 32);
    bool ok = true;
    frame_info(session, &ok);
    EXPECT_FALSE(ok);  // nothing handed out yet
    for (const uint8_t texture_mode : {0, 1}) {
        SCOPED_TRACE(texture_mode ? "texture" : "buffer");
        wgc_set_capture_to_texture(session, texture_mode);
        const uint64_t before = texture_mode ? frame_info(session, &ok).frame_number : 0;
        corvo_emu_present(window);
        corvo_emu_present(window);
        const int64_t earliest = monotonic_100ns();
        corvo_emu_present(window);
        const int64_t latest = monotonic_100ns();
        Poll p = poll(session);
        if (texture_mode) release_texture(p);
        wgc_frame_info info = frame_info(session, &ok);
        ASSERT_TRUE(ok);
        EXPECT_EQ(info.is_new, 1u);
        EXPECT_EQ(info.frame_number, before + 3);  // two were never handed out
        EXPECT_GE(info.system_time, earliest);
        EXPECT_LE(info.system_time, latest);
        EXPECT_EQ(info.content_width, 48);
        EXPECT_EQ(info.content_height, 32);
        p = poll(session);  // the same picture again
        if (texture_mode) release_texture(p);
        const wgc_frame_info again = frame_info(session, &ok);
        EXPECT_EQ(again.is_new, 0u);
        EXPECT_EQ(again.frame_number, info.frame_number);
        EXPECT_EQ(again.system_time, info.system_time);
    }
    // A capture started again numbers its frames from 1.
    wgc_set_capture_to_texture(session, 0);
    ASSERT_EQ(wgc_session_start(session), 1);
    present_and_poll();
    EXPECT_EQ(frame_info(session, &ok).frame_number, 1u);
    // A host built against the first, smaller struct gets the fields that fit and nothing beyond them.
    wgc_frame_info first{};
    first.size = offsetof(wgc_frame_info, dxgi_format);
    first.dxgi_format = -1;
    EXPECT_EQ(wgc_get_frame_info(session, &first), 1);
    EXPECT_EQ(first.frame_number, 1u);
    EXPECT_EQ(first.dxgi_format, -1);
    EXPECT_EQ(frame_info(session, &ok).dxgi_format, 87);
    // Refused without writing: a null session or info, a size that is too small.
    wgc_frame_info small{};
    small.size = offsetof(wgc_frame_info, dxgi_format) - 1;
    EXPECT_EQ(wgc_get_frame_info(session, &small), 0);
    EXPECT_EQ(small.frame_number, 0u);
    EXPECT_EQ(wgc_get_frame_info(session, nullptr), 0);
    EXPECT_EQ(wgc_get_frame_info(nullptr, &small), 0);
}

// The wait needs no message dispatching: frames arrive on the service's thread. Its bounds are loose, since
// the machine may be loaded; what is checked is that it ends for the right reason.
TEST_F(FramesTest, WaitEndsWithAFrameATimeoutOrTheEndOfTheCapture) {
    using Clock = std::chrono::steady_clock;
    const auto elapsed_ms = [](Clock::time_point since) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
    };
    EXPECT_EQ(wgc_wait_for_frame(nullptr, 10), 0);
    open_window(32, 32, false);
    auto start = Clock::now();
    EXPECT_EQ(wgc_wait_for_frame(session, 5000), 0);  // not capturing: at once
    EXPECT_LT(elapsed_ms(start), 1000);
    ASSERT_EQ(wgc_session_start(session), 1);

    start = Clock::now();
    EXPECT_EQ(wgc_wait_for_frame(session, 100), 0);
    EXPECT_GE(elapsed_ms(start), 100);

    std::thread presenter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        corvo_emu_present(window);
    });
    start = Clock::now();
    EXPECT_EQ(wgc_wait_for_frame(session, 10000), 1);
    EXPECT_LT(elapsed_ms(start), 5000);
    presenter.join();
    EXPECT_EQ(wgc_wait_for_frame(session, 10000), 1);  // still waiting for the poll: at once
    EXPECT_TRUE(poll(session).ok);

    // The capture ending ends a wait, on the start thread and on another, within 250 ms and with no thread
    // dispatching: the target closing (which the wait itself finds), the device lost (which the status tells
    // at once, without a poll), or a destroy.
    wgc_session_destroy(session);
    enum Ending { kClose, kDeviceLost, kDestroy };
    for (const Ending ending : {kClose, kDeviceLost, kDestroy})
        for (const bool on_start_thread : {true, false}) {
            if (ending == kDestroy && on_start_thread) continue;  // the start thread is where it is destroyed
            SCOPED_TRACE(testing::Message()
                         << "ending " << ending << (on_start_thread ? " on" : " off") << " the start thread");
            open_window(32, 32);
            std::atomic<int> waited{-1};
            Clock::time_point ended, returned;
            auto wait = [&, s = session] {
                waited = wgc_wait_for_frame(s, 5000);
                returned = Clock::now();
            };
            auto end = [&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                ended = Clock::now();
                if (ending == kClose) corvo_emu_close(window);
                if (ending == kDeviceLost) corvo_emu_remove_devices(int32_t(0x887A0006));
                if (ending == kDestroy) wgc_session_destroy(std::exchange(session, nullptr));
            };
            std::thread other(on_start_thread ? std::function<void()>(end) : std::function<void()>(wait));
            on_start_thread ? wait() : end();
            other.join();
            EXPECT_EQ(waited.load(), 0);
            EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(returned - ended).count(), 250);
            if (session) {
                log.clear();
                EXPECT_EQ(wgc_get_status(session), 0);
                const std::vector<std::string> lines = log.texts();
                EXPECT_EQ(std::count(lines.begin(), lines.end(), "Wgc on_closed"), ending == kClose ? 1 : 0);
                wgc_session_destroy(std::exchange(session, nullptr));
            }
        }
}

// The number, read as major << 16 | minor << 8 | patch, is the version the build took from the header's text.
TEST_F(FramesTest, VersionIsTheProjects) {
    const uint32_t version = wgc_get_version();
    const std::string read = std::to_string(version >> 16) + "." + std::to_string(version >> 8 & 0xFF) + "." +
                             std::to_string(version & 0xFF);
    EXPECT_EQ(read, CORVO_PROJECT_VERSION);
}

}  // namespace

namespace {

// The picture a poll handed out, in whatever mode and format, as 8-bit BGRA.
Picture picture_of(wgc_session session, const Poll &p, bool texture_mode) {
    wgc_frame_info info{};
    info.size = sizeof info;
    if (!wgc_get_frame_info(session, &info)) return {};
    if (texture_mode) return picture_of_texture(static_cast<ID3D11Texture2D *>(p.frame), info.sdr_white_nits);
    return picture_of_buffer(p.frame, p.width, p.height, info.dxgi_format, info.sdr_white_nits);
}

// The pattern's pixels [left, right) x [top, bottom).
Picture pattern_part(int32_t left, int32_t top, int32_t right, int32_t bottom) {
    Picture part(right - left, bottom - top);
    for (int32_t y = top; y < bottom; ++y)
        for (int32_t x = left; x < right; ++x)
            part.pixels[size_t(y - top) * part.width + (x - left)] = pattern(x, y);
    return part;
}

}  // namespace

// A region of a 100 x 37 window on an HDR monitor in each mode and format: exactly its pixels, clipped to the
// content; one wholly outside hands out nothing; null or all zero is the whole; frame info keeps the content's size.
TEST_F(FramesTest, RegionPicturesAreExactInEveryModeAndFormat) {
    struct Row {
        wgc_rect region;
        int32_t left, top, right, bottom;  // what the picture shows; nothing when empty
    };
    const Row rows[] = {
        {{10, 5, 50, 30}, 10, 5, 50, 30},     {{0, 0, 1, 1}, 0, 0, 1, 1},      {{70, 30, 400, 90}, 70, 30, 100, 37},
        {{99, 36, 100, 37}, 99, 36, 100, 37}, {{100, 0, 120, 10}, 0, 0, 0, 0}, {{0, 0, 0, 0}, 0, 0, 100, 37},
        {{33, 0, 65, 37}, 33, 0, 65, 37},
    };
    // On an HDR monitor, so that the 8-bit picture made from HDR is made in the region alone.
    const HMONITOR monitor = corvo_emu_create_monitor(640, 480);
    corvo_emu_set_hdr(monitor, 1, 200);
    for (const bool texture_mode : {false, true})
        for (const int32_t format : {CORVO_WGC_FORMAT_BGRA8, CORVO_WGC_FORMAT_SDR_FROM_HDR, CORVO_WGC_FORMAT_FP16})
            for (const Row &row : rows) {
                SCOPED_TRACE(testing::Message()
                             << "texture " << texture_mode << ", format " << format << ", region " << row.region.left
                             << "," << row.region.top << "," << row.region.right << "," << row.region.bottom);
                open_window(100, 37, false);
                ASSERT_EQ(wgc_set_pixel_format(session, format), 1);
                wgc_set_capture_to_texture(session, texture_mode);
                ASSERT_EQ(wgc_session_start(session), 1);
                wgc_set_dirty_rect(session, 1);
                paint_pattern(window, 100, 37);
                ASSERT_EQ(wgc_set_region(session, &row.region), 1);
                const Poll p = present_and_poll();
                if (row.right == 0) {
                    EXPECT_FALSE(p.ok);
                    EXPECT_EQ(p.width, 0);
                    EXPECT_EQ(p.height, 0);
                } else {
                    ASSERT_TRUE(p.ok);
                    EXPECT_EQ(p.width, row.right - row.left);
                    EXPECT_EQ(p.height, row.bottom - row.top);
                    EXPECT_EQ(picture_of(session, p, texture_mode),
                              pattern_part(row.left, row.top, row.right, row.bottom));
                    wgc_frame_info info{};
                    info.size = sizeof info;
                    ASSERT_EQ(wgc_get_frame_info(session, &info), 1);
                    EXPECT_EQ(info.content_width, 100);
                    EXPECT_EQ(info.content_height, 37);
                    if (texture_mode) release_texture(p);
                }
                // Back to the whole: the next picture is new (unless it was the whole before), and whole.
                const bool was_whole = row.region.right == 0;
                ASSERT_EQ(wgc_set_region(session, nullptr), 1);
                const Poll whole = present_and_poll();
                ASSERT_TRUE(whole.ok);
                EXPECT_EQ(whole.width, 100);
                EXPECT_EQ(wgc_get_dirty_rects(session, nullptr, 0), was_whole ? 0 : -1);
                EXPECT_EQ(wgc_get_update_ratio(session), was_whole ? 0.0f : 1.0f);
                EXPECT_EQ(picture_of(session, whole, texture_mode), pattern_part(0, 0, 100, 37));
                if (texture_mode) release_texture(whole);
                wgc_session_destroy(session);
                session = nullptr;
                corvo_emu_close(window);
            }
    corvo_emu_close(monitor);
}

// Refused rectangles leave the region as it was, with a warning; the region holds from the next picture read, and
// a move of it makes that picture wholly new.
TEST_F(FramesTest, RegionIsCheckedAndHoldsFromTheNextPictureRead) {
    open_window(64, 64);
    wgc_set_dirty_rect(session, 1);
    paint_pattern(window, 64, 64);
    const wgc_rect region{8, 8, 40, 24};
    ASSERT_EQ(wgc_set_region(session, &region), 1);
    ASSERT_TRUE(present_and_poll().ok);
    for (const wgc_rect refused : {wgc_rect{-1, 0, 10, 10}, wgc_rect{0, -1, 10, 10}, wgc_rect{10, 0, 10, 10},
                                   wgc_rect{0, 10, 10, 9}, wgc_rect{5, 5, 4, 4}}) {
        log.clear();
        EXPECT_EQ(wgc_set_region(session, &refused), 0);
        const std::string line =
            "Failed to set region " + std::to_string(refused.left) + "," + std::to_string(refused.top) + "," +
            std::to_string(refused.right) + "," + std::to_string(refused.bottom);
        EXPECT_EQ(log.lines(), (std::vector<LogLine>{{2, line, line.size()}}));
    }
    Poll p = present_and_poll();
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.width, 32);
    EXPECT_EQ(wgc_get_dirty_rects(session, nullptr, 0), 0);  // the same region, unchanged

    // Moved by one pixel, the same size: wholly new, and the new place's pixels.
    const wgc_rect moved{9, 8, 41, 24};
    ASSERT_EQ(wgc_set_region(session, &moved), 1);
    p = poll(session);  // no new frame yet: the picture before, unchanged
    EXPECT_EQ(wgc_get_dirty_rects(session, nullptr, 0), 0);
    EXPECT_EQ(picture_of_buffer(p.frame, p.width, p.height), pattern_part(8, 8, 40, 24));
    p = present_and_poll();
    EXPECT_EQ(wgc_get_dirty_rects(session, nullptr, 0), -1);
    EXPECT_EQ(wgc_get_update_ratio(session), 1.0f);
    EXPECT_EQ(picture_of_buffer(p.frame, p.width, p.height), pattern_part(9, 8, 41, 24));
}

// A framed window's client area, then a region of it, following the window as it resizes; a monitor has none.
TEST_F(FramesTest, ClientAreaOfAFramedWindowIsExactAndFollowsAResize) {
    open_window(120, 90);
    corvo_emu_move_window(window, 30, 20);
    corvo_emu_set_window_frame(window, 4, 24, 5, 6);  // client area 111 x 60 at (4, 24)
    paint_pattern(window, 120, 90);
    wgc_set_dirty_rect(session, 1);
    ASSERT_EQ(wgc_set_client_area(session, 1), 1);
    SetThreadDpiAwarenessContext(DPI_AWARENESS_CONTEXT_UNAWARE);
    Poll p = present_and_poll();
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(picture_of_buffer(p.frame, p.width, p.height), pattern_part(4, 24, 115, 84));
    // The rectangles were read per-monitor aware; the host's thread keeps its own awareness.
    EXPECT_EQ(SetThreadDpiAwarenessContext(DPI_AWARENESS_CONTEXT_UNAWARE), DPI_AWARENESS_CONTEXT_UNAWARE);

    // Minimised, it has no client area: frames that still come hand out nothing new; restored, what changed.
    corvo_emu_set_window_minimised(window, 1);
    corvo_emu_fill(window, 10, 30, 8, 8, 0xff0000ffu);
    p = present_and_poll();
    EXPECT_EQ(picture_of_buffer(p.frame, p.width, p.height), pattern_part(4, 24, 115, 84));
    EXPECT_EQ(wgc_get_dirty_rects(session, nullptr, 0), 0);
    corvo_emu_set_window_minimised(window, 0);
    p = present_and_poll();
    EXPECT_EQ(wgc_get_dirty_rects(session, nullptr, 0), 1);
    EXPECT_EQ(pixel_at(p, 6, 6), 0xff0000ffu);

    const wgc_rect region{100, 50, 200, 200};  // relative to the client area, clipped to it
    ASSERT_EQ(wgc_set_region(session, &region), 1);
    p = present_and_poll();
    EXPECT_EQ(picture_of_buffer(p.frame, p.width, p.height), pattern_part(104, 74, 115, 84));

    ASSERT_EQ(wgc_set_region(session, nullptr), 1);
    corvo_emu_resize(window, 160, 100);
    paint_pattern(window, 160, 100);
    present_and_poll();  // a frame of the old pool's size may come first
    p = present_and_poll();
    EXPECT_EQ(picture_of_buffer(p.frame, p.width, p.height), pattern_part(4, 24, 155, 94));
    ASSERT_EQ(wgc_set_client_area(session, 0), 1);
    p = present_and_poll();
    EXPECT_EQ(picture_of_buffer(p.frame, p.width, p.height), pattern_part(0, 0, 160, 100));

    const HMONITOR monitor = corvo_emu_create_monitor(64, 48);
    const wgc_session on_monitor = wgc_session_create2(monitor);
    log.clear();
    EXPECT_EQ(wgc_set_client_area(on_monitor, 1), 0);
    EXPECT_EQ(wgc_set_client_area(on_monitor, 0), 1);
    const std::vector<std::string> lines = {"Failed to set client area: the target is a monitor",
                                            "Set client area off"};
    EXPECT_EQ(log.lines(), (std::vector<LogLine>{{2, lines[0], lines[0].size()}, {1, lines[1], lines[1].size()}}));
    wgc_session_destroy(on_monitor);
    corvo_emu_close(monitor);
}
