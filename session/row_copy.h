// The read-back's copy of a mapped frame into the CPU frame buffer, whose rows lie back to back.
#pragma once

#include <cstdint>
#include <cstring>

namespace corvo {

// Copies the top-left width x height pixels of `bytes_per_pixel` bytes, in rows `row_pitch` bytes apart, into
// rows width x bytes_per_pixel bytes apart; bytes are copied as they are.
inline void copy_rows(uint8_t *dst, const uint8_t *src, uint32_t row_pitch, uint32_t width, uint32_t height,
                      uint32_t bytes_per_pixel = 4) noexcept {
    const size_t row_bytes = size_t{width} * bytes_per_pixel;
    // Unpadded rows lie back to back on both sides: one copy, which the C library runs faster than row by row.
    if (row_pitch == row_bytes) {
        std::memcpy(dst, src, row_bytes * height);
        return;
    }
    for (uint32_t y = 0; y < height; ++y) std::memcpy(dst + y * row_bytes, src + size_t{y} * row_pitch, row_bytes);
}

// Copies `width` RGBA pixels into BGRA ones: the red and blue bytes trade places.
inline void copy_swapping_red_blue(uint8_t *dst, const uint8_t *src, uint32_t width) noexcept {
    for (uint32_t x = 0; x < width; ++x, dst += 4, src += 4) {
        dst[0] = src[2];
        dst[1] = src[1];
        dst[2] = src[0];
        dst[3] = src[3];
    }
}

}  // namespace corvo
