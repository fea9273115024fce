#include "session/frame_slot.h"

#include <chrono>
#include <utility>

namespace corvo {

uint64_t FrameSlot::begin(platform::Direct3D11CaptureFramePool pool) noexcept {
    platform::Direct3D11CaptureFrame dropped;
    std::lock_guard lock(mutex_);
    pool_ = std::move(pool);
    dropped = std::exchange(newest_, {});
    delivered_ = 0;
    closed_untold_.store(false);
    return ++capture_;
}

void FrameSlot::end() noexcept {
    platform::Direct3D11CaptureFramePool pool;
    platform::Direct3D11CaptureFrame frame;
    {
        std::lock_guard lock(mutex_);
        pool = std::exchange(pool_, {});
        frame = std::exchange(newest_, {});
        ++capture_;  // a Closed of the capture that ends is no longer told
        status_.store(0);
    }
    arrived_.notify_all();
    // Released outside the lock: giving a frame back takes the pool's own lock.
}

void FrameSlot::on_frame_arrived(void *context) {
    auto &slot = *static_cast<FrameSlot *>(context);
    {
        std::lock_guard lock(slot.mutex_);
        if (!slot.pool_) return;
        // Taken under the lock, so that two handlers at once cannot keep an older frame after a newer one.
        while (platform::Direct3D11CaptureFrame frame = slot.pool_.TryGetNextFrame()) {
            slot.newest_ = std::move(frame);
            slot.newest_number_ = ++slot.delivered_;
        }
        if (!slot.newest_) return;
    }
    slot.arrived_.notify_all();
}

FrameSlot::Newest FrameSlot::take() noexcept {
    std::lock_guard lock(mutex_);
    return {std::exchange(newest_, {}), newest_number_};
}

bool FrameSlot::wait(uint32_t timeout_ms) noexcept {
    std::unique_lock lock(mutex_);
    arrived_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                      [&] { return bool(newest_) || status_.load() == 0; });
    return bool(newest_) && status_.load() != 0;
}

void FrameSlot::started(uint64_t capture) noexcept {
    std::lock_guard lock(mutex_);
    if (capture == capture_ && !closed_untold_.load()) status_.store(1);
}

void FrameSlot::stopped() noexcept {
    {
        std::lock_guard lock(mutex_);
        status_.store(0);
    }
    arrived_.notify_all();
}

void FrameSlot::on_closed(uint64_t capture) noexcept {
    {
        std::lock_guard lock(mutex_);
        if (capture != capture_) return;
        status_.store(0);
        closed_untold_.store(true);
    }
    arrived_.notify_all();
}

}  // namespace corvo
