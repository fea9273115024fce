#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "session_harness.h"

namespace {

using StartTest = CaptureTest;

TEST_F(StartTest, LogsTheStartSequenceAndAppliesBothSwitchesOff) {
    open_window(640, 480, false);
    log.clear();
    ASSERT_EQ(wgc_session_start(session), 1);
    EXPECT_EQ(log.lines(), (std::vector<LogLine>{{1, "WgcCaptureSession::Start", 24},
                                                 {1, "Wgc cursor Disable ", 19},
                                                 {1, "Wgc border Disable ", 19},
                                                 {1, "Wgc session started.", 20}}));
    EXPECT_EQ(wgc_get_status(session), 1);
    EXPECT_NE(wgc_get_device(session), nullptr);
    EXPECT_EQ(wgc_get_device(session), wgc_get_device(session));
    EXPECT_EQ(corvo_emu_capture_property(window, "IsCursorCaptureEnabled"), 0);
    EXPECT_EQ(corvo_emu_capture_property(window, "IsBorderRequired"), 0);
    EXPECT_EQ(corvo_emu_capture_property(window, "started"), 1);
}

TEST_F(StartTest, SwitchesSetBeforeTheStartAreApplied) {
    open_window(64, 64, false);
    wgc_enable_cursor(session, 1);
    wgc_show_border(session, 1);
    log.clear();
    ASSERT_EQ(wgc_session_start(session), 1);
    EXPECT_EQ(log.texts()[1], "Wgc cursor Enable ");
    EXPECT_EQ(log.texts()[2], "Wgc border Enable ");
    EXPECT_EQ(corvo_emu_capture_property(window, "IsCursorCaptureEnabled"), 1);
    EXPECT_EQ(corvo_emu_capture_property(window, "IsBorderRequired"), 1);
}

TEST_F(StartTest, SystemWithoutThePropertiesStillStarts) {
    corvo_emu_set_property(kSessionType, "IsCursorCaptureEnabled", 0);
    corvo_emu_set_property(kSessionType, "IsBorderRequired", 0);
    open_window(64, 64, false);
    log.clear();
    ASSERT_EQ(wgc_session_start(session), 1);
    EXPECT_EQ(log.texts(), (std::vector<std::string>{"WgcCaptureSession::Start", "IsCursorToggleSupported: no",
                                                     "IsBorderRequiredSupported: no", "Wgc session started."}));
    EXPECT_EQ(corvo_emu_count("put_IsCursorCaptureEnabled"), 0u);
    EXPECT_EQ(corvo_emu_count("put_IsBorderRequired"), 0u);
}

TEST_F(StartTest, SwitchesChangedWhileCapturingAreAppliedAtOnce) {
    open_window(64, 64);
    EXPECT_EQ(wgc_enable_cursor(session, 1), 1);
    EXPECT_EQ(corvo_emu_capture_property(window, "IsCursorCaptureEnabled"), 1);
    EXPECT_EQ(wgc_show_border(session, 1), 1);
    EXPECT_EQ(corvo_emu_capture_property(window, "IsBorderRequired"), 1);
}

// A switch the running capture refuses: 0 with a failure line, no "Set" line, and the value stored before is the
// one the poll reports and the next start applies.
TEST_F(StartTest, SetterRefusedByARunningCaptureKeepsTheStoredValue) {
    open_window(64, 64);
    struct Refusal {
        const char *operation;
        const char *property;
        int32_t before;  // what the capture has, as the emulator reports it
        std::function<uint8_t()> set;
        const char *line;
    };
    const Refusal refusals[] = {
        {"put_IsCursorCaptureEnabled", "IsCursorCaptureEnabled", 0, [&] { return wgc_enable_cursor(session, 1); },
         "Failed to apply cursor switch, Winrt exception:-2147467259"},
        {"put_IsBorderRequired", "IsBorderRequired", 0, [&] { return wgc_show_border(session, 1); },
         "Failed to apply border switch, Winrt exception:-2147467259"},
        {"put_MinUpdateInterval", "MinUpdateInterval", 0, [&] { return wgc_set_min_update_interval(session, 5000); },
         "Failed to apply min update interval switch, Winrt exception:-2147467259"},
    };
    for (const Refusal &r : refusals) {
        SCOPED_TRACE(r.operation);
        log.clear();
        corvo_emu_fail(r.operation, kFail, 0, 1);
        EXPECT_EQ(r.set(), 0);
        EXPECT_EQ(log.at_level(3), std::vector<std::string>{r.line});
        EXPECT_TRUE(log.at_level(1).empty());
        EXPECT_EQ(wgc_get_last_error(session), kFail);
        ASSERT_EQ(wgc_session_start(session), 1);  // a start again applies what is stored
        EXPECT_EQ(corvo_emu_capture_property(window, r.property), r.before);
    }
    EXPECT_EQ(poll(session).cursor, 0);
}

TEST_F(StartTest, PrefersTheFirstAdapterOfThePreferredVendor) {
    const uint32_t vendors[] = {0x8086, 0x1002, 0x10DE, 0x10DE};
    corvo_emu_set_adapters(vendors, 4);
    open_window(64, 64);
    EXPECT_EQ(corvo_emu_count("EnumAdapters1"), 3u);  // stops at the first preferred adapter
    EXPECT_EQ(corvo_emu_count("GetDesc1"), 3u);
}

TEST_F(StartTest, WithoutThePreferredVendorTakesTheFirstReadableAdapter) {
    const uint32_t vendors[] = {0x8086, 0x1002};
    corvo_emu_set_adapters(vendors, 2);
    corvo_emu_fail("GetDesc1", kFail, 0, 1);  // the first adapter cannot be read
    open_window(64, 64);
    EXPECT_EQ(corvo_emu_count("EnumAdapters1"), 3u);  // runs to DXGI_ERROR_NOT_FOUND
}

struct StartFailure {
    const char *operation;
    int32_t hr;
    const char *line;
    bool logger_calls_in = false;  // the logger asks the session's status on each line
};

wgc_session asked_on_each_line = nullptr;

void asking_logger(int32_t level, const char *text, uint64_t length) {
    (void)wgc_get_status(asked_on_each_line);
    LogCapture::callback(level, text, length);
}

class StartFailureTest : public CaptureTest, public ::testing::WithParamInterface<StartFailure> {};

TEST_P(StartFailureTest, FailsWithOneLineAndDestroysCleanly) {
    open_window(64, 64, false);
    if (GetParam().logger_calls_in) {
        asked_on_each_line = session;
        wgc_register_logger(asking_logger);
    }
    corvo_emu_fail(GetParam().operation, GetParam().hr, 0, 1);
    log.clear();
    EXPECT_EQ(wgc_session_start(session), 0);
    EXPECT_EQ(wgc_get_status(session), 0);
    EXPECT_EQ(log.at_level(3), std::vector<std::string>{GetParam().line});
    // The line's HRESULT is the last error, until a start succeeds.
    const bool no_adapter = std::string_view(GetParam().operation) == "EnumAdapters1";
    EXPECT_EQ(wgc_get_last_error(session), no_adapter ? int32_t(DXGI_ERROR_NOT_FOUND) : GetParam().hr);
    EXPECT_EQ(wgc_session_start(session), 1);
    EXPECT_EQ(wgc_get_last_error(session), 0);
    log.clear();
    asked_on_each_line = nullptr;  // the session is not asked while it is destroyed
    wgc_session_destroy(session);
    session = nullptr;
    EXPECT_TRUE(log.at_level(3).empty());
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, StartFailureTest,
    ::testing::Values(
        StartFailure{"CreateDXGIFactory1", kFail, "Failed to create dxgi factory1, hr:80004005"},
        StartFailure{"EnumAdapters1", kFail, "Failed to find any adapter to create d3d11 device"},
        StartFailure{"D3D11CreateDevice", static_cast<int32_t>(0x887A0004),
                     "Failed to create d3d11 device,hr:887a0004"},
        StartFailure{"CreateDispatcherQueueController", kFail,
                     "Failed to create dispatcher queue controller, hr:80004005"},
        StartFailure{"CreateDirect3D11DeviceFromDXGIDevice", kFail,
                     "Failed to call CreateDirect3D11DeviceFromDXGIDevice, hr:80004005"},
        StartFailure{"IGraphicsCaptureItemInterop", static_cast<int32_t>(0x80040154),
                     "Failed to get IGraphicsCaptureItemInterop, hr:80040154"},
        StartFailure{"CreateForWindow", static_cast<int32_t>(0x80070057),
                     "Failed to call IGraphicsCaptureItemInterop::CreateForWindow, hr:80070057"},
        StartFailure{"CreateFreeThreaded", kFail, "Winrt exception:-2147467259"},
        StartFailure{"CreateCaptureSession", kFail, "Winrt exception:-2147467259"},
        StartFailure{"put_IsCursorCaptureEnabled", kFail, "Winrt exception:-2147467259"},
        StartFailure{"put_IsBorderRequired", kFail, "Winrt exception:-2147467259"},
        StartFailure{"add_FrameArrived", kFail, "Winrt exception:-2147467259"},
        StartFailure{"StartCapture", kFail, "Winrt exception:-2147467259"},
        StartFailure{"add_Closed", kFail, "Winrt exception:-2147467259"},
        StartFailure{"StartCapture", kFail, "Winrt exception:-2147467259", true}),
    [](const auto &info) {
        return std::string(info.param.operation) + (info.param.logger_calls_in ? "WithALoggerCallingIn" : "");
    });

TEST_F(StartTest, MonitorTargetsStartAndAFailingMonitorItemIsLogged) {
    HMONITOR monitor = corvo_emu_create_monitor(320, 200);
    session = wgc_session_create2(monitor);
    EXPECT_EQ(wgc_session_start(session), 1);
    wgc_session_destroy(session);

    session = wgc_session_create2(monitor);
    corvo_emu_fail("CreateForMonitor", static_cast<int32_t>(0x80070057), 0, 1);
    log.clear();
    EXPECT_EQ(wgc_session_start(session), 0);
    EXPECT_EQ(log.at_level(3),
              std::vector<std::string>{"Failed to call IGraphicsCaptureItemInterop::CreateForMonitor, hr:80070057"});
}

TEST_F(StartTest, SessionWithoutATargetRefusesToStart) {
    session = wgc_session_create(nullptr);
    log.clear();
    EXPECT_EQ(wgc_session_start(session), 0);
    EXPECT_EQ(log.at_level(3), std::vector<std::string>{"Failed to start: no window or monitor to capture"});
}

TEST_F(StartTest, ThreadCanStartAgainAfterItsSessionWasDestroyedElsewhere) {
    open_window(64, 64);
    std::thread([s = session] { wgc_session_destroy(s); }).join();
    // The queue's own thread retires it at its next dispatch, wherever its last session went.
    dispatch_thread_messages();
    EXPECT_EQ(corvo_emu_count("ShutdownQueueAsync"), 1u);
    session = wgc_session_create(window);
    EXPECT_EQ(wgc_session_start(session), 1);
    EXPECT_EQ(corvo_emu_count("CreateDispatcherQueueController"), 2u);
}

TEST_F(StartTest, SessionsOnOneThreadShareItsDispatcherQueueUntilTheLastGoes) {
    open_window(64, 64);
    HWND other_window = corvo_emu_create_window(32, 32);
    wgc_session other = wgc_session_create(other_window);
    EXPECT_EQ(wgc_session_start(other), 1);
    EXPECT_EQ(corvo_emu_count("CreateDispatcherQueueController"), 1u);
    corvo_emu_fill(window, 0, 0, 64, 64, 0xFF0000FFu);
    corvo_emu_fill(other_window, 0, 0, 32, 32, 0xFF00FF00u);
    EXPECT_EQ(pixel_at(present_and_poll(), 0, 0), 0xFF0000FFu);
    wgc_session_destroy(session);  // the other goes on capturing through the shared queue
    session = other;
    EXPECT_EQ(corvo_emu_count("ShutdownQueueAsync"), 0u);
    corvo_emu_present(other_window);
    EXPECT_EQ(pixel_at(poll(other), 0, 0), 0xFF00FF00u);
    wgc_session_destroy(other);
    session = nullptr;
    // The queue stays until the thread dispatches: a session started at once (a host switching targets)
    // captures through it and is told its target's closing.
    EXPECT_EQ(corvo_emu_count("ShutdownQueueAsync"), 0u);
    open_window(16, 16);
    EXPECT_EQ(corvo_emu_count("CreateDispatcherQueueController"), 1u);
    corvo_emu_close(window);
    log.clear();
    poll(session);
    EXPECT_EQ(wgc_get_status(session), 0);
    EXPECT_EQ(log.at_level(1), std::vector<std::string>{"Wgc on_closed"});
    wgc_session_destroy(session);
    session = nullptr;
    // The thread's next dispatch (the host's loop, or a poll) begins the shutdown, and a start fails until the
    // one after completes it; then the thread can make a queue of its own again.
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    DispatchMessageW(&msg);
    EXPECT_EQ(corvo_emu_count("ShutdownQueueAsync"), 1u);
    open_window(16, 16, false);
    log.clear();
    EXPECT_EQ(wgc_session_start(session), 0);
    EXPECT_EQ(log.at_level(3),
              std::vector<std::string>{"Failed to create dispatcher queue controller, hr:8001010e"});
    dispatch_thread_messages();
    EXPECT_EQ(wgc_session_start(session), 1);
    EXPECT_EQ(corvo_emu_count("CreateDispatcherQueueController"), 2u);
}

// Fifty threads that start, poll, destroy and exit: each shuts its queue down as it goes, nothing is left.
TEST_F(StartTest, ThreadsThatExitAfterTheirLastDestroyLeaveNoQueueBehind) {
    const HWND target = corvo_emu_create_window(16, 16);
    for (int n = 0; n < 50; ++n)
        std::thread([target] {
            wgc_session s = wgc_session_create(target);
            EXPECT_EQ(wgc_session_start(s), 1);
            corvo_emu_present(target);
            poll(s);
            wgc_session_destroy(s);
        }).join();
    EXPECT_EQ(corvo_emu_count("ShutdownQueueAsync"), 50u);
    EXPECT_EQ(corvo_emu_count("live_objects"), 0u);
}

TEST_F(StartTest, StopFailureIsLoggedAndTeardownGoesOn) {
    open_window(64, 64);
    corvo_emu_fail("Close", kFail, 0, 1);
    log.clear();
    wgc_session_destroy(session);
    session = nullptr;
    EXPECT_EQ(log.lines(), (std::vector<LogLine>{{1, "Try to exit wgc thread", 22},
                                                 {3, "Exception catced Close failed", 29},
                                                 {1, "Wgc exit.", 9}}));
}

TEST_F(StartTest, FailedStartReleasesWhatItMade) {
    open_window(64, 64, false);
    corvo_emu_fail("StartCapture", kFail, 0, 1);
    EXPECT_EQ(wgc_session_start(session), 0);
    dispatch_thread_messages();                      // which retires the thread's queue
    EXPECT_EQ(corvo_emu_count("live_objects"), 0u);  // nothing of a failed start is kept
    EXPECT_EQ(corvo_emu_count("Close"), 2u);         // the frame pool and the capture session
    wgc_session_destroy(session);
    session = nullptr;
    EXPECT_EQ(corvo_emu_count("Close"), 2u);
}

}  // namespace
