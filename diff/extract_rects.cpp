#include "diff/extract_rects.h"

#include <algorithm>
#include <bit>

namespace corvo {

uint64_t extract_rects(const uint32_t *words, uint32_t rows, uint32_t words_per_row, uint32_t width, uint32_t height,
                       std::vector<DirtyRect> &rects) {
    rects.clear();
    uint64_t area = 0;
    // A word whose first cell starts at or right of the frame's right edge can give nothing.
    const uint32_t used_words =
        static_cast<uint32_t>(std::min<uint64_t>(words_per_row, (uint64_t{width} + 1023) / 1024));
    for (uint32_t r = 0; r < rows; ++r) {
        // Pixel positions are taken in 64 bits so that a tall or wide mask cannot wrap back into the frame.
        const uint64_t top = uint64_t{r} * 32;
        if (top >= height) break;
        const uint64_t bottom = std::min<uint64_t>(top + 32, height);
        const uint32_t *row = words + uint64_t{r} * words_per_row;
        for (uint32_t j = 0; j < used_words; ++j) {
            uint32_t v = row[j];
            while (v != 0) {
                const int first = std::countr_zero(v);
                const int end = first + std::countr_one(v >> first);  // one past the run's last bit
                const uint64_t left = (uint64_t{j} * 32 + static_cast<uint32_t>(first)) * 32;
                if (left >= width) break;
                const uint64_t right =
                    std::min<uint64_t>((uint64_t{j} * 32 + static_cast<uint32_t>(end)) * 32, width);
                rects.push_back({static_cast<uint32_t>(left), static_cast<uint32_t>(top), 0,
                                 static_cast<uint32_t>(right), static_cast<uint32_t>(bottom), 0});
                area += (bottom - top) * (right - left);
                v = end == 32 ? 0 : v & (~0u << end);
            }
        }
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
