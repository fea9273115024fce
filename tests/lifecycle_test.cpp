// A session's life outside the happy path, through the exports: starting again, failed starts, device loss
// of any kind, null arguments, a logger that destroys the session, and faults at every call of a start.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "picture.h"
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
    dispatch_thread_messages();                      // which retires the thread's queue
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
        dispatch_thread_messages();
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

    // Also where the thread's queue takes no work, the start again keeps the queue rather than shut it down.
    corvo_emu_fail("TryEnqueue", kFail, 0, 1000);
    ASSERT_EQ(wgc_session_start(session), 1);
    corvo_emu_fail("TryEnqueue", 0, 0, 0);
    EXPECT_EQ(corvo_emu_count("ShutdownQueueAsync"), 0u);
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
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        queued.push_back(msg);
        DispatchMessageW(&msg);  // the host's loop: the thread's queue is retired meanwhile
    }
    ASSERT_GE(queued.size(), 2u);
    EXPECT_EQ(queued[0].hwnd, window);
    EXPECT_EQ(queued[0].message, WM_APP + 7);
    EXPECT_EQ(queued[0].lParam, 2);
    EXPECT_EQ(queued[1].message, WM_QUIT);
    EXPECT_EQ(queued[1].wParam, 3u);
    EXPECT_EQ(corvo_emu_count("CreateDispatcherQueueController"), 1u);  // the start again kept the thread's queue
    EXPECT_EQ(corvo_emu_count("ShutdownQueueAsync"), 1u);               // and the host's loop retired it
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
        dispatch_thread_messages();
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
        dispatch_thread_messages();
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

// A device the host made for itself, as a host makes one.
ID3D11Device *host_device(UINT flags = D3D11_CREATE_DEVICE_BGRA_SUPPORT,
                          D3D_FEATURE_LEVEL level = D3D_FEATURE_LEVEL_11_0) {
    ID3D11Device *device = nullptr;
    EXPECT_EQ(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, flags, &level, 1, D3D11_SDK_VERSION,
                                &device, nullptr, nullptr),
              S_OK);
    return device;
}

ULONG references(IUnknown *object) {
    object->AddRef();
    return object->Release();
}

// What the host got of a frame, then of a change to it: the pictures, the change as detection found it, and
// what the GPU copied for the change.
struct Captured {
    Picture first, second;
    float ratio = -1.0f;
    std::vector<std::array<int32_t, 4>> rects;
    uint64_t bytes_copied = 0;
    bool operator==(const Captured &) const = default;
};

Picture picture_of(const Poll &p, bool texture_mode) {
    if (!p.ok) return {};
    if (!texture_mode) return picture_of_buffer(p.frame, p.width, p.height);
    auto *texture = static_cast<ID3D11Texture2D *>(p.frame);
    Picture picture = picture_of_texture(texture);  // copied by the texture's device, on its immediate context
    texture->Release();
    return picture;
}

// The texture's device is the session's, and the host's where it set one; the copies are the same and the pixels
// exact, whichever device captures.
TEST_F(Lifecycle, HostDeviceCapturesOntoItAsTheOwnDeviceDoesAndGetsItsReferencesBack) {
    ID3D11Device *host = host_device();
    const ULONG before = references(host);
    for (const bool texture_mode : {false, true}) {
        Captured with[2];
        for (const bool on_host : {false, true}) {
            SCOPED_TRACE(testing::Message()
                         << (texture_mode ? "texture" : "buffer") << (on_host ? " host" : " own"));
            open_window(96, 64, false);
            if (on_host) {
                ASSERT_EQ(wgc_set_device(session, host), 1);
            }
            wgc_set_capture_to_texture(session, texture_mode ? 1 : 0);
            wgc_set_dirty_rect(session, 1);
            ASSERT_EQ(wgc_session_start(session), 1);
            EXPECT_EQ(wgc_get_device(session) == host, on_host);
            Picture model(96, 64);
            paint(window, model, 5, 6, 30, 20, 0xFF336699u);
            Poll p = present_and_poll();
            if (texture_mode) {
                EXPECT_EQ(device_of(p.frame), wgc_get_device(session));
            }
            with[on_host].first = picture_of(p, texture_mode);
            EXPECT_EQ(with[on_host].first, model);
            paint(window, model, 70, 40, 4, 4, 0xFF00FF00u);
            const uint64_t copied = corvo_emu_count("bytes_copied");
            p = present_and_poll();
            with[on_host].bytes_copied = corvo_emu_count("bytes_copied") - copied;
            with[on_host].second = picture_of(p, texture_mode);
            with[on_host].ratio = wgc_get_update_ratio(session);
            std::vector<wgc_rect> rects(size_t(std::max(wgc_get_dirty_rects(session, nullptr, 0), 0)));
            wgc_get_dirty_rects(session, rects.data(), int32_t(rects.size()));
            for (const wgc_rect &r : rects) with[on_host].rects.push_back({r.left, r.top, r.right, r.bottom});
            EXPECT_EQ(with[on_host].second, model);
            wgc_session_destroy(session);
            session = nullptr;
        }
        EXPECT_EQ(with[0], with[1]);
        EXPECT_GT(with[1].ratio, 0.0f);
        EXPECT_LT(with[1].ratio, 1.0f);
    }
    EXPECT_EQ(references(host), before);
    host->Release();
}

