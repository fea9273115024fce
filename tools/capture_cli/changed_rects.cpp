#include "tools/capture_cli/changed_rects.h"

#include <algorithm>

namespace capture_cli {

ChangedRects read_changed_rects(wgc_session session) {
    ChangedRects changed;
    changed.count = wgc_get_dirty_rects(session, nullptr, 0);
    if (changed.count > 0) {
        changed.rects.resize(size_t(changed.count));
        changed.count = std::min(changed.count, wgc_get_dirty_rects(session, changed.rects.data(), changed.count));
        changed.rects.resize(size_t(std::max(changed.count, 0)));
    }
    return changed;
}

uint64_t changed_pixels(const ChangedRects &changed, int32_t width, int32_t height) {
    if (changed.count < 0) return uint64_t(width) * uint64_t(height);
    uint64_t pixels = 0;
    for (const wgc_rect &r : changed.rects) pixels += uint64_t(r.right - r.left) * uint64_t(r.bottom - r.top);
    return pixels;
}

std::string describe(const ChangedRects &changed) {
    if (changed.count < 0) return "whole frame";
    if (changed.count == 0) return "unchanged";
    std::string text = std::to_string(changed.count) + " changed:";
    // The space is appended on its own: " " + std::string inserts at the front, where GCC 12 warns falsely
    // (-Wrestrict) inside std::string.
    for (const wgc_rect &r : changed.rects) {
        text += ' ';
        text += std::to_string(r.left) + "," + std::to_string(r.top) + "-" + std::to_string(r.right) + "," +
                std::to_string(r.bottom);
    }
    return text;
}

std::vector<uint8_t> outlined(const uint8_t *bgra, int32_t width, int32_t height, const ChangedRects &changed) {
    std::vector<uint8_t> out(bgra, bgra + size_t(width) * size_t(height) * 4);
    auto paint = [&](int32_t x, int32_t y) {
        if (x < 0 || y < 0 || x >= width || y >= height) return;
        uint8_t *p = out.data() + (size_t(y) * size_t(width) + size_t(x)) * 4;
        p[0] = 0xFF, p[1] = 0x00, p[2] = 0xFF, p[3] = 0xFF;  // B, G, R, A
    };
    for (const wgc_rect &r : changed.rects)
        for (int32_t edge = 0; edge < 2; ++edge) {
            for (int32_t x = r.left; x < r.right; ++x) paint(x, r.top + edge), paint(x, r.bottom - 1 - edge);
            for (int32_t y = r.top; y < r.bottom; ++y) paint(r.left + edge, y), paint(r.right - 1 - edge, y);
        }
    return out;
}

}  // namespace capture_cli
