#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "corvo_wgc.h"
#include "emu_fixture.h"
#include "known_lines.h"

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

// Hiding the border asks the user's consent once per process, so each sequence runs in a fresh process. A
// step sets the system's answer (corvo_emu_set_borderless_access), then hides the border ('h') or starts the
// session ('s', the border shown unless a step hid it), and checks the result, the one warning (or none) and the
// border the capture has (-1: none yet).
struct ConsentStep {
    int32_t answer;
    char action;
    uint8_t returned;
    const char *warning;
    int32_t border;
};

int run_consent_steps(const std::vector<ConsentStep> &steps) {
    LogCapture log;
    HWND window = corvo_emu_create_window(64, 48);
    wgc_session session = wgc_session_create(window);
    wgc_show_border(session, 1);  // a session hides it by default
    int failures = 0;
    for (size_t i = 0; i < steps.size(); ++i) {
        const ConsentStep &step = steps[i];
        corvo_emu_set_borderless_access(step.answer);
        log.clear();
        const uint8_t returned = step.action == 'h' ? wgc_show_border(session, 0) : wgc_session_start(session);
        const std::vector<std::string> warnings = log.at_level(2);
        const std::string expected =
            step.warning ? std::string("Failed to hide border: borderless capture access ") + step.warning
                         : std::string();
        const bool warned = (step.warning ? warnings == std::vector<std::string>{expected} : warnings.empty()) &&
                            (warnings.empty() || known_lines::is_valid(2, warnings[0].c_str(), warnings[0].size()));
        const int32_t border = corvo_emu_capture_property(window, "IsBorderRequired");
        if (returned != step.returned || !warned || border != step.border) {
            std::fprintf(stderr, "step %zu: returned %u, border %d, %zu warnings%s%s\n", i, unsigned(returned),
                         border, warnings.size(),
                         warnings.empty() ? "" : ", first: ", warnings.empty() ? "" : warnings[0].c_str());
            ++failures;
        }
    }
    if (corvo_emu_count("RequestAccessAsync") != 1) {
        std::fprintf(stderr, "asked %u times\n", unsigned(corvo_emu_count("RequestAccessAsync")));
        ++failures;
    }
    wgc_session_destroy(session);
    return failures;
}

class BorderlessConsent : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(BorderlessConsent, AnAnswerIsKeptAnUnansweredRequestWaitedForAndAMissingOneAskedAgain) {
    EXPECT_EXIT(std::exit(run_consent_steps({{4, 's', 1, nullptr, 1},
                                             {-1, 'h', 0, "cannot be asked, hr:80040154", 1},
                                             {-2, 'h', 0, "not answered within 1000ms", 1},
                                             {2, 'h', 0, "denied, status 2", 1},
                                             {4, 'h', 0, "denied, status 2", 0},
                                             {0, 'h', 0, "denied, status 2", 1}})),
                ::testing::ExitedWithCode(0), "");
}

TEST_F(BorderlessConsent, AStartWithTheBorderHiddenAsksAndStartsEvenWhenRefused) {
    EXPECT_EXIT(std::exit(run_consent_steps({{4, 'h', 1, nullptr, -1}, {4, 's', 1, nullptr, 0}})),
                ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(std::exit(
                    run_consent_steps({{1, 'h', 0, "denied, status 1", -1}, {1, 's', 1, "denied, status 1", 1}})),
                ::testing::ExitedWithCode(0), "");
}

}  // namespace
