// The cell grid of the kernels and the thread groups that cover it.
#pragma once

#include <cstdint>

namespace corvo {

inline constexpr uint32_t kCellSize = 32;
inline constexpr uint32_t kClearGroup = 16;  // threads per group of the clear kernel
inline constexpr uint32_t kGroupCells = 16;  // cells per group side of the cell kernel
inline constexpr uint32_t kPackGroup = 16;   // words and rows per group side of the pack kernel
inline constexpr uint32_t kMinRowWords = 4;

constexpr uint32_t ceil_div(uint32_t value, uint32_t divisor) { return value / divisor + (value % divisor != 0); }

}  // namespace corvo
