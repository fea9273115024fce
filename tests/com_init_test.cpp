// COM is initialised once per process, so each case runs in a fresh process.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string_view>
#include <thread>
#include <vector>

#include "corvo_emu.h"
#include "corvo_wgc.h"
#include "log_capture.h"

namespace {

class ComInit : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(ComInit, InitialisedOnceForManySessionsOnSeveralThreads) {
    EXPECT_EXIT(
        {
            std::vector<std::thread> threads;
            for (int t = 0; t < 4; ++t)
                threads.emplace_back([] {
                    for (int i = 0; i < 8; ++i) wgc_session_destroy(wgc_session_create(reinterpret_cast<HWND>(1)));
                });
            for (std::thread &thread : threads) thread.join();
            std::exit(corvo_emu_count("CoInitializeEx") == 1 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// Registered before the first session, so it would run after any exit handler of the library.
void exit_with_uninitialize_count() { std::_Exit(static_cast<int>(corvo_emu_count("CoUninitialize"))); }

// An uninitialisation at exit or unload would run on whatever thread ends the process or unloads the library,
// unbalanced for that thread's apartment: the process's apartment is left to the process's end.
TEST_F(ComInit, NeverUninitialisedFromTheExitPath) {
    EXPECT_EXIT(
        {
            std::atexit(exit_with_uninitialize_count);
            std::thread([] { wgc_session_destroy(wgc_session_create(reinterpret_cast<HWND>(1))); }).join();
            std::exit(100);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(ComInit, ThreadInAnotherApartmentStillCreatesSessionsAndRegistersNoUninitialize) {
    EXPECT_EXIT(
        {
            std::atexit(exit_with_uninitialize_count);
            CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);  // the host's own apartment
            wgc_session s = wgc_session_create(reinterpret_cast<HWND>(1));
            if (!s) std::_Exit(50);
            wgc_session_destroy(s);
            std::exit(100);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(ComInit, FailedInitialisationRefusesTheSessionAndIsTriedAgain) {
    EXPECT_EXIT(
        {
            LogCapture log;
            corvo_emu_fail("CoInitializeEx", static_cast<int32_t>(E_OUTOFMEMORY), 0, 1);
            wgc_session refused = wgc_session_create(reinterpret_cast<HWND>(1));
            const bool logged = log.at_level(3) == std::vector<std::string>{"Failed to initialize COM, hr:8007000e"};
            wgc_session s = wgc_session_create(reinterpret_cast<HWND>(1));
            const bool ok = refused == nullptr && logged && s != nullptr && corvo_emu_count("CoInitializeEx") == 2;
            wgc_session_destroy(s);
            std::_Exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// The failure line is told outside the one-time initialisation: a logger may create a session on it.
wgc_session created_on_the_line = nullptr;

TEST_F(ComInit, LoggerMayCreateASessionOnTheFailureLine) {
    EXPECT_EXIT(
        {
            wgc_register_logger([](int32_t, const char *text, uint64_t) {
                if (std::string_view(text).starts_with("Failed to initialize COM"))
                    created_on_the_line = wgc_session_create(reinterpret_cast<HWND>(1));
            });
            corvo_emu_fail("CoInitializeEx", static_cast<int32_t>(E_OUTOFMEMORY), 0, 1);
            const bool refused = wgc_session_create(reinterpret_cast<HWND>(1)) == nullptr;
            const bool ok = refused && created_on_the_line != nullptr;
            wgc_session_destroy(created_on_the_line);
            std::_Exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
