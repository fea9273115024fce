// A session's life outside the happy path, through the exports: starting again, failed starts, device loss
// of any kind, null arguments, a logger that destroys the session, and faults at every call of a start.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform_operations.h"
#include "session_harness.h"

namespace {

using Lifecycle = CaptureTest;

// The device that owns a texture handed out in texture mode.
ID3D11Device *device_of(void *texture) {
    ID3D11Device *device = nullptr;
    static_cast<ID3D11Texture2D *>(texture)->GetDevice(&device);
    device->Release();  // the session holds it
    return device;
}

TEST_F(Lifecycle, SecondStartThatCannotMakeADeviceLeavesNothingRunning) {
    open_window(32, 32);
    present_and_poll();
    corvo_emu_fail("D3D11CreateDevice", kFail, 0, 1);
    EXPECT_EQ(wgc_session_start(session), 0);
    EXPECT_EQ(wgc_get_status(session), 0);
    EXPECT_EQ(corvo_emu_count("live_objects"), 0u);  // the first start's pool is gone with it
    EXPECT_EQ(corvo_emu_present(window), 0);
    const Poll p = poll(session);  // the buffer, which belongs to no device, is still the host's
    EXPECT_TRUE(p.ok);
    EXPECT_EQ(wgc_session_start(session), 1);
    EXPECT_TRUE(present_and_poll().ok);
}

TEST_F(Lifecycle, FailedSecondStartAtAnyStepLeavesTheSessionStoppedAndStartable) {
    for (const char *operation : {"CreateCaptureSession", "StartCapture", "add_FrameArrived", "add_Closed",
                                  "put_IsCursorCaptureEnabled", "put_IsBorderRequired", "CreateFreeThreaded"}) {
        SCOPED_TRACE(operation);
        open_window(32, 32);
        corvo_emu_fail(operation, kFail, 0, 1);
        log.clear();
        EXPECT_EQ(wgc_session_start(session), 0);
        EXPECT_EQ(wgc_get_status(session), 0);
        EXPECT_FALSE(log.at_level(3).empty());
        EXPECT_EQ(corvo_emu_count("live_objects"), 0u);
        EXPECT_EQ(corvo_emu_present(window), 0);  // nothing captures
        EXPECT_EQ(corvo_emu_capture_property(window, "started"), -1);
        EXPECT_EQ(wgc_session_start(session), 1);
        EXPECT_TRUE(present_and_poll().ok);
        wgc_session_destroy(session);
        session = nullptr;
    }
}

TEST_F(Lifecycle, SecondStartKeepsNothingOfTheFirstDevice) {
    open_window(32, 32);
    wgc_set_capture_to_texture(session, 1);
    wgc_set_dirty_rect(session, 1);
    const Poll first = present_and_poll();
    ASSERT_TRUE(first.ok);
    ID3D11Device *first_device = wgc_get_device(session);
    EXPECT_EQ(device_of(first.frame), first_device);
    static_cast<ID3D11Texture2D *>(first.frame)->Release();

    ASSERT_EQ(wgc_session_start(session), 1);
    const Poll second = present_and_poll();
    ASSERT_TRUE(second.ok);
    EXPECT_EQ(device_of(second.frame), wgc_get_device(session));
    static_cast<ID3D11Texture2D *>(second.frame)->Release();
    EXPECT_EQ(wgc_get_update_ratio(session), 1.0f);  // nothing to compare with on a new device
}

// What the host posts to its window and its thread is its loop's to dispatch: a start, a start again, and the
// destroy of the thread's last session leave it where it was.
TEST_F(Lifecycle, StartsAndTheLastDestroyLeaveTheHostsMessagesInItsQueue) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);  // what earlier tests left
    open_window(32, 32);
    ASSERT_EQ(PostMessageW(window, WM_APP + 7, 1, 2), 1);
    PostQuitMessage(3);
    const uint64_t dispatched = corvo_emu_count("DispatchMessageW");
    ASSERT_EQ(wgc_session_start(session), 1);
    wgc_session_destroy(session);
    session = nullptr;
    EXPECT_EQ(corvo_emu_count("DispatchMessageW"), dispatched);
    std::vector<MSG> queued;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) queued.push_back(msg);
    ASSERT_GE(queued.size(), 2u);
    EXPECT_EQ(queued[0].hwnd, window);
    EXPECT_EQ(queued[0].message, WM_APP + 7);
    EXPECT_EQ(queued[0].lParam, 2);
    EXPECT_EQ(queued[1].message, WM_QUIT);
    EXPECT_EQ(queued[1].wParam, 3u);
    EXPECT_EQ(corvo_emu_count("ShutdownQueueAsync"), 1u);  // the start again kept the thread's queue
}