TEST_F(Lifecycle, RefusedHostDevicesLeaveTheSettingAsItWas) {
    ID3D11Device *removed = host_device();
    corvo_emu_remove_devices(int32_t(0x887A0007));
    ID3D11Device *plain = host_device(0);
    ID3D11Device *host = host_device();
    open_window(32, 32, false);
    ASSERT_EQ(wgc_set_device(session, host), 1);
    log.clear();
    EXPECT_EQ(wgc_set_device(session, plain), 0);
    EXPECT_EQ(wgc_set_device(session, removed), 0);
    EXPECT_EQ(log.at_level(2), (std::vector<std::string>{"Failed to set device: created without BGRA support",
                                                         "Failed to set device: removed, reason:887a0007"}));
    ASSERT_EQ(wgc_session_start(session), 1);
    EXPECT_EQ(wgc_get_device(session), host);
    EXPECT_EQ(wgc_set_device(session, nullptr), 1);  // the library's own device again, from the next start
    EXPECT_EQ(wgc_get_device(session), host);
    ASSERT_EQ(wgc_session_start(session), 1);
    EXPECT_NE(wgc_get_device(session), host);
    EXPECT_TRUE(present_and_poll().ok);
    EXPECT_EQ(wgc_set_device(nullptr, host), 0);
    wgc_session_destroy(session);
    session = nullptr;
    for (ID3D11Device *device : {removed, plain, host}) EXPECT_EQ(device->Release(), 0u);
}

// Below 11_0 the kernels cannot run: frames come whole, exact, with one warning.
TEST_F(Lifecycle, HostDeviceBelowFeatureLevel11CapturesWithoutDetection) {
    ID3D11Device *host = host_device(D3D11_CREATE_DEVICE_BGRA_SUPPORT, D3D_FEATURE_LEVEL_10_0);
    open_window(64, 40, false);
    ASSERT_EQ(wgc_set_device(session, host), 1);
    wgc_set_dirty_rect(session, 1);
    log.clear();
    ASSERT_EQ(wgc_session_start(session), 1);
    EXPECT_EQ(log.at_level(2),
              std::vector<std::string>{
                  "Device feature level a000 is below 11_0: no change detection or HDR conversion"});
    Picture model(64, 40);
    for (int n = 0; n < 2; ++n) {
        paint(window, model, n * 10, 3, 5, 5, 0xFF102030u + uint32_t(n));
        const Poll p = present_and_poll();
        EXPECT_EQ(picture_of(p, false), model);
        EXPECT_EQ(wgc_get_update_ratio(session), 1.0f);
        EXPECT_EQ(wgc_get_dirty_rects(session, nullptr, 0), -1);
    }
    EXPECT_EQ(log.at_level(2).size(), 1u);
    wgc_session_destroy(session);
    session = nullptr;
    EXPECT_EQ(host->Release(), 0u);
}

