// The read-back's copy of a mapped frame into the CPU frame buffer, whose rows lie back to back.
#pragma once

#include <cstdint>
#include <cstring>

namespace corvo {

// Copies the top-left width x height BGRA pixels of rows `row_pitch` bytes apart into rows width x 4 bytes
// apart; bytes are copied as they are.
inline void copy_rows(uint8_t *dst, const uint8_t *src, uint32_t row_pitch, uint32_t width,
                      uint32_t height) noexcept {
    const size_t row_bytes = size_t{width} * 4;
    // Unpadded rows lie back to back on both sides: one copy, which the C library runs faster than row by row.
    if (row_pitch == row_bytes) {
        std::memcpy(dst, src, row_bytes * height);
        return;
    }
    for (uint32_t y = 0; y < height; ++y) std::memcpy(dst + y * row_bytes, src + size_t{y} * row_pitch, row_bytes);
}

}  // namespace corvo