TEST_F(Lifecycle, DeviceRemovedForAnyReasonIsNoticedAtThePollEvenWithoutFrames) {
    for (const int32_t reason : {int32_t(0x887A0006), int32_t(0x887A0020), int32_t(0x887A0005)}) {
        for (const bool texture_mode : {false, true}) {
            SCOPED_TRACE(testing::Message() << std::hex << reason << (texture_mode ? " texture" : " buffer"));
            open_window(32, 32);
            wgc_set_capture_to_texture(session, texture_mode ? 1 : 0);
            const Poll p = present_and_poll();
            if (p.ok && texture_mode) static_cast<ID3D11Texture2D *>(p.frame)->Release();
            corvo_emu_remove_devices(reason);
            log.clear();
            EXPECT_EQ(wgc_get_status(session), 0);  // at once, without a poll
            const Poll q = poll(session);           // no frame arrives
            if (q.ok && texture_mode) static_cast<ID3D11Texture2D *>(q.frame)->Release();
            EXPECT_EQ(wgc_get_status(session), 0);
            char line[64];
            std::snprintf(line, sizeof line, "Capture device lost, reason:%08x; the capture has ended",
                          unsigned(reason));
            EXPECT_EQ(log.at_level(3), std::vector<std::string>{line});
            const Poll r = poll(session);
            if (r.ok && texture_mode) static_cast<ID3D11Texture2D *>(r.frame)->Release();
            EXPECT_EQ(log.at_level(3).size(), 1u);  // said once
            wgc_session_destroy(session);
            session = nullptr;
        }
    }
}

TEST_F(Lifecycle, NullSessionGivesEachExportsFailureValue) {
    void *frame = reinterpret_cast<void *>(0x1);
    int32_t width = 7, height = 7;
    uint8_t cursor = 7;
    EXPECT_EQ(wgc_enable_cursor(nullptr, 1), 0);
    EXPECT_EQ(wgc_show_border(nullptr, 1), 0);
    EXPECT_EQ(wgc_get_device(nullptr), nullptr);
    EXPECT_EQ(wgc_get_recent_frame(nullptr, &frame, 0, &width, &height, &cursor), 0);
    EXPECT_EQ(frame, reinterpret_cast<void *>(0x1));
    EXPECT_EQ(width, 7);
    EXPECT_EQ(wgc_get_status(nullptr), 0);
    EXPECT_EQ(wgc_get_update_ratio(nullptr), 0.0f);
    EXPECT_EQ(wgc_session_start(nullptr), 0);
    wgc_set_capture_to_texture(nullptr, 1);
    wgc_set_dirty_rect(nullptr, 1);
    wgc_session_destroy(nullptr);
}

TEST_F(Lifecycle, NullOutPointersAreLeftAloneAndNoReferenceIsAdded) {
    open_window(32, 32);
    wgc_set_capture_to_texture(session, 1);
    corvo_emu_present(window);
    int32_t width = -1;
    EXPECT_EQ(wgc_get_recent_frame(session, nullptr, 0, &width, nullptr, nullptr), 0);
    EXPECT_EQ(width, 0);  // the others are written: no picture yet, the frame waits for a poll that takes it
    void *frame = nullptr;
    EXPECT_EQ(wgc_get_recent_frame(session, &frame, 0, &width, nullptr, nullptr), 1);
    EXPECT_EQ(width, 32);
    wgc_frame_info info{};
    info.size = sizeof info;
    EXPECT_EQ(wgc_get_frame_info(session, &info), 1);
    EXPECT_EQ(info.is_new, 1u);
    // The session's reference and the one just handed out: the null poll added none.
    EXPECT_EQ(static_cast<ID3D11Texture2D *>(frame)->Release(), 1u);
}

