#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "corvo_wgc.h"
#include "emu_fixture.h"
#include "known_lines.h"

namespace {

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
// step sets the system's answer (corvo_emu_set_borderless_access), then hides the border ('h') or shows it ('b'),
// starts the session ('s', the border shown unless a step hid it), makes another call of it ('c': the status; 'e':
// the same once the request ended in an error), or starts eight sessions of the window at once on eight threads
// ('8', 1 when each started within 100 ms); and checks the result, the one warning (or none), the lines that set or
// apply the border (each the one given; none for null) and the border the capture has (-1: none). The user is asked
// once, and again after each request that ended in an error.
struct ConsentStep {
    int32_t answer;
    char action;
    uint8_t returned;
    const char *warning;
    const char *border_line;
    int32_t border;
};

uint8_t start_eight_at_once(HWND window) {
    constexpr int kSessions = 8;
    std::atomic<int> created{0}, started{0}, late{0}, failed{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kSessions; ++i)
        threads.emplace_back([&] {
            wgc_session session = wgc_session_create(window);
            for (created.fetch_add(1); created.load() < kSessions;) std::this_thread::yield();
            const auto begun = std::chrono::steady_clock::now();
            if (wgc_session_start(session) != 1) failed.fetch_add(1);
            if (std::chrono::steady_clock::now() - begun > std::chrono::milliseconds(100)) late.fetch_add(1);
            for (started.fetch_add(1); started.load() < kSessions;) std::this_thread::yield();
            wgc_session_destroy(session);
        });
    for (std::thread &thread : threads) thread.join();
    return failed.load() == 0 && late.load() == 0 ? 1 : 0;
}

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
        const uint8_t returned =
            step.action == 'h'   ? wgc_show_border(session, 0)
            : step.action == 'b' ? wgc_show_border(session, 1)
            : step.action == 's' ? wgc_session_start(session)
            : step.action == 'c' ? wgc_get_status(session)
            : step.action == 'e'
                ? (corvo_emu_fail("GetResults", static_cast<int32_t>(0x80004005), 0, 1), wgc_get_status(session))
                : start_eight_at_once(window);
        const std::vector<std::string> warnings = log.at_level(2);
        const std::string expected =
            step.warning ? std::string("Failed to hide border: borderless capture access ") + step.warning
                         : std::string();
        const bool warned = (step.warning ? warnings == std::vector<std::string>{expected} : warnings.empty()) &&
                            (warnings.empty() || known_lines::is_valid(2, warnings[0].c_str(), warnings[0].size()));
        std::vector<std::string> border_lines;
        for (const std::string &line : log.at_level(1))
            if (line.find(" border") != std::string::npos) border_lines.push_back(line);
        const bool lines_right =
            step.border_line
                ? !border_lines.empty() &&
                      std::all_of(border_lines.begin(), border_lines.end(),
                                  [&](const std::string &line) { return line == step.border_line; })
                : border_lines.empty();
        const int32_t border = corvo_emu_capture_property(window, "IsBorderRequired");
        if (returned != step.returned || !warned || !lines_right || border != step.border) {
            std::fprintf(stderr, "step %zu: returned %u, border %d, %zu warnings%s%s, %zu border lines%s%s\n", i,
                         unsigned(returned), border, warnings.size(),
                         warnings.empty() ? "" : ", first: ", warnings.empty() ? "" : warnings[0].c_str(),
                         border_lines.size(), border_lines.empty() ? "" : ", first: ",
                         border_lines.empty() ? "" : border_lines[0].c_str());
            ++failures;
        }
    }
    const auto asked =
        1 + std::count_if(steps.begin(), steps.end(), [](const ConsentStep &s) { return s.action == 'e'; });
    if (corvo_emu_count("RequestAccessAsync") != uint64_t(asked)) {
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

// Nothing waits for the user: a hide while the answer is pending is accepted and applied once it comes; a
// refused hide leaves the switch as it was.
TEST_F(BorderlessConsent, AnAnswerIsKeptAPendingOneActedOnWhenItComesAndAMissingOneAskedAgain) {
    EXPECT_EXIT(std::exit(run_consent_steps(
                    {{4, 's', 1, nullptr, "Wgc border Enable ", 1},
                     {-1, 'h', 0, "cannot be asked, hr:80040154", nullptr, 1},
                     {-2, 'h', 1, nullptr, "Set hide border", 1},
                     {-2, 'c', 1, nullptr, nullptr, 1},
                     {4, 'c', 1, nullptr, nullptr, 0},
                     {0, 'c', 1, nullptr, nullptr, 0},
                     {2, 'h', 1, nullptr, "Set hide border", 1}})),
                ::testing::ExitedWithCode(0), "");
    // A request that ended in an error is a refusal, and the next hide asks again.
    EXPECT_EXIT(std::exit(run_consent_steps({{-2, 's', 1, nullptr, "Wgc border Enable ", 1},
                                             {-2, 'h', 1, nullptr, "Set hide border", 1},
                                             {4, 'e', 1, "cannot be asked, hr:80004005", nullptr, 1},
                                             {4, 'h', 1, nullptr, "Set hide border", 0}})),
                ::testing::ExitedWithCode(0), "");
}

TEST_F(BorderlessConsent, StartsNeverWaitForTheAnswerAndARefusalComesAsAWarning) {
    EXPECT_EXIT(std::exit(run_consent_steps({{-2, '8', 1, nullptr, "Wgc border Disable ", -1},
                                             {-2, 'h', 1, nullptr, "Set hide border", -1},
                                             {-2, 's', 1, nullptr, "Wgc border Disable ", 1},
                                             {2, 'c', 1, "denied, status 2", nullptr, 1},
                                             {2, 'c', 1, nullptr, nullptr, 1},
                                             {2, 's', 1, "denied, status 2", "Wgc border Disable ", 1}})),
                ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(std::exit(run_consent_steps(
                    {{4, 'h', 1, nullptr, "Set hide border", -1}, {4, 's', 1, nullptr, "Wgc border Disable ", 0}})),
                ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(std::exit(run_consent_steps(
                    {{1, 'h', 0, "denied, status 1", nullptr, -1}, {1, 's', 1, nullptr, "Wgc border Enable ", 1}})),
                ::testing::ExitedWithCode(0), "");
    // A hide the host took back before the answer came: its refusal is no news.
    EXPECT_EXIT(std::exit(run_consent_steps({{-2, 's', 1, nullptr, "Wgc border Enable ", 1},
                                             {-2, 'h', 1, nullptr, "Set hide border", 1},
                                             {-2, 'b', 1, nullptr, "Set show border", 1},
                                             {2, 'c', 1, nullptr, nullptr, 1}})),
                ::testing::ExitedWithCode(0), "");
    // A refusal that comes before the start is the start's to tell, once.
    EXPECT_EXIT(std::exit(run_consent_steps({{-2, 'h', 1, nullptr, "Set hide border", -1},
                                             {2, 'c', 0, nullptr, nullptr, -1},
                                             {2, 's', 1, "denied, status 2", "Wgc border Disable ", 1}})),
                ::testing::ExitedWithCode(0), "");
}

}  // namespace
