// The shortest interval between frames: stored, applied at start and while capturing where the system has the
// setting, refused with a level-2 line where it has not.
#include <gtest/gtest.h>

#include "session_harness.h"

namespace {

using MinUpdateInterval = CaptureTest;

TEST_F(MinUpdateInterval, StoredAndAppliedAtStartWithALine) {
    open_window(32, 32, false);
    EXPECT_EQ(wgc_set_min_update_interval(session, 8000), 1);
    EXPECT_EQ(log.lines().back().text, "Set min update interval 8000us");
    log.clear();
    ASSERT_EQ(wgc_session_start(session), 1);
    EXPECT_EQ(corvo_emu_capture_property(window, "MinUpdateInterval"), 8000);
    const std::vector<std::string> info = log.at_level(1);
    EXPECT_NE(std::find(info.begin(), info.end(), "Wgc min update interval 8000us"), info.end());
}

TEST_F(MinUpdateInterval, AppliedWhileCapturingAndZeroIsTheSystemsDefault) {
    open_window(32, 32);
    EXPECT_EQ(corvo_emu_capture_property(window, "MinUpdateInterval"), 0);
    EXPECT_EQ(wgc_set_min_update_interval(session, 4000), 1);
    EXPECT_EQ(corvo_emu_capture_property(window, "MinUpdateInterval"), 4000);
    EXPECT_EQ(wgc_set_min_update_interval(session, 0), 1);
    EXPECT_EQ(corvo_emu_capture_property(window, "MinUpdateInterval"), 0);
}

TEST_F(MinUpdateInterval, RefusedWhereTheSystemHasNoSuchSetting) {
    corvo_emu_set_property("Windows.Graphics.Capture.GraphicsCaptureSession", "MinUpdateInterval", 0);
    open_window(32, 32);
    log.clear();
    EXPECT_EQ(wgc_set_min_update_interval(session, 8000), 0);
    EXPECT_EQ(log.at_level(2), std::vector<std::string>{"Failed to set min update interval 8000us"});
    EXPECT_EQ(wgc_set_min_update_interval(session, 0), 1);  // the default is what it does anyway
    EXPECT_EQ(wgc_set_min_update_interval(nullptr, 0), 0);
}

TEST_F(MinUpdateInterval, AFailedSettingAtStartFailsTheStartAndLeavesNothing) {
    open_window(32, 32, false);
    wgc_set_min_update_interval(session, 1000);
    corvo_emu_fail("put_MinUpdateInterval", static_cast<int32_t>(0x80004005), 0, 1);
    EXPECT_EQ(wgc_session_start(session), 0);
    dispatch_thread_messages();
    EXPECT_EQ(corvo_emu_count("live_objects"), 0u);
    EXPECT_EQ(wgc_session_start(session), 1);
}

}  // namespace