TEST_F(Lifecycle, LostHostDeviceEndsTheCaptureAndIsNeverReplaced) {
    ID3D11Device *host = host_device();
    open_window(32, 32, false);
    ASSERT_EQ(wgc_set_device(session, host), 1);
    wgc_set_recovery(session, 1);  // does nothing for the host's device
    ASSERT_EQ(wgc_session_start(session), 1);
    EXPECT_TRUE(present_and_poll().ok);
    log.clear();
    corvo_emu_remove_devices(int32_t(0x887A0006));
    EXPECT_EQ(wgc_get_status(session), 0);
    EXPECT_EQ(wgc_wait_for_frame(session, 5000), 0);
    for (int n = 0; n < 3; ++n) poll(session);
    EXPECT_EQ(wgc_get_status(session), 0);
    EXPECT_EQ(wgc_get_device(session), host);
    EXPECT_EQ(wgc_get_last_error(session), int32_t(0x887A0006));
    EXPECT_EQ(log.at_level(3),
              std::vector<std::string>{"Capture device lost, reason:887a0006; the capture has ended"});
    EXPECT_TRUE(log.at_level(2).empty());
    log.clear();
    EXPECT_EQ(wgc_session_start(session), 0);  // nor at a start
    EXPECT_EQ(log.at_level(3),
              std::vector<std::string>{"Failed to use the host's device: removed, reason:887a0006"});
    EXPECT_EQ(wgc_get_device(session), nullptr);
    wgc_session_destroy(session);
    session = nullptr;
    EXPECT_EQ(host->Release(), 0u);
}

// The index of the adapter the session's device was made on.
uint32_t adapter_index_of(ID3D11Device *device) {
    IDXGIDevice *dxgi = nullptr;
    IDXGIAdapter *adapter = nullptr;
    IDXGIAdapter1 *adapter1 = nullptr;
    DXGI_ADAPTER_DESC1 desc{};
    EXPECT_EQ(device->QueryInterface(__uuidof(IDXGIDevice), reinterpret_cast<void **>(&dxgi)), S_OK);
    EXPECT_EQ(dxgi->GetAdapter(&adapter), S_OK);
    EXPECT_EQ(adapter->QueryInterface(__uuidof(IDXGIAdapter1), reinterpret_cast<void **>(&adapter1)), S_OK);
    EXPECT_EQ(adapter1->GetDesc1(&desc), S_OK);
    adapter1->Release();
    adapter->Release();
    dxgi->Release();
    return desc.AdapterLuid.LowPart - 1;
}

TEST_F(Lifecycle, AdapterOfTheTargetIsTheOneWhoseOutputShowsIt) {
    const uint32_t vendors[] = {0x10DE, 0x8086};
    corvo_emu_set_adapters(vendors, 2);
    HMONITOR first = corvo_emu_create_monitor(64, 48);
    HMONITOR second = corvo_emu_create_monitor(64, 48);
    HMONITOR hidden = corvo_emu_create_monitor(64, 48);
    corvo_emu_set_monitor_adapter(second, 1);
    corvo_emu_set_monitor_adapter(hidden, 7);  // an output of no adapter there is
    HWND on_second = corvo_emu_create_window(32, 32);
    corvo_emu_move_window(on_second, 70, 5);
    const std::string adapter = "Wgc adapter Emulated software adapter ";
    const std::string unshown = "No adapter shows the target's monitor: the preferred vendor's is used";
    struct Row {
        void *target;
        int32_t choice;
        uint32_t adapter;
        std::vector<std::string> info, warnings;  // of the start, beyond the described ones
    } rows[] = {
        {second, CORVO_WGC_ADAPTER_OF_TARGET, 1, {adapter + "1"}, {}},
        {second, CORVO_WGC_ADAPTER_PREFERRED_VENDOR, 0, {}, {}},
        {on_second, CORVO_WGC_ADAPTER_OF_TARGET, 1, {adapter + "1"}, {}},
        {first, CORVO_WGC_ADAPTER_OF_TARGET, 0, {adapter + "0"}, {}},
        {hidden, CORVO_WGC_ADAPTER_OF_TARGET, 0, {}, {unshown}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message() << row.target << " choice " << row.choice);
        const bool monitor = row.target != on_second;
        wgc_session s = monitor ? wgc_session_create2(static_cast<HMONITOR>(row.target))
                                : wgc_session_create(static_cast<HWND>(row.target));
        EXPECT_EQ(wgc_set_adapter(s, row.choice), 1);
        EXPECT_EQ(wgc_set_adapter(s, 2), 0);  // unknown: refused, the choice stays
        EXPECT_EQ(wgc_set_adapter(s, -1), 0);
        log.clear();
        ASSERT_EQ(wgc_session_start(s), 1);
        EXPECT_EQ(adapter_index_of(wgc_get_device(s)), row.adapter);
        std::vector<std::string> info = log.at_level(1);
        std::erase_if(info, [](const std::string &line) { return !line.starts_with("Wgc adapter"); });
        EXPECT_EQ(info, row.info);
        EXPECT_EQ(log.at_level(2), row.warnings);
        corvo_emu_present(row.target);
        EXPECT_TRUE(poll(s).ok);
        wgc_session_destroy(s);
    }
    // With no adapter of the preferred vendor, the default is the first.
    const uint32_t others[] = {0x8086, 0x1002};
    corvo_emu_set_adapters(others, 2);
    wgc_session s = wgc_session_create2(second);
    ASSERT_EQ(wgc_session_start(s), 1);
    EXPECT_EQ(adapter_index_of(wgc_get_device(s)), 0u);
    wgc_session_destroy(s);
}

