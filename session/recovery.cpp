// Recovery after the loss of the library's own device: inside the polls that follow, the device and everything
// bound to it are made again by the start's own path, trying at once and then backing off.
#include <algorithm>

#include "session/capture_session.h"
#include "session/log_sink.h"

namespace corvo {
namespace {

// After the first try, at once: 0.25 s, doubling up to 4 s between tries, as a driver reset takes seconds.
constexpr std::chrono::milliseconds kFirstBackOff{250}, kLongestBackOff{4000};

}  // namespace

bool WgcCaptureSession::recover() noexcept {
    if (!recovering_) return true;
    // A target that closed meanwhile ends the capture; so does recovery switched off, as if it never was on.
    if (slot_->status() == 0) {
        recovering_ = false;
        return true;
    }
    if (!device_source_.recovery()) {
        recovering_ = false;
        slot_->stopped();
        log_failure(lost_reason_, "Capture device lost, reason:%08x; the capture has ended",
                    static_cast<unsigned>(lost_reason_));
        return !destroyed();
    }
    const auto now = std::chrono::steady_clock::now();
    if (now < next_rebuild_) return true;
    release_device_objects();
    if (use_device(true) && start_pipeline(true)) {
        recovering_ = false;
        log_message(kLogInfo, "Wgc capture rebuilt, device generation %u", device_generation_);
        return !destroyed();
    }
    if (destroyed()) return false;
    release_device_objects();
    device_lost_ = true;  // nothing is read until a new device works
    next_rebuild_ = now + std::min(kFirstBackOff * (1u << std::min(rebuild_tries_, 5u)), kLongestBackOff);
    ++rebuild_tries_;
    return true;
}

}  // namespace corvo
