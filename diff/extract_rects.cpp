#include "diff/extract_rects.h"

#include <algorithm>
#include <bit>

namespace corvo {
namespace {

// The set bits of one row of the mask as runs of cells [first, end), left to right, joined across words.
template <class Visit>
void for_each_run(const uint32_t *row, uint32_t words, Visit &&visit) {
    uint64_t start = 0;
    bool open = false;
    for (uint32_t j = 0; j < words; ++j) {
        uint32_t v = row[j];
        uint32_t bit = 0;
        while (bit < 32) {
            if (!open) {
                if ((v >> bit) == 0) break;
                bit += static_cast<uint32_t>(std::countr_zero(v >> bit));
                start = uint64_t{j} * 32 + bit;
                open = true;
            }
            const uint32_t ones = static_cast<uint32_t>(std::countr_one(v >> bit));
            bit += ones;
            if (bit < 32) {
                visit(start, uint64_t{j} * 32 + bit);
                open = false;
            }
        }
    }
    if (open) visit(start, uint64_t{words} * 32);
}

}  // namespace

uint64_t extract_rects(const uint32_t *words, uint32_t rows, uint32_t words_per_row, uint32_t width, uint32_t height,
                       std::vector<DirtyRect> &rects, std::vector<uint32_t> &open) {
    rects.clear();
    open.clear();
    uint64_t area = 0;
    // A word whose first cell starts at or right of the frame's right edge can give nothing.
    const uint32_t used_words =
        static_cast<uint32_t>(std::min<uint64_t>(words_per_row, (uint64_t{width} + 1023) / 1024));
    for (uint32_t r = 0; r < rows; ++r) {
        // Pixel positions are taken in 64 bits so that a tall or wide mask cannot wrap back into the frame.
        const uint64_t top = uint64_t{r} * 32;
        if (top >= height) break;
        const uint64_t bottom = std::min<uint64_t>(top + 32, height);
        // `open` holds, left to right, the rectangles that reach the previous row's bottom; this row's follow
        // them, and the previous row's are dropped at the end.
        const size_t above = open.size();
        size_t next = 0;
        for_each_run(words + uint64_t{r} * words_per_row, used_words, [&](uint64_t first, uint64_t end) {
            const uint64_t left = first * 32;
            if (left >= width) return;
            const uint64_t right = std::min<uint64_t>(end * 32, width);
            area += (bottom - top) * (right - left);
            while (next < above && rects[open[next]].left < left) ++next;
            if (next < above && rects[open[next]].left == left && rects[open[next]].right == right) {
                rects[open[next]].bottom = static_cast<uint32_t>(bottom);  // the run right below joins it
                open.push_back(open[next]);
                return;
            }
            open.push_back(static_cast<uint32_t>(rects.size()));
            rects.push_back({static_cast<uint32_t>(left), static_cast<uint32_t>(top), 0,
                             static_cast<uint32_t>(right), static_cast<uint32_t>(bottom), 0});
        });
        open.erase(open.begin(), open.begin() + std::ptrdiff_t(above));
    }
    return area;
}

float update_ratio_of(uint64_t changed_area, uint32_t width, uint32_t height) noexcept {
    // In 64 bits: the area of a frame larger than 65536 x 65536 pixels does not fit 32.
    const uint64_t frame_area = uint64_t{width} * height;
    if (frame_area == 0) return 0.0f;  // a frame without pixels has nothing that changed, not 0 / 0
    return static_cast<float>(static_cast<double>(changed_area) / static_cast<double>(frame_area));
}

}  // namespace corvo
