#include <gtest/gtest.h>

#include <thread>

#include "corvo_wgc.h"
#include "emu_fixture.h"

namespace {

HWND some_window() { return reinterpret_cast<HWND>(0x1234); }
HMONITOR some_monitor() { return reinterpret_cast<HMONITOR>(0x5678); }

using ExportsTest = EmuTest;

TEST_F(ExportsTest, NewSessionReportsNothingYet) {
    wgc_session s = wgc_session_create(some_window());
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(wgc_get_status(s), 0);
    EXPECT_EQ(wgc_get_device(s), nullptr);
    EXPECT_EQ(wgc_get_update_ratio(s), 0.0f);

    void *frame = reinterpret_cast<void *>(0x77);
    int32_t width = -1, height = -1;
    uint8_t cursor = 9;
    EXPECT_EQ(wgc_get_recent_frame(s, &frame, 0, &width, &height, &cursor), 0);
    EXPECT_EQ(frame, reinterpret_cast<void *>(0x77));  // left as it was
    EXPECT_EQ(width, 0);
    EXPECT_EQ(height, 0);
    EXPECT_EQ(cursor, 0);
    wgc_free_recent_frame(frame);
    wgc_session_destroy(s);
}

TEST_F(ExportsTest, DestroyOfANeverStartedSessionLogsStopAndNothingAtLevelThree) {
    wgc_session s = wgc_session_create2(some_monitor());
    ASSERT_NE(s, nullptr);
    log.clear();
    wgc_session_destroy(s);
    EXPECT_EQ(log.lines(), (std::vector<LogLine>{{1, "Try to exit wgc thread", 22}, {1, "Wgc exit.", 9}}));
}

TEST_F(ExportsTest, NullHandlesAreRefusedQuietly) {
    EXPECT_EQ(wgc_session_create2(nullptr), nullptr);
    wgc_session_destroy(nullptr);
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(ExportsTest, SetDirtyRectLogsItsSettingAtLevelOne) {
    wgc_session s = wgc_session_create(some_window());
    log.clear();
    wgc_set_dirty_rect(s, 1);
    wgc_set_dirty_rect(s, 0);
    wgc_set_dirty_rect(s, 0x80);  // any non-zero byte is true
    EXPECT_EQ(log.lines(), (std::vector<LogLine>{{1, "Set dirtyRect enable", 20},
                                                 {1, "Set dirtyRect disable", 21},
                                                 {1, "Set dirtyRect enable", 20}}));
    wgc_session_destroy(s);
}

TEST_F(ExportsTest, StartWithoutACapturePipelineFailsSafely) {
    wgc_session s = wgc_session_create(some_window());
    EXPECT_EQ(wgc_session_start(s), 0);
    EXPECT_EQ(wgc_get_status(s), 0);
    wgc_session_destroy(s);
}

TEST_F(ExportsTest, PollDispatchesTheCallingThreadsMessages) {
    wgc_session s = wgc_session_create(some_window());
    int dispatched = 0;
    corvo_emu_post([](void *count) { ++*static_cast<int *>(count); }, &dispatched);
    corvo_emu_post([](void *count) { ++*static_cast<int *>(count); }, &dispatched);
    void *frame = nullptr;
    int32_t width, height;
    uint8_t cursor;
    wgc_get_recent_frame(s, &frame, 0, &width, &height, &cursor);
    EXPECT_EQ(dispatched, 2);

    // A message of another thread is not dispatched by this thread's poll.
    std::thread([&] { corvo_emu_post([](void *count) { ++*static_cast<int *>(count); }, &dispatched); }).join();
    wgc_get_recent_frame(s, &frame, 0, &width, &height, &cursor);
    EXPECT_EQ(dispatched, 2);
    wgc_session_destroy(s);
}

TEST_F(ExportsTest, ReplacedLoggerReceivesNoFurtherLines) {
    static std::vector<std::string> first;
    first.clear();
    wgc_register_logger([](int32_t, const char *text, uint64_t) { first.emplace_back(text); });
    wgc_session s = wgc_session_create(some_window());
    wgc_set_dirty_rect(s, 1);
    wgc_register_logger(&LogCapture::callback);
    wgc_set_dirty_rect(s, 0);
    EXPECT_EQ(first, std::vector<std::string>{"Set dirtyRect enable"});
    EXPECT_EQ(log.texts(), std::vector<std::string>{"Set dirtyRect disable"});

    wgc_register_logger(nullptr);
    wgc_set_dirty_rect(s, 1);  // reaches nobody
    EXPECT_EQ(log.texts(), std::vector<std::string>{"Set dirtyRect disable"});
    wgc_session_destroy(s);
}

}  // namespace
