// Turns the change mask read back from the GPU (one bit per cell of 32 x 32 pixels) into changed rectangles
// and the update ratio.
#pragma once

#include <cstdint>
#include <vector>

#include "diff/dirty_rect.h"

namespace corvo {

// `words` holds `rows` rows of `words_per_row` words; bit i of word j stands for cell column 32 * j + i.
// Empties `rects`, appends one rectangle per run of set bits within a word (rows top to bottom, words and
// runs left to right) and returns the sum of their areas. Right and bottom are exclusive and clipped to the
// frame, so a cell at the edge covers exactly its pixels inside it. Allocates nothing beyond the growth of `rects`.
uint64_t extract_rects(const uint32_t *words, uint32_t rows, uint32_t words_per_row, uint32_t width, uint32_t height,
                       std::vector<DirtyRect> &rects);

// The changed share of a width x height frame.
float update_ratio_of(uint64_t changed_area, uint32_t width, uint32_t height) noexcept;

}  // namespace corvo
