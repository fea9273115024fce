// Turns the change mask read back from the GPU (one bit per cell of 32 x 32 pixels) into changed rectangles
// and the update ratio.
#pragma once

#include <cstdint>
#include <vector>

#include "diff/dirty_rect.h"

namespace corvo {

// `words` holds `rows` rows of `words_per_row` words; bit i of word j stands for cell column 32 * j + i.
// Empties `rects` and fills it with rectangles that cover exactly the set cells: one per run of set bits in a
// row (runs continue across words), where a run right below a rectangle with the same left and right extends
// that rectangle instead. They come ordered by top, then left. Returns the sum of their areas. Right and bottom
// are exclusive and clipped to the frame, so a cell at the edge covers exactly its pixels inside it. `open` is
// scratch space, kept by the caller so that nothing is allocated beyond the growth of the two lists.
uint64_t extract_rects(const uint32_t *words, uint32_t rows, uint32_t words_per_row, uint32_t width, uint32_t height,
                       std::vector<DirtyRect> &rects, std::vector<uint32_t> &open);

// The changed share of a width x height frame.
float update_ratio_of(uint64_t changed_area, uint32_t width, uint32_t height) noexcept;

}  // namespace corvo
