#include "session/frame_buffer.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <limits>

#include "session/log_sink.h"

namespace corvo {
namespace {

// 4 bytes per pixel at 1920x1080, 2560x1440, 3200x1800, 3840x2160 and 4096x2160.
constexpr uint64_t kTiers[] = {8294400, 14745600, 23040000, 33177600, 35389440};

// Null when the platform fails or the size is beyond what one object may have; then the need is logged.
platform::FrameBuffer allocate(uint64_t bytes) noexcept {
    if (bytes <= static_cast<uint64_t>(std::numeric_limits<ptrdiff_t>::max()))
        if (uint8_t *memory = platform::allocate_frame_buffer(static_cast<size_t>(bytes)))
            return platform::FrameBuffer(memory);
    const uint64_t kilobytes = bytes / 1024;
    log_failure(E_OUTOFMEMORY, "Failed to allocate %uKB",
                static_cast<unsigned>(std::min<uint64_t>(kilobytes, std::numeric_limits<uint32_t>::max())));
    return nullptr;
}

}  // namespace

bool ensure_frame_buffer(platform::FrameBuffer &buffer, uint64_t &capacity, uint32_t width, uint32_t height,
                         uint32_t bytes_per_pixel) noexcept {
    // The pixel count fits 64 bits; the byte count of a frame near 2^32 x 2^32 would not, so it saturates.
    const uint64_t pixels = uint64_t{width} * height;
    const uint64_t need = pixels > std::numeric_limits<uint64_t>::max() / bytes_per_pixel
                              ? std::numeric_limits<uint64_t>::max()
                              : pixels * bytes_per_pixel;
    if (!buffer) {
        buffer = allocate(need);
        if (!buffer) return false;
        capacity = need;
        return true;
    }
    if (capacity >= need) return true;

    // A need equal to a tier takes the next tier; beyond the last tier the need is allocated exactly.
    uint64_t grown = need;
    for (uint64_t tier : kTiers) {
        if (tier > need) {
            grown = tier;
            break;
        }
    }
    buffer.reset();
    capacity = 0;
    buffer = allocate(grown);
    if (!buffer) return false;
    std::memset(buffer.get(), 0, static_cast<size_t>(grown));
    capacity = grown;
    return true;
}

}  // namespace corvo
