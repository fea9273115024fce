// The region and client-area switches: from any thread, before the start or while capturing; they hold from the
// next picture read.
#include "session/capture_session.h"
#include "session/log_sink.h"

namespace corvo {

bool WgcCaptureSession::set_region(const wgc_rect *region) noexcept {
    const wgc_rect whole{};
    const wgc_rect &asked = region ? *region : whole;
    if (!region_.set_region(region)) {
        log_message(kLogWarning, "Failed to set region %ld,%ld,%ld,%ld", long{asked.left}, long{asked.top},
                    long{asked.right}, long{asked.bottom});
        return false;
    }
    log_message(kLogInfo, "Set region %ld,%ld,%ld,%ld", long{asked.left}, long{asked.top}, long{asked.right},
                long{asked.bottom});
    return true;
}

bool WgcCaptureSession::set_client_area(uint8_t on) noexcept {
    // A monitor has no client area; asking it for none is no refusal.
    if (on && !target_window_) {
        log_message(kLogWarning, "Failed to set client area: the target is a monitor");
        return false;
    }
    region_.set_client_area(on != 0);
    log_message(kLogInfo, "Set client area %s", on ? "on" : "off");
    return true;
}

}  // namespace corvo