wgc_session destroy_on_line_session = nullptr;
const char *destroy_on_line = nullptr;

void destroying_logger(int32_t, const char *text, uint64_t) {
    if (destroy_on_line_session && std::string_view(text).starts_with(destroy_on_line)) {
        wgc_session_destroy(destroy_on_line_session);
        destroy_on_line_session = nullptr;
    }
}

// A line of the library, and what makes a session's life log it.
struct DestroyOn {
    const char *line;
    const char *fault = nullptr;  // an operation that fails once after `skip` calls
    uint32_t skip = 0;
    bool without_switches = false;  // the system has no cursor, border or interval property
};

constexpr int32_t kOutOfMemory = static_cast<int32_t>(0x8007000E);

TEST_F(Lifecycle, LoggerMayDestroyTheSessionOnItsOwnLines) {
    const DestroyOn lines[] = {
        {"WgcCaptureSession::Start"},
        {"Wgc cursor "},
        {"Wgc border "},
        {"Wgc min update interval"},
        {"IsCursorToggleSupported: no", nullptr, 0, true},
        {"IsBorderRequiredSupported: no", nullptr, 0, true},
        {"Failed to set min update interval", nullptr, 0, true},
        {"Failed to create d3d11 device", "D3D11CreateDevice"},
        {"Winrt exception", "StartCapture"},
        {"Wgc session started."},
        {"Set dirtyRect"},
        {"Failed to allocate", "allocate"},     // the buffer's first allocation, while the staging is mapped
        {"Failed to allocate", "allocate", 1},  // its growth
        {"Failed to recreate the frame pool", "Recreate"},
        {"Wgc on_closed"},
        {"Capture device lost"},
        {"Try to exit wgc thread"},  // the host's own destroy: the logger's second one does nothing
        {"Exception catced", "Close"},
        {"Wgc exit."},
    };
    for (const DestroyOn &on : lines) {
        SCOPED_TRACE(testing::Message() << on.line << (on.fault ? " after a fault of " : "")
                                        << (on.fault ? on.fault : "") << " " << on.skip);
        corvo_emu_reset();
        HWND target = corvo_emu_create_window(32, 32);
        wgc_session s = wgc_session_create(target);
        wgc_set_min_update_interval(s, 1000);
        if (on.without_switches)
            for (const char *property : {"IsCursorCaptureEnabled", "IsBorderRequired", "MinUpdateInterval"})
                corvo_emu_set_property("Windows.Graphics.Capture.GraphicsCaptureSession", property, 0);
        if (on.fault) corvo_emu_fail(on.fault, kOutOfMemory, on.skip, 1);
        destroy_on_line_session = s;
        destroy_on_line = on.line;
        wgc_register_logger(destroying_logger);
        wgc_session_start(s);
        if (destroy_on_line_session) wgc_set_dirty_rect(s, 1);
        if (destroy_on_line_session) {
            corvo_emu_present(target);
            poll(s);
        }
        corvo_emu_resize(target, 64, 48);
        for (int n = 0; n < 2 && destroy_on_line_session; ++n) {  // the pool is recreated, then the buffer grows
            corvo_emu_present(target);
            poll(s);
        }
        if (destroy_on_line_session) {
            corvo_emu_close(target);
            if (std::string_view(on.line) == "Capture device lost") corvo_emu_remove_devices(int32_t(0x887A0006));
            poll(s);  // the line is logged inside this poll, which then returns without touching the session
        }
        if (destroy_on_line_session) wgc_session_destroy(s);
        wgc_register_logger(nullptr);
        EXPECT_EQ(destroy_on_line_session, nullptr) << "the line was not logged";
        destroy_on_line_session = nullptr;
        EXPECT_EQ(corvo_emu_count("live_objects"), 0u);
    }
}

TEST_F(Lifecycle, StartThatFailsAtTheClosedRegistrationCapturesNothing) {
    open_window(32, 32, false);
    corvo_emu_fail("add_Closed", kFail, 0, 1);
    EXPECT_EQ(wgc_session_start(session), 0);
    EXPECT_EQ(corvo_emu_present(window), 0);
    EXPECT_FALSE(poll(session).ok);
}

