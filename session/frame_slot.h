// What the capture service's event handlers share with the session. FrameArrived of the free-threaded pool
// runs on a thread of the service, at any time, also while the host destroys or restarts the session; so the
// handlers hold this small state, never the session, and nothing they touch is freed under them. It also
// watches what ends a capture without an event any thread is sure to see: a removed device raises nothing, and
// Closed runs only where the start thread dispatches, which a wait on that thread does not.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "platform/capture.h"
#include "platform/com_ptr.h"
#include "platform/graphics.h"
#include "platform/win32.h"

namespace corvo {

class FrameSlot {
public:
    // Frames of `pool` are taken from now on, and the capture's device and its window (null for a monitor) are
    // watched; returns the number of this capture. A `replaceable` device (the library's own) that is lost while
    // recovery is on leaves the status as it is: the session rebuilds.
    uint64_t begin(platform::Direct3D11CaptureFramePool pool, ComPtr<ID3D11Device> device, HWND window,
                   bool replaceable) noexcept;
    // A rebuild: no frame is taken until resume() gives the pool of the new device; the capture, its number, its
    // frame count and its status go on. The frame kept goes back to the old pool.
    void suspend() noexcept;
    // False, taking nothing, when the capture ended meanwhile (the target closed).
    bool resume(platform::Direct3D11CaptureFramePool pool, ComPtr<ID3D11Device> device) noexcept;
    // Whether a loss of a replaceable device is rebuilt; any thread.
    void set_recovers(bool on) noexcept { recovers_.store(on); }
    // No frame is taken any more; the one kept goes back to the pool. A handler still running finds nothing
    // to take from, and waits for nothing but this lock.
    void end() noexcept;

    // The FrameArrived handler: takes every frame the pool holds, keeps the newest, and hands the others back
    // at once, so the service always has a free buffer to render the next one into. A platform error is left
    // to the event delegate.
    static void on_frame_arrived(void *slot);
    // The newest frame not yet taken, or none, with its number among the frames of this capture, from 1.
    struct Newest {
        platform::Direct3D11CaptureFrame frame;
        uint64_t number = 0;
    };
    Newest take() noexcept;
    // True as soon as a frame waits to be taken; false after `timeout_ms` without one, or once the capture ends
    // (the target closed, the device was lost, the session stopped). The device and the window are looked at
    // every kWatchInterval meanwhile.
    bool wait(uint32_t timeout_ms) noexcept;
    static constexpr uint32_t kWatchIntervalMs = 50;

    // The Closed handler of capture `capture`: the status drops at once; the line is told later, by a call of
    // the host (see take_closed). A window found gone counts as closed once, whichever comes first.
    void on_closed(uint64_t capture) noexcept;
    // True once after the target of the current capture closed: the caller tells it.
    bool take_closed() noexcept { return closed_untold_.exchange(false); }

    // 1 while capturing; read from any thread. A removed device reads 0 at once; a closed target once Closed
    // has run, or a wait has found the window gone.
    uint8_t status() noexcept;
    // Capture `capture` has started, unless its target closed already.
    void started(uint64_t capture) noexcept;
    // The capture has ended for another reason (the device was lost).
    void stopped() noexcept;

private:
    // Under the lock: ends a running capture whose device was removed, or, when `window` is set, whose window
    // has gone.
    void watch_locked(bool window) noexcept;

    std::mutex mutex_;  // guards the pool and the frame: the handler may run on several threads at once
    platform::Direct3D11CaptureFramePool pool_;
    platform::Direct3D11CaptureFrame newest_;
    uint64_t newest_number_ = 0;
    uint64_t delivered_ = 0;           // frames taken from the pool since the capture began
    std::condition_variable arrived_;  // a frame was kept, or the capture ended
    uint64_t capture_ = 0;
    ComPtr<ID3D11Device> device_;  // of the capture, watched
    HWND window_ = nullptr;        // the window captured, watched; null for a monitor
    bool replaceable_ = false;     // the device is the library's own
    bool closed_ = false;          // the target of the capture closed
    std::atomic<uint8_t> status_{0};
    std::atomic<bool> closed_untold_{false};
    std::atomic<bool> recovers_{false};
};

}  // namespace corvo
