// Each test starts on a fresh emulated system and must leave no platform object alive, and must not have
// used the emulated device in a way the Direct3D 11 runtime refuses.
#pragma once

#include <gtest/gtest.h>

#include "corvo_emu.h"
#include "log_capture.h"

class EmuTest : public ::testing::Test {
protected:
    void SetUp() override { corvo_emu_reset(); }
    void TearDown() override {
        EXPECT_EQ(corvo_emu_count("live_objects"), 0u);
        EXPECT_EQ(corvo_emu_count("validation_errors"), 0u) << "the device refused calls: see stderr";
    }

    LogCapture log;
};
