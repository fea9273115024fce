// Each test starts on a fresh emulated system and must leave no platform object alive once the thread has
// dispatched its messages (as a host's loop does after its last destroy, which retires the thread's dispatcher
// queue), and must not have used the emulated device in a way the Direct3D 11 runtime refuses.
#pragma once

#include <gtest/gtest.h>

#include "corvo_emu.h"
#include "corvo_emu_win32.h"
#include "log_capture.h"

// What a host's message loop does: dispatches what the thread's queue holds, until it holds nothing.
inline void dispatch_thread_messages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

class EmuTest : public ::testing::Test {
protected:
    void SetUp() override { corvo_emu_reset(); }
    void TearDown() override {
        dispatch_thread_messages();
        EXPECT_EQ(corvo_emu_count("live_objects"), 0u);
        EXPECT_EQ(corvo_emu_count("validation_errors"), 0u) << "the device refused calls: see stderr";
    }

    LogCapture log;
};
