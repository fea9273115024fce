// Sizing of the CPU frame buffer: an exact first allocation, growth in capacity tiers, no shrinking, so that
// a target whose size changes step by step does not reallocate at every step.
#pragma once

#include <cstdint>

#include "platform/frame_memory.h"

namespace corvo {

// Makes `buffer` hold at least width x height x bytes_per_pixel bytes; `capacity` is its size in bytes, 0 without a
// buffer. A grown buffer is zero-filled and the old contents are lost. False, with a line that says how much was
// asked for, when the memory cannot be had; a failed growth leaves no buffer and capacity 0.
bool ensure_frame_buffer(platform::FrameBuffer &buffer, uint64_t &capacity, uint32_t width, uint32_t height,
                         uint32_t bytes_per_pixel = 4) noexcept;

}  // namespace corvo
