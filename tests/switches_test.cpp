#include <gtest/gtest.h>

#include "corvo_wgc.h"
#include "emu_fixture.h"

namespace {

constexpr const char *kSessionType = "Windows.Graphics.Capture.GraphicsCaptureSession";

class SwitchesTest : public EmuTest {
protected:
    void SetUp() override {
        EmuTest::SetUp();
        session = wgc_session_create(reinterpret_cast<HWND>(0x10));
        log.clear();
    }
    void TearDown() override {
        wgc_session_destroy(session);
        EmuTest::TearDown();
    }
    uint8_t cursor_reported() {
        void *frame = nullptr;
        int32_t w, h;
        uint8_t cursor = 0xEE;
        wgc_get_recent_frame(session, &frame, 0, &w, &h, &cursor);
        return cursor;
    }

    wgc_session session = nullptr;
};

TEST_F(SwitchesTest, BothSwitchesAreAcceptedWhereThePropertiesExist) {
    EXPECT_EQ(wgc_enable_cursor(session, 1), 1);
    EXPECT_EQ(wgc_enable_cursor(session, 0), 1);
    EXPECT_EQ(wgc_show_border(session, 1), 1);
    EXPECT_EQ(wgc_show_border(session, 0), 1);
    EXPECT_EQ(log.lines(), (std::vector<LogLine>{{1, "Set enable cursor", 17},
                                                 {1, "Set disable cursor", 18},
                                                 {1, "Set show border", 15},
                                                 {1, "Set hide border", 15}}));
    // Before a start nothing is applied to a platform object.
    EXPECT_EQ(corvo_emu_count("put_IsCursorCaptureEnabled"), 0u);
    EXPECT_EQ(corvo_emu_count("put_IsBorderRequired"), 0u);
}

TEST_F(SwitchesTest, CursorCannotBeTurnedOnWithoutItsProperty) {
    corvo_emu_set_property(kSessionType, "IsCursorCaptureEnabled", 0);
    EXPECT_EQ(wgc_enable_cursor(session, 1), 0);
    EXPECT_EQ(cursor_reported(), 0);  // the stored switch is unchanged
    EXPECT_EQ(wgc_enable_cursor(session, 0), 1);
    EXPECT_EQ(log.lines(),
              (std::vector<LogLine>{{2, "Failed to enable cursor", 23}, {1, "Set disable cursor", 18}}));
}

TEST_F(SwitchesTest, BorderCannotBeHiddenWithoutItsProperty) {
    corvo_emu_set_property(kSessionType, "IsBorderRequired", 0);
    EXPECT_EQ(wgc_show_border(session, 0), 0);
    EXPECT_EQ(wgc_show_border(session, 1), 1);
    EXPECT_EQ(log.lines(), (std::vector<LogLine>{{2, "Failed to  hide border", 22}, {1, "Set show border", 15}}));
}

TEST_F(SwitchesTest, AcceptedSwitchIsStoredAndReportedByThePoll) {
    EXPECT_EQ(cursor_reported(), 0);
    EXPECT_EQ(wgc_enable_cursor(session, 0x41), 1);
    EXPECT_EQ(cursor_reported(), 0x41);  // the byte is stored unchanged
}

TEST_F(SwitchesTest, FailingProbeCountsAsAbsentAndLogsTheError) {
    corvo_emu_fail("IsPropertyPresent", static_cast<int32_t>(0x80004005), 0, 1);
    EXPECT_EQ(wgc_enable_cursor(session, 1), 0);
    EXPECT_EQ(log.lines(),
              (std::vector<LogLine>{{3, "Winrt exception:-2147467259", 27}, {2, "Failed to enable cursor", 23}}));
}

TEST_F(SwitchesTest, PropertiesAreProbedAfreshAtEveryCall) {
    EXPECT_EQ(wgc_enable_cursor(session, 1), 1);
    corvo_emu_set_property(kSessionType, "IsCursorCaptureEnabled", 0);
    EXPECT_EQ(wgc_enable_cursor(session, 1), 0);
    corvo_emu_set_property(kSessionType, "IsCursorCaptureEnabled", 1);
    EXPECT_EQ(wgc_enable_cursor(session, 1), 1);
}

}  // namespace
