#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "corvo_wgc.h"
#include "emu_fixture.h"

namespace {

using SupportProbeTest = EmuTest;

TEST_F(SupportProbeTest, AnswersFromTheUniversalContractVersion) {
    corvo_emu_set_contract_version(7);
    EXPECT_EQ(is_wgc_session_supported(), 0);
    corvo_emu_set_contract_version(8);
    EXPECT_EQ(is_wgc_session_supported(), 1);
    corvo_emu_set_contract_version(19);
    EXPECT_EQ(is_wgc_session_supported(), 1);
    // The contract is there, but the device, user or desktop cannot capture.
    corvo_emu_set_capture_supported(0);
    EXPECT_EQ(is_wgc_session_supported(), 0);
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(SupportProbeTest, FailingCallAnswersFalseWithoutALogLine) {
    for (const char *operation : {"IsApiContractPresent", "IsSupported"}) {
        corvo_emu_fail(operation, static_cast<int32_t>(0x80070424), 0, 1);
        EXPECT_EQ(is_wgc_session_supported(), 0) << operation;
        EXPECT_EQ(is_wgc_session_supported(), 1) << operation;
    }
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(SupportProbeTest, SameAnswerBeforeAndAfterSessionsExist) {
    const uint8_t before = is_wgc_session_supported();
    wgc_session s = wgc_session_create(reinterpret_cast<HWND>(1));
    EXPECT_EQ(is_wgc_session_supported(), before);
    wgc_session_destroy(s);
    EXPECT_EQ(is_wgc_session_supported(), before);
}

// The statics are looked up once per process, so these run in a fresh process each.
class FreshProcessProbe : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(FreshProcessProbe, WorksOnAThreadThatNeverInitialisedCom) {
    EXPECT_EXIT(
        {
            const bool supported = is_wgc_session_supported() == 1;
            const bool again = is_wgc_session_supported() == 1;
            // The process's multithreaded apartment was kept alive once, and the statics were kept.
            std::exit(supported && again && corvo_emu_count("CoIncrementMTAUsage") == 1 &&
                              corvo_emu_count("RoGetActivationFactory") == 2
                          ? 0
                          : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(FreshProcessProbe, FailedLookupAnswersFalseAndIsTriedAgainLater) {
    EXPECT_EXIT(
        {
            LogCapture log;
            corvo_emu_fail("RoGetActivationFactory", static_cast<int32_t>(REGDB_E_CLASSNOTREG), 0, 1);
            const bool first = is_wgc_session_supported() == 1;
            const bool second = is_wgc_session_supported() == 1;
            std::exit(!first && second && log.lines().empty() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
