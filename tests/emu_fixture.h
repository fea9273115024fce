// Each test starts on a fresh emulated system and must leave no platform object alive.
#pragma once

#include <gtest/gtest.h>

#include "corvo_emu.h"
#include "log_capture.h"

class EmuTest : public ::testing::Test {
protected:
    void SetUp() override { corvo_emu_reset(); }
    void TearDown() override { EXPECT_EQ(corvo_emu_count("live_objects"), 0u); }

    LogCapture log;
};
