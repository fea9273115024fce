#include "platform/frame_memory.h"

#include <cstdlib>

namespace corvo::platform {

uint8_t *allocate_frame_buffer(size_t bytes) noexcept {
    return static_cast<uint8_t *>(std::malloc(bytes == 0 ? 1 : bytes));
}

void free_frame_buffer(uint8_t *buffer) noexcept { std::free(buffer); }

}  // namespace corvo::platform
