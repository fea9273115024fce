// A seeded random run of what a host and its target do (paint, present, resize, switch modes and detection,
// faults on the read-back, several of them between two polls, a logger that destroys the session on random
// lines, frame textures that the detector may or may not bind to compare in place, the pixel format asked for and
// the monitor's HDR mode and SDR white, whose device captures: the library's, the host's (one device that the
// sessions one after another share, made anew once lost), or the library's rebuilt after each loss, and a region
// of the window set, moved, refused or left outside it), checked after every poll against a plain model: the
// picture handed out is the newest delivered frame's, or, when its read-back failed, the picture handed out
// before; the ratio is 0 exactly when the picture handed out did not change, and the changed rectangles cover
// every change; and the host's context keeps what the host bound there, and nothing of the library's.
#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <string>
#include <vector>

#include "picture.h"
#include "session_harness.h"

namespace {

constexpr const char *kFaulted[] = {"Map", "CreateTexture2D", "allocate", "CreateShaderResourceView"};

// A delivered frame as the model sees it: the target's pixels and size when it was presented, in a pool
// texture of the pool's size then.
struct Delivered {
    Picture target;
    int32_t pool_width, pool_height;
    int display;  // the monitor's state it was composed in, counted from the test's start
};

// The session the logger destroys on one line in kDestroyOneIn; the model then begins again with a new target.
wgc_session *destroyable = nullptr;
std::minstd_rand destroy_draw;
constexpr uint32_t kDestroyOneIn = 50;

void destroying_logger(int32_t, const char *, uint64_t) {
    if (destroyable && *destroyable && destroy_draw() % kDestroyOneIn == 0)
        wgc_session_destroy(std::exchange(*destroyable, nullptr));
}

// Whose device a session captures on, and what follows its loss: the host starts again (on a new device of its
// own, when it gave its own), or the session rebuilds it.
enum class DeviceKind { kOwn, kHost, kRecovering };

class FrameModel : public CaptureTest {
protected:
    void TearDown() override {
        wgc_register_logger(nullptr);
        destroyable = nullptr;
        CaptureTest::TearDown();
    }

    void run(uint32_t seed, int polls) {
        std::mt19937 random(seed);
        destroy_draw.seed(seed);
        wgc_register_logger(destroying_logger);
        auto below = [&](uint32_t n) { return int32_t(random() % n); };
        int32_t width = 0, height = 0, pool_width = 0, pool_height = 0;
        Picture target;
        bool readable = seed % 2 != 0;  // of the pool's textures; a new setting holds from the pool's next resize
        corvo_emu_set_frame_shader_readable(readable ? 1 : 0);
        bool texture_mode = false, detection = false, faults = false;
        int32_t format = CORVO_WGC_FORMAT_BGRA8;
        wgc_rect region{};     // all zero: the whole window
        bool outside = false;  // the last region read lay outside the content: nothing is handed out
        int handed_mode = -1;  // the mode of the picture the host got at its last poll; -1 none
        bool unknown[2] = {};  // by mode: a read failed while nothing was handed out, so the output's picture is
                               // not known (its failed update may have dropped it)
        HMONITOR monitor = nullptr;
        int display = 0;  // changes of the monitor's mode or white
        std::vector<Delivered> delivered;
        Picture held[2];  // what the host got last in buffer mode and in texture mode
        int32_t held_format[2] = {DXGI_FORMAT_UNKNOWN, DXGI_FORMAT_UNKNOWN};  // its DXGI format
        float held_white[2] = {80.0f, 80.0f};  // the SDR white it was made 8-bit at, when it was FP16
        // Whether a picture of `dxgi_format` is what a host that asked for `format` may be handed.
        auto fits = [](int32_t format, int32_t dxgi_format) {
            return format == CORVO_WGC_FORMAT_FP16 ? dxgi_format == DXGI_FORMAT_R16G16B16A16_FLOAT
                   : format == CORVO_WGC_FORMAT_BGRA8
                       ? dxgi_format == DXGI_FORMAT_B8G8R8A8_UNORM
                       : dxgi_format == DXGI_FORMAT_B8G8R8A8_UNORM || dxgi_format == DXGI_FORMAT_R8G8B8A8_UNORM;
        };
        Picture before_paint;  // the target before its last paint
        int restarts = 0;
        DeviceKind device_kind = DeviceKind::kOwn;
        ID3D11Device *host = nullptr;  // the host's device, made anew once lost
        ID3D11DeviceContext *host_context = nullptr;
        // The host's own constants, bound in a slot that the kernels do not use: the library leaves them there.
        ID3D11Buffer *host_constants = nullptr;
        auto release_host = [&] {
            ID3D11Buffer *none = nullptr;  // what is bound keeps the device of the emulated platform
            host_context->CSSetConstantBuffers(1, 1, &none);
            host_constants->Release();
            host_context->Release();
            host->Release();
        };
        auto working_host = [&] {
            if (host && SUCCEEDED(host->GetDeviceRemovedReason())) return host;
            if (host) release_host();
            D3D_FEATURE_LEVEL level = D3D_FEATURE_LEVEL_11_0;
            host = nullptr;
            D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT, &level,
                              1, D3D11_SDK_VERSION, &host, nullptr, &host_context);
            D3D11_BUFFER_DESC constants{};
            constants.ByteWidth = 16;
            constants.Usage = D3D11_USAGE_DEFAULT;
            constants.BindFlags = D3D11_BIND_CONSTANT_BUFFER;
            host->CreateBuffer(&constants, nullptr, &host_constants);
            host_context->CSSetConstantBuffers(1, 1, &host_constants);
            return host;
        };