// The generation of the device that captured the frame the last poll handed out; 0 when none was.
uint32_t device_generation(wgc_session s) {
    wgc_frame_info info{};
    info.size = sizeof info;
    return wgc_get_frame_info(s, &info) ? info.device_generation : 0;
}

// Polls until the session captures on a new device, as a host keeps polling; false after 5 s without one.
bool poll_until_rebuilt(wgc_session s, HWND window, bool texture_mode, Picture *seen, bool *status_dropped) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
        corvo_emu_present(window);
        const Poll p = poll(s);
        if (wgc_get_status(s) == 0) *status_dropped = true;
        wgc_frame_info info{};
        info.size = sizeof info;
        if (p.ok && wgc_get_frame_info(s, &info) && info.is_new) {
            *seen = picture_of(p, texture_mode);
            return true;
        }
        if (p.ok && texture_mode) static_cast<ID3D11Texture2D *>(p.frame)->Release();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// With recovery on, each loss of the library's device is followed by exact frames on a new one, in either mode,
// also when device creation fails for a while; the status never drops between.
TEST_F(Lifecycle, RecoveryRebuildsTheOwnDeviceAfterEachLoss) {
    for (const bool texture_mode : {false, true}) {
        SCOPED_TRACE(texture_mode ? "texture" : "buffer");
        open_window(40, 30, false);
        wgc_set_recovery(session, 1);
        corvo_emu_create_monitor(64, 48);                       // which shows the window
        wgc_set_adapter(session, CORVO_WGC_ADAPTER_OF_TARGET);  // named at the start only
        wgc_set_capture_to_texture(session, texture_mode ? 1 : 0);
        wgc_set_dirty_rect(session, 1);
        ASSERT_EQ(wgc_session_start(session), 1);
        Picture model(40, 30);
        paint(window, model, 1, 2, 10, 10, 0xFF204060u);
        EXPECT_EQ(picture_of(present_and_poll(), texture_mode), model);
        EXPECT_EQ(device_generation(session), 1u);
        for (uint32_t generation = 2; generation <= 3; ++generation) {
            SCOPED_TRACE(generation);
            log.clear();
            // The second rebuild finds device creation failing twice: it backs off and tries again.
            if (generation == 3) corvo_emu_fail("D3D11CreateDevice", kFail, 0, 2);
            corvo_emu_remove_devices(int32_t(0x887A0007));
            EXPECT_EQ(wgc_get_status(session), 1);
            EXPECT_EQ(wgc_wait_for_frame(session, 20), 0);  // nothing arrives until the rebuild
            paint(window, model, int32_t(generation) * 8, 12, 6, 6, 0xFF000000u + generation);
            Picture seen;
            bool dropped = false, rebuilt = false;
            const auto rebuild = [&] {
                rebuilt = poll_until_rebuilt(session, window, texture_mode, &seen, &dropped);
            };
            // The second is polled on another thread: the capture's closing still comes through the start
            // thread's queue, and that thread's polls go on without one of their own.
            const uint64_t queues = corvo_emu_count("CreateDispatcherQueueController");
            if (generation == 3)
                std::thread(rebuild).join();
            else
                rebuild();
            ASSERT_TRUE(rebuilt);
            EXPECT_EQ(corvo_emu_count("CreateDispatcherQueueController"), queues);
            EXPECT_FALSE(dropped);
            EXPECT_EQ(seen, model);
            EXPECT_EQ(device_generation(session), generation);
            EXPECT_EQ(wgc_get_device(session)->GetDeviceRemovedReason(), S_OK);
            EXPECT_EQ(log.at_level(2), std::vector<std::string>{"Capture device lost, reason:887a0007; rebuilding"});
            const std::vector<std::string> info = log.at_level(1);
            EXPECT_EQ(std::count(info.begin(), info.end(),
                                 "Wgc capture rebuilt, device generation " + std::to_string(generation)),
                      1);
            EXPECT_EQ(info.size(), 1u);
            EXPECT_EQ(log.at_level(3).size(), generation == 3 ? 2u : 0u);  // the two failed creations
        }
        // A host built against the 48-byte struct gets what fits.
        wgc_frame_info older{};
        older.size = 48;
        older.device_generation = 77;
        EXPECT_EQ(wgc_get_frame_info(session, &older), 1);
        EXPECT_EQ(older.device_generation, 77u);
        EXPECT_EQ(older.sdr_white_nits, 80.0f);
        if (texture_mode) {
            // The rebuilt capture is the same capture: its target's closing is told, and ends it.
            corvo_emu_close(window);
            const Poll closed = poll(session);  // the last picture is still handed out
            if (closed.ok) static_cast<ID3D11Texture2D *>(closed.frame)->Release();
            EXPECT_EQ(wgc_get_status(session), 0);
            EXPECT_EQ(log.at_level(1).back(), "Wgc on_closed");
        } else {
            // A start again begins with the first generation.
            ASSERT_EQ(wgc_session_start(session), 1);
            EXPECT_TRUE(present_and_poll().ok);
            EXPECT_EQ(device_generation(session), 1u);
        }
        wgc_session_destroy(session);
        session = nullptr;
    }
}

