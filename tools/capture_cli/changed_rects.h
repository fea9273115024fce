// The changed rectangles of a polled frame: read from the library, written as text, and drawn as outlines.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "corvo_wgc.h"

namespace capture_cli {

struct ChangedRects {
    int32_t count = -1;  // as the library answers: -1 unknown (the whole frame), else how many
    std::vector<wgc_rect> rects;
};

ChangedRects read_changed_rects(wgc_session session);
// The pixels they cover, or the whole frame's when unknown.
uint64_t changed_pixels(const ChangedRects &changed, int32_t width, int32_t height);
// "2 changed: 1216,672-1280,704 0,0-32,32", "unchanged", or "whole frame".
std::string describe(const ChangedRects &changed);
// A copy of a BGRA frame with each rectangle outlined, two pixels wide, in magenta.
std::vector<uint8_t> outlined(const uint8_t *bgra, int32_t width, int32_t height, const ChangedRects &changed);

}  // namespace capture_cli
