// The CPU frame buffer's memory. A platform call so that the emulated platform can make it fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace corvo::platform {

// Uninitialised memory, or null when it cannot be had.
uint8_t *allocate_frame_buffer(size_t bytes) noexcept;
void free_frame_buffer(uint8_t *buffer) noexcept;

struct FrameBufferDeleter {
    void operator()(uint8_t *buffer) const noexcept { free_frame_buffer(buffer); }
};
using FrameBuffer = std::unique_ptr<uint8_t[], FrameBufferDeleter>;

}  // namespace corvo::platform