// Frames arrive on the service's thread, so a poll from another thread hands them out; the switches work from
// any thread, before the start and while capturing, and take effect at once.
TEST_F(Lifecycle, CallsFromAnotherThreadGetTheirDefinedAnswers) {
    open_window(32, 32, false);
    std::thread([s = session] {
        EXPECT_EQ(wgc_enable_cursor(s, 1), 1);
        EXPECT_EQ(wgc_set_min_update_interval(s, 2000), 1);
    }).join();
    ASSERT_EQ(wgc_session_start(session), 1);
    EXPECT_EQ(corvo_emu_capture_property(window, "IsCursorCaptureEnabled"), 1);
    EXPECT_EQ(corvo_emu_capture_property(window, "MinUpdateInterval"), 2000);
    log.clear();
    corvo_emu_present(window);
    std::thread([s = session, w = window] {
        EXPECT_TRUE(poll(s).ok);
        EXPECT_EQ(wgc_enable_cursor(s, 0), 1);
        EXPECT_EQ(wgc_show_border(s, 1), 1);
        EXPECT_EQ(wgc_set_min_update_interval(s, 5000), 1);
        EXPECT_EQ(corvo_emu_capture_property(w, "IsCursorCaptureEnabled"), 0);
        EXPECT_EQ(corvo_emu_capture_property(w, "IsBorderRequired"), 1);
        EXPECT_EQ(corvo_emu_capture_property(w, "MinUpdateInterval"), 5000);
    }).join();
    EXPECT_TRUE(log.at_level(2).empty());
}

// Every call position of every operation of a start, of a second start and of frames: whatever fails, the
// session neither crashes nor lies about its status, a failed start says why, and nothing is left behind.
TEST_F(Lifecycle, FaultAtEveryCallOfAStartAndOfFrames) {
    enum Phase { kFirstStart, kSecondStart, kFrames };
    // One round: start (twice for the later phases), a frame, a change and a resize with detection on.
    auto round = [&](Phase phase, const char *operation, uint32_t position) {
        HWND w = corvo_emu_create_window(40, 30);
        wgc_session s = wgc_session_create(w);
        wgc_set_dirty_rect(s, 1);
        if (phase != kFirstStart) {
            wgc_session_start(s);
            corvo_emu_present(w);
            poll(s);
        }
        if (operation) corvo_emu_fail(operation, kFail, position, 1);
        log.clear();
        bool started = true;
        if (phase != kFrames) started = wgc_session_start(s) == 1;
        if (!started) {
            EXPECT_FALSE(log.at_level(3).empty()) << "a failed start says why";
        }
        EXPECT_EQ(wgc_get_status(s), started ? 1 : 0);
        corvo_emu_fill(w, 3, 3, 5, 5, 0xFF804020u);
        corvo_emu_present(w);
        poll(s);
        corvo_emu_resize(w, 50, 20);
        corvo_emu_present(w);
        poll(s);
        corvo_emu_present(w);
        const Poll p = poll(s);
        if (p.ok) {
            EXPECT_GT(p.width, 0);
        }
        if (operation) corvo_emu_fail(operation, 0, 0, 0);
        wgc_session_destroy(s);
        EXPECT_EQ(corvo_emu_count("live_objects"), 0u);
        corvo_emu_close(w);
    };
    for (const Phase phase : {kFirstStart, kSecondStart, kFrames}) {
        // The calls a clean round makes of each operation are the positions to fail.
        corvo_emu_reset();
        round(phase, nullptr, 0);
        std::map<std::string, uint64_t> calls;
        for (const char *operation : kPlatformOperations) calls[operation] = corvo_emu_count(operation);
        for (const char *operation : kPlatformOperations)
            for (uint32_t position = 0; position < calls[operation]; ++position) {
                SCOPED_TRACE(testing::Message() << "phase " << phase << ", " << operation << " #" << position);
                corvo_emu_reset();
                round(phase, operation, position);
            }
    }
}

}  // namespace
