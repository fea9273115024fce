#include "tools/capture_cli/demo_scene.h"

#include <algorithm>
#include <chrono>

namespace capture_cli {
namespace {

constexpr int32_t kTaskbarHeight = 40;
constexpr int32_t kTileSize = 240;
constexpr int32_t kTileTop = 80;
constexpr int32_t kTileMargin = 40;
// A move shifts the tile's stripes by half their period on the screen, so every pixel of the tile changes.
constexpr int32_t kTileMove = 20;
constexpr int32_t kStripePeriod = 40;
constexpr int32_t kClockScale = 4;

constexpr uint32_t bgra(uint32_t r, uint32_t g, uint32_t b) { return 0xFF000000u | r << 16 | g << 8 | b; }

// 3 x 5 glyphs of "0".."9" and ":", one row per 3 bits, top row first.
constexpr uint16_t kGlyphs[11][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1}, {7, 4, 7, 1, 7},
    {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7}, {0, 2, 0, 2, 0},
};

// Pixels of a `width`-wide picture; what falls outside it is clipped.
void fill(std::vector<uint32_t> &pixels, int32_t width, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t color) {
    const int32_t height = int32_t(pixels.size() / size_t(width));
    for (int32_t row = std::max(y, 0); row < std::min(y + h, height); ++row)
        std::fill_n(&pixels[size_t(row) * size_t(width) + size_t(std::max(x, 0))],
                    std::max(0, std::min(x + w, width) - std::max(x, 0)), color);
}

// The desktop: a vertical gradient, an idle document panel and the taskbar.
std::vector<uint32_t> draw_background(int32_t width, int32_t height) {
    std::vector<uint32_t> pixels(size_t(width) * size_t(height));
    for (int32_t y = 0; y < height; ++y)
        fill(pixels, width, 0, y, width, 1, bgra(32, 64 + uint32_t(y) * 64 / uint32_t(height), 112));
    fill(pixels, width, 60, 360, 560, 280, bgra(236, 236, 232));
    fill(pixels, width, 60, 360, 560, 28, bgra(70, 90, 120));
    for (int32_t line = 0; line < 9; ++line)
        fill(pixels, width, 84, 408 + line * 24, 300 + (line * 137) % 200, 10, bgra(150, 150, 150));
    fill(pixels, width, 0, height - kTaskbarHeight, width, kTaskbarHeight, bgra(24, 26, 32));
    return pixels;
}

// Tile moves made up to `step`: one per step in the second half of each scene second.
int64_t moves_until(int64_t step) {
    constexpr int64_t per_second = DemoScene::kStepsPerSecond;
    constexpr int64_t half = per_second / 2;
    return step / per_second * half + std::max<int64_t>(0, step % per_second - half + 1);
}

}  // namespace

DemoScene::DemoScene(int32_t width, int32_t height)
    : width_(width),
      height_(height),
      window_(corvo_emu_create_window(width, height)),
      background_(draw_background(width, height)),
      pixels_(background_.size()) {
    corvo_emu_set_title(window_, kTitle);
}

void DemoScene::present_next_step() {
    pixels_ = background_;
    draw_tile(step_);
    draw_clock(step_);
    corvo_emu_write(window_, 0, 0, width_, height_, pixels_.data(), uint32_t(width_) * 4);
    corvo_emu_present(window_);
    ++step_;
}

void DemoScene::draw_tile(int64_t step) {
    // Back and forth between the margins.
    const int64_t span = (width_ - 2 * kTileMargin - kTileSize) / kTileMove;
    const int64_t phase = moves_until(step) % (2 * span);
    const int32_t left = kTileMargin + int32_t(phase < span ? phase : 2 * span - phase) * kTileMove;
    for (int32_t y = 0; y < kTileSize; ++y)
        for (int32_t x = 0; x < kTileSize; ++x) {
            const bool light = (x + y) % kStripePeriod < kStripePeriod / 2;
            pixels_[size_t(kTileTop + y) * size_t(width_) + size_t(left + x)] =
                light ? bgra(250, 160, 40) : bgra(200, 90, 20);
        }
}

void DemoScene::draw_clock(int64_t step) {
    const int64_t seconds = step / kStepsPerSecond;
    const int glyphs[5] = {int(seconds / 600 % 10), int(seconds / 60 % 10), 10, int(seconds % 60 / 10),
                           int(seconds % 10)};
    const int32_t advance = 4 * kClockScale;
    const int32_t left = width_ - 16 - 5 * advance;
    const int32_t top = height_ - kTaskbarHeight + 10;
    for (int i = 0; i < 5; ++i)
        for (int32_t row = 0; row < 5; ++row)
            for (int32_t col = 0; col < 3; ++col)
                if (kGlyphs[glyphs[i]][row] >> (2 - col) & 1)
                    fill(pixels_, width_, left + i * advance + col * kClockScale, top + row * kClockScale,
                         kClockScale, kClockScale, bgra(240, 240, 240));
}

Compositor::Compositor(DemoScene &scene)
    : thread_([&scene](std::stop_token stop) {
          const auto period = std::chrono::microseconds(1000000 / DemoScene::kStepsPerSecond);
          auto next = std::chrono::steady_clock::now();
          while (!stop.stop_requested()) {
              scene.present_next_step();
              next += period;
              std::this_thread::sleep_until(next);
          }
      }) {}

}  // namespace capture_cli