        for (int step = 0; step < polls; ++step) {
            SCOPED_TRACE(testing::Message()
                         << "seed " << seed << ", step " << step << ", device " << int(device_kind));
            if (!session) {
                // First, or after the logger destroyed the session: a new target, and a model of nothing held.
                if (window) corvo_emu_close(window);
                if (!monitor) monitor = corvo_emu_create_monitor(640, 480);  // where the windows are shown
                width = 1 + below(48);
                height = 1 + below(48);
                destroyable = nullptr;  // a start must succeed
                open_window(width, height, false);
                device_kind = DeviceKind(restarts % 3);
                if (device_kind == DeviceKind::kHost) {
                    ASSERT_EQ(wgc_set_device(session, working_host()), 1);
                }
                if (device_kind == DeviceKind::kRecovering) wgc_set_recovery(session, 1);
                ASSERT_EQ(wgc_session_start(session), 1);
                destroyable = &session;
                target = Picture(width, height);
                pool_width = width;
                pool_height = height;
                texture_mode = detection = faults = outside = false;
                handed_mode = -1;
                format = CORVO_WGC_FORMAT_BGRA8;
                region = {};
                delivered.clear();
                held[0] = held[1] = {};
                unknown[0] = unknown[1] = false;
                ++restarts;
            }
            // Mostly one action before a poll, sometimes a burst of them with several presents: the host does
            // not poll after every frame, and the newest frame must still be the one handed out.
            // A logger may destroy the session on the line of any switch: the burst ends there.
            for (int burst = below(5) == 0 ? 2 + below(4) : 1; burst > 0 && session; --burst) {
                const int action = below(100);
                if (action < 30) {
                    before_paint = target;
                    paint(window, target, below(width + 8) - 4, below(height + 8) - 4, 1 + below(20), 1 + below(20),
                          0xFF000000u | (random() & 0xFFFFFFu));
                } else if (action < 34) {
                    width = 1 + below(70);
                    height = 1 + below(70);
                    corvo_emu_resize(window, width, height);
                    target.resize(width, height);
                } else if (action < 38) {
                    texture_mode = !texture_mode;
                    wgc_set_capture_to_texture(session, texture_mode ? 1 : 0);
                } else if (action < 42) {
                    detection = !detection;
                    wgc_set_dirty_rect(session, detection ? 1 : 0);
                } else if (action < 46) {
                    corvo_emu_fail(kFaulted[below(4)], static_cast<int32_t>(0x8007000E), uint32_t(below(4)),
                                   uint32_t(1 + below(3)));
                    faults = true;
                } else if (action < 48) {
                    readable = !readable;
                    corvo_emu_set_frame_shader_readable(readable ? 1 : 0);
                } else if (action < 52 && before_paint.width == width && before_paint.height == height) {
                    // Back to the picture before the last paint, which a stale history would take as unchanged.
                    for (int32_t y = 0; y < height; ++y)
                        for (int32_t x = 0; x < width; ++x)
                            if (target.at(x, y) != before_paint.at(x, y))
                                paint(window, target, x, y, 1, 1, before_paint.at(x, y));
                } else if (action < 50) {
                    // 8-bit content comes back exactly in every format: from HDR frames through the library's
                    // conversion, and FP16 frames as the test makes them 8-bit.
                    format = below(3);
                    ASSERT_EQ(wgc_set_pixel_format(session, format), 1);
                } else if (action < 51) {
                    constexpr uint32_t kWhites[] = {80, 200, 480};
                    corvo_emu_set_hdr(window, below(2), kWhites[below(3)]);
                    corvo_emu_advance_clock(kColourReadInterval);  // the next frame reads the white again
                    ++display;
                } else if (action < 53) {
                    // The device is lost: a poll ends the capture, and the host starts it again on a new
                    // device, or, with recovery, the polls go on and the next rebuilds at once. The buffer keeps its
                    // picture; the texture went with the old device.
                    corvo_emu_remove_devices(int32_t(0x887A0006));  // DXGI_ERROR_DEVICE_HUNG
                    const Poll lost = poll(session);
                    if (lost.ok && texture_mode) static_cast<ID3D11Texture2D *>(lost.frame)->Release();
                    if (!session) break;
                    handed_mode = lost.ok ? int(texture_mode) : -1;
                    for (const char *operation : kFaulted) corvo_emu_fail(operation, 0, 0, 0);
                    ASSERT_EQ(wgc_get_status(session), device_kind == DeviceKind::kRecovering ? 1 : 0);
                    if (device_kind == DeviceKind::kRecovering) {
                        const Poll rebuilt = poll(session);
                        if (rebuilt.ok && texture_mode) static_cast<ID3D11Texture2D *>(rebuilt.frame)->Release();
                        if (!session) break;
                        handed_mode = rebuilt.ok ? int(texture_mode) : -1;
                        ASSERT_EQ(wgc_get_status(session), 1);
                    } else {
                        destroyable = nullptr;  // a start must succeed
                        if (device_kind == DeviceKind::kHost) {
                            ASSERT_EQ(wgc_set_device(session, working_host()), 1);
                        }
                        ASSERT_EQ(wgc_session_start(session), 1);
                        destroyable = &session;
                        handed_mode = -1;
                    }
                    delivered.clear();
                    pool_width = width;
                    pool_height = height;
                    held[1] = {};
                    faults = false;
                } else if (action < 57) {
                    // A region of the window, sometimes reaching past it or wholly outside, or the whole again; a
                    // rectangle no region can be is refused and changes nothing.
                    wgc_rect asked{};
                    if (below(4) != 0) {
                        asked.left = below(width + 8) - (below(8) == 0 ? 1 : 0);
                        asked.top = below(height + 8);
                        asked.right = asked.left + below(40) + (below(8) == 0 ? 0 : 1);
                        asked.bottom = asked.top + 1 + below(40);
                    }
                    const bool whole = asked.left == 0 && asked.top == 0 && asked.right == 0 && asked.bottom == 0;
                    const bool valid = whole || (asked.left >= 0 && asked.right > asked.left);
                    ASSERT_EQ(wgc_set_region(session, &asked), valid ? 1 : 0);
                    if (valid) region = asked;
                }
                if (below(100) < 55 && corvo_emu_present(window) > 0)
                    delivered.push_back({target, pool_width, pool_height, display});
            }
            const Poll p = poll(session);
            const float ratio = wgc_get_update_ratio(session);
            for (const char *operation : kFaulted) corvo_emu_fail(operation, 0, 0, 0);
            if (device_kind == DeviceKind::kHost) {
                // Also after a destroy or a start again: the host's context keeps the host's state, and nothing of
                // the library's.
                ID3D11Buffer *bound[2] = {};
                host_context->CSGetConstantBuffers(0, 2, bound);
                for (ID3D11Buffer *buffer : bound)
                    if (buffer) buffer->Release();
                ASSERT_EQ(bound[0], nullptr) << "the library's constants left bound in the host's context";
                ASSERT_EQ(bound[1], host_constants) << "the host's constants unbound";
            }
            if (!session) {
                ASSERT_FALSE(p.ok) << "a frame handed out by a destroyed session";
                continue;
            }

            // The region a picture must match: in buffer mode the content cropped to the texture, in texture
            // mode the same region of the whole texture (beyond it the pool's texels are not the target's).
            bool read_outside = false;  // the frame read shows nothing of the region
            Picture expected;
            int32_t region_width = 0, region_height = 0, texture_width = 0, texture_height = 0;
            if (!delivered.empty()) {
                const Delivered &newest = delivered.back();
                texture_width = newest.pool_width;
                texture_height = newest.pool_height;
                region_width = std::min(newest.target.width, newest.pool_width);
                region_height = std::min(newest.target.height, newest.pool_height);
                expected = newest.target.crop(region_width, region_height);
                pool_width = newest.target.width;  // the poll recreates the pool at the content size
                pool_height = newest.target.height;
                // A region: its part of the content, in both modes.
                if (region.right > 0) {
                    const int32_t left = std::min(region.left, region_width),
                                  top = std::min(region.top, region_height);
                    const int32_t right = std::min(region.right, region_width),
                                  bottom = std::min(region.bottom, region_height);
                    read_outside = right <= left || bottom <= top;
                    if (!read_outside) expected = expected.crop(right - left, bottom - top, left, top);
                    texture_width = region_width = std::max(right - left, 0);
                    texture_height = region_height = std::max(bottom - top, 0);
                }
            }
            const bool frame_read = !delivered.empty();
            // A frame composed before the monitor changed is read with what the monitor is now: not checked.
            const bool same_display = frame_read && delivered.back().display == display;
            delivered.clear();

            Picture &before = held[texture_mode ? 1 : 0];
            if (!p.ok) {
                // Nothing handed out: nothing to tell of it.
                wgc_frame_info none{};
                none.size = sizeof none;
                ASSERT_EQ(wgc_get_frame_info(session, &none), 0);
                ASSERT_EQ(wgc_get_dirty_rects(session, nullptr, 0), -1);
            }
            const int mode_before = std::exchange(handed_mode, p.ok ? int(texture_mode) : -1);
            if (read_outside) {
                outside = true;
                // Nothing, whichever the mode, until a picture of a region inside the content is read; the
                // outputs keep their pictures for a later switch of mode.
                ASSERT_FALSE(p.ok) << "a picture of a region outside the content";
                ASSERT_EQ(p.width, 0);
                ASSERT_EQ(p.height, 0);
                faults = false;
                continue;
            }
            if (!p.ok) {
                // After a switch of format the picture held is not handed out until a frame gives one of it, and
                // after a region outside the content nothing is until a read succeeds; the host still has them.
                const bool other_format = !before.pixels.empty() && !fits(format, held_format[texture_mode ? 1 : 0]);
                ASSERT_TRUE(faults || before.pixels.empty() || outside || other_format ||
                            unknown[texture_mode ? 1 : 0])
                    << "no picture without a failure";
                if (outside) {
                    ASSERT_EQ(p.width, 0);
                    unknown[texture_mode ? 1 : 0] |= faults;
                } else if (!other_format) {
                    before = {};
                    unknown[texture_mode ? 1 : 0] = false;
                }
                faults = false;
                continue;
            }
            outside = false;
            wgc_frame_info info{};
            info.size = sizeof info;
            ASSERT_EQ(wgc_get_frame_info(session, &info), 1);
            ASSERT_EQ(info.bytes_per_pixel, info.dxgi_format == DXGI_FORMAT_R16G16B16A16_FLOAT ? 8u : 4u);
            ASSERT_TRUE(fits(format, info.dxgi_format))
                << "format " << format << " asked, " << info.dxgi_format << " handed out";
            held_format[texture_mode ? 1 : 0] = info.dxgi_format;
            // `seen` is the picture made 8-bit at the white of the one before: an FP16 picture whose bytes did not
            // change looks different at another white, which the detector, comparing bytes, rightly does not see.
            Picture got, seen;
            const float white_before = held_white[texture_mode ? 1 : 0];
            if (texture_mode) {
                auto *texture = static_cast<ID3D11Texture2D *>(p.frame);
                D3D11_TEXTURE2D_DESC desc;
                texture->GetDesc(&desc);
                ASSERT_EQ(int32_t(desc.Format), info.dxgi_format);
                got = picture_of_texture(texture, info.sdr_white_nits);
                seen = picture_of_texture(texture, white_before);
                texture->Release();
            } else {
                got = picture_of_buffer(p.frame, p.width, p.height, info.dxgi_format, info.sdr_white_nits);
                seen = picture_of_buffer(p.frame, p.width, p.height, info.dxgi_format, white_before);
            }
            ASSERT_FALSE(got.pixels.empty());
            if (device_kind == DeviceKind::kHost) {
                ASSERT_EQ(wgc_get_device(session), host);
            }
            if (same_display && (ratio > 0.0f || !faults)) {
                if (texture_mode) {
                    ASSERT_EQ(got.width, texture_width);
                    ASSERT_EQ(got.height, texture_height);
                    ASSERT_EQ(got.crop(region_width, region_height), expected);
                } else {
                    ASSERT_EQ(got, expected);
                }
            }
            // The changed rectangles, when known, cover every pixel that differs from the picture before.
            const int32_t count = wgc_get_dirty_rects(session, nullptr, 0);
            // Told against the picture the host got last: one of the other output is no base.
            if (mode_before != int(texture_mode)) {
                ASSERT_EQ(count, -1);
            }
            if (count >= 0) {
                ASSERT_EQ(got.width, before.width);
                ASSERT_EQ(got.height, before.height);
                std::vector<wgc_rect> rects(static_cast<size_t>(count));
                wgc_get_dirty_rects(session, rects.data(), count);
                Picture covered = before;
                for (const wgc_rect &r : rects)
                    for (int32_t y = r.top; y < r.bottom; ++y)
                        for (int32_t x = r.left; x < r.right; ++x)
                            covered.pixels[size_t(y) * got.width + x] = seen.at(x, y);
                ASSERT_EQ(covered, seen) << "a change outside the rectangles";
            }
            const bool known = !std::exchange(unknown[texture_mode ? 1 : 0], false);
            if (ratio == 0.0f) {
                if (known) {
                    ASSERT_EQ(seen, before) << "ratio 0 but the picture changed";
                }
            } else {
                ASSERT_TRUE(frame_read) << "a ratio without a new frame";
            }
            before = got;
            held_white[texture_mode ? 1 : 0] = info.sdr_white_nits;
            faults = false;
        }
        EXPECT_GT(restarts, 1) << "the logger never destroyed the session";
        if (session) wgc_session_destroy(std::exchange(session, nullptr));
        if (host) release_host();
        if (window) corvo_emu_close(window);
        window = nullptr;
        corvo_emu_close(monitor);
    }
};

TEST_F(FrameModel, RandomHostAndTargetSeed1) { run(1, 25000); }
TEST_F(FrameModel, RandomHostAndTargetSeed2) { run(2, 25000); }
TEST_F(FrameModel, RandomHostAndTargetSeed3) { run(3, 25000); }
TEST_F(FrameModel, RandomHostAndTargetSeed4) { run(4, 25000); }

}  // namespace
