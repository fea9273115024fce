// A started capture of a simulated window through the exports, with helpers to present and poll frames.
#pragma once

#include <cstdint>
#include <vector>

#include "corvo_emu.h"
#include "corvo_wgc.h"
#include "corvo_emu_d3d11.h"
#include "emu_fixture.h"

// How long, in the 100 ns units of the frames' clock, the session goes without reading the monitor's mode and
// SDR white: a test moves the emulated clock this far for the next frame to read them.
constexpr int64_t kColourReadInterval = 250 * 10'000;

struct Poll {
    bool ok = false;
    void *frame = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    uint8_t cursor = 0;
};

inline Poll poll(wgc_session session) {
    Poll p;
    p.ok = wgc_get_recent_frame(session, &p.frame, 0, &p.width, &p.height, &p.cursor) != 0;
    return p;
}

// Pixel (x, y) of a polled buffer frame, as B, G, R, A in one little-endian word.
inline uint32_t pixel_at(const Poll &p, int32_t x, int32_t y) {
    const auto *bytes = static_cast<const uint8_t *>(p.frame) + (size_t(y) * size_t(p.width) + size_t(x)) * 4;
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

class CaptureTest : public EmuTest {
protected:
    void TearDown() override {
        if (session) wgc_session_destroy(session);
        session = nullptr;
        EmuTest::TearDown();
    }

    // A session for a new window of that size; started unless `start` is false.
    void open_window(int32_t width, int32_t height, bool start = true) {
        window = corvo_emu_create_window(width, height);
        session = wgc_session_create(window);
        ASSERT_NE(session, nullptr);
        if (start) {
            ASSERT_EQ(wgc_session_start(session), 1) << "start failed";
        }
    }

    Poll present_and_poll() {
        corvo_emu_present(window);
        return poll(session);
    }

    HWND window = nullptr;
    wgc_session session = nullptr;
};
