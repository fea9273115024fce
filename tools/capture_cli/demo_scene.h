// The built-in demo scene of non-Windows builds: a simulated desktop window with a tile that moves in the second
// half of every scene second, a clock in the bottom-right corner that ticks once a scene second, and an idle
// panel that never changes.
#pragma once

#include <cstdint>
#include <thread>
#include <vector>

#include "corvo_emu.h"

namespace capture_cli {

class DemoScene {
public:
    static constexpr int32_t kWidth = 1280;  // the default size
    static constexpr int32_t kHeight = 720;
    static constexpr int32_t kMinWidth = 640;  // room for the tile to move and the clock
    static constexpr int32_t kMinHeight = 480;
    static constexpr int32_t kMaxSide = 8192;
    static constexpr int64_t kStepsPerSecond = 10;
    static constexpr char kTitle[] = "corvo demo scene";

    DemoScene(int32_t width = kWidth, int32_t height = kHeight);
    DemoScene(const DemoScene &) = delete;
    DemoScene &operator=(const DemoScene &) = delete;

    HWND window() const { return window_; }
    // Draws the next scene step into the window and presents it; call from one thread at a time.
    void present_next_step();

private:
    void draw_tile(int64_t step);
    void draw_clock(int64_t step);

    int32_t width_, height_;
    HWND window_;
    std::vector<uint32_t> background_;
    std::vector<uint32_t> pixels_;
    int64_t step_ = 0;
};

// Presents the scene's steps at kStepsPerSecond on a thread of its own, as a desktop compositor would.
class Compositor {
public:
    explicit Compositor(DemoScene &scene);

private:
    std::jthread thread_;
};

}  // namespace capture_cli
