// The cell grid of the kernels, the thread groups that cover it, and the constants of the SDR kernel.
#pragma once

#include <cstdint>

namespace corvo {

inline constexpr uint32_t kCellSize = 32;
inline constexpr uint32_t kClearGroup = 16;  // threads per group of the clear kernel
inline constexpr uint32_t kGroupCells = 16;  // cells per group side of the cell kernel
inline constexpr uint32_t kPackGroup = 16;   // words and rows per group side of the pack kernel
inline constexpr uint32_t kMinRowWords = 4;

constexpr uint32_t ceil_div(uint32_t value, uint32_t divisor) { return value / divisor + (value % divisor != 0); }

inline constexpr uint32_t kSdrListRow = 32768;  // cell-list entries per row of groups of the SDR kernel

// A listed cell of the SDR kernel, in cells.
constexpr uint32_t sdr_cell_entry(uint32_t cell_x, uint32_t cell_y) { return cell_x | cell_y << 16; }

// The SDR kernel's constant buffer.
struct SdrInfo {
    uint32_t width, height;  // picture size in pixels
    uint32_t count;          // listed cells
    float scale;             // 80 / SDR white in nits: scRGB 1.0 is 80 nits
    uint32_t left, top;      // where the picture lies in the frame
    uint32_t unused[2];
};

// A white that is not a positive number of nits counts as 80, the white of scRGB.
inline SdrInfo sdr_info(uint32_t width, uint32_t height, uint32_t count, float white_nits, uint32_t left = 0,
                        uint32_t top = 0) {
    return {width, height, count, white_nits > 0.0f ? 80.0f / white_nits : 1.0f, left, top, {0, 0}};
}

}  // namespace corvo
