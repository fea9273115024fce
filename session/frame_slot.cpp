#include "session/frame_slot.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace corvo {

uint64_t FrameSlot::begin(platform::Direct3D11CaptureFramePool pool, ComPtr<ID3D11Device> device, HWND window,
                          bool replaceable) noexcept {
    platform::Direct3D11CaptureFrame dropped;
    std::lock_guard lock(mutex_);
    pool_ = std::move(pool);
    dropped = std::exchange(newest_, {});
    delivered_ = 0;
    device_ = std::move(device);
    window_ = window;
    replaceable_ = replaceable;
    closed_ = false;
    closed_untold_.store(false);
    return ++capture_;
}

void FrameSlot::end() noexcept {
    platform::Direct3D11CaptureFramePool pool;
    platform::Direct3D11CaptureFrame frame;
    ComPtr<ID3D11Device> device;
    {
        std::lock_guard lock(mutex_);
        pool = std::exchange(pool_, {});
        frame = std::exchange(newest_, {});
        device = std::exchange(device_, {});
        window_ = nullptr;
        ++capture_;  // a Closed of the capture that ends is no longer told
        status_.store(0);
    }
    arrived_.notify_all();
    // Released outside the lock: giving a frame back takes the pool's own lock.
}

void FrameSlot::suspend() noexcept {
    platform::Direct3D11CaptureFramePool pool;
    platform::Direct3D11CaptureFrame frame;
    ComPtr<ID3D11Device> device;
    std::lock_guard lock(mutex_);
    pool = std::exchange(pool_, {});
    frame = std::exchange(newest_, {});
    device = std::exchange(device_, {});
}

bool FrameSlot::resume(platform::Direct3D11CaptureFramePool pool, ComPtr<ID3D11Device> device) noexcept {
    std::lock_guard lock(mutex_);
    if (closed_ || status_.load() == 0) return false;
    pool_ = std::move(pool);
    device_ = std::move(device);
    return true;
}

void FrameSlot::on_frame_arrived(void *context) {
    auto &slot = *static_cast<FrameSlot *>(context);
    {
        std::lock_guard lock(slot.mutex_);
        // The pool of a removed device is not touched: taking a frame from it has been seen to fail badly.
        if (!slot.pool_ || (slot.device_ && FAILED(slot.device_->GetDeviceRemovedReason()))) return;
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
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    std::unique_lock lock(mutex_);
    for (;;) {
        watch_locked(true);
        if (newest_ || status_.load() == 0) break;
        const Clock::time_point now = Clock::now();
        if (now >= deadline) break;
        arrived_.wait_for(lock,
                          std::min<Clock::duration>(deadline - now, std::chrono::milliseconds(kWatchIntervalMs)));
    }
    return bool(newest_) && status_.load() != 0;
}

uint8_t FrameSlot::status() noexcept {
    std::lock_guard lock(mutex_);
    watch_locked(false);
    return status_.load();
}

void FrameSlot::watch_locked(bool window) noexcept {
    if (status_.load() == 0) return;
    const bool lost = device_ && FAILED(device_->GetDeviceRemovedReason()) && !(replaceable_ && recovers_.load());
    const bool gone = !lost && window && window_ && !IsWindow(window_);
    if (!lost && !gone) return;
    status_.store(0);
    if (gone) {
        closed_ = true;
        closed_untold_.store(true);
    }
    arrived_.notify_all();
}

void FrameSlot::started(uint64_t capture) noexcept {
    std::lock_guard lock(mutex_);
    if (capture == capture_ && !closed_) status_.store(1);
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
        if (capture != capture_ || closed_) return;
        closed_ = true;
        status_.store(0);
        closed_untold_.store(true);
    }
    arrived_.notify_all();
}

}  // namespace corvo