// What ends a rebuild: the target closing, or recovery switched off.
TEST_F(Lifecycle, RecoveryEndsWhenTheTargetClosesOrTheSwitchGoesOff) {
    for (const bool close : {true, false}) {
        SCOPED_TRACE(close ? "closed" : "switched off");
        open_window(32, 32, false);
        wgc_set_recovery(session, 1);
        ASSERT_EQ(wgc_session_start(session), 1);
        EXPECT_TRUE(present_and_poll().ok);
        corvo_emu_fail("D3D11CreateDevice", kFail, 0, 1000);
        corvo_emu_remove_devices(int32_t(0x887A0006));
        poll(session);
        poll(session);  // the first try, at once, fails
        EXPECT_EQ(wgc_get_status(session), 1);
        const auto tries = [] { return corvo_emu_count("D3D11CreateDevice"); };
        if (!close) {
            // Then it backs off: 0.25 s, then twice that, with no try at the polls between. From before the poll
            // of the second try to after that of the third at least 0.5 s pass, however loaded the machine.
            using Clock = std::chrono::steady_clock;
            std::vector<std::pair<Clock::time_point, Clock::time_point>> trying_polls;
            for (const auto deadline = Clock::now() + std::chrono::seconds(5);
                 trying_polls.size() < 2 && Clock::now() < deadline;) {
                const auto before = Clock::now();
                const uint64_t had = tries();
                poll(session);
                if (tries() > had) trying_polls.emplace_back(before, Clock::now());
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            ASSERT_EQ(trying_polls.size(), 2u);
            EXPECT_GE(trying_polls[1].second - trying_polls[0].first, std::chrono::milliseconds(500));
        }
        log.clear();
        const uint64_t tried = tries();
        if (close)
            corvo_emu_close(window);
        else
            wgc_set_recovery(session, 0);
        poll(session);
        EXPECT_EQ(wgc_get_status(session), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // past the next try's time
        poll(session);
        EXPECT_EQ(tries(), tried);  // nothing is rebuilt for a capture that ended
        EXPECT_EQ(wgc_wait_for_frame(session, 5000), 0);
        if (!close) {
            EXPECT_EQ(log.at_level(3),
                      std::vector<std::string>{"Capture device lost, reason:887a0006; the capture has ended"});
        }
        corvo_emu_fail("D3D11CreateDevice", 0, 0, 0);
        poll(session);
        EXPECT_EQ(wgc_get_status(session), 0);
        wgc_session_destroy(session);
        session = nullptr;
    }
}

}  // namespace
