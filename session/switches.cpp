// The cursor and border switches. The cursor refuses to be turned on, the border refuses to be turned off,
// where the running system lacks the property; hiding the border also needs the user's consent. A running capture's
// switches belong on the thread that started it.
#include "session/log_sink.h"
#include "session/api_information.h"
#include "session/borderless_access.h"
#include "session/capture_session.h"

namespace corvo {
namespace {

// Applies a switch to the running capture session; false with a log line when the platform refuses it.
template <class Setter>
bool apply(const char *what, Setter &&set) noexcept {
    try {
        set();
        return true;
    } catch (const platform::PlatformError &error) {
        log_failure(error.code(), "Failed to apply %s switch, Winrt exception:%ld", what,
                    static_cast<long>(error.code()));
    } catch (const std::exception &error) {
        log_failure(E_FAIL, "Failed to apply %s switch, std exception:%s", what, error.what());
    }
    return false;
}

}  // namespace

bool WgcCaptureSession::on_start_thread(const char *what) noexcept {
    if (!capture_session_ || start_thread_ == std::this_thread::get_id()) return true;
    if (!wrong_thread_told_.exchange(true))
        log_message(kLogWarning,
                    "Failed to set %s from another thread: a running session's switches belong on the "
                    "thread that started it",
                    what);
    return false;
}

bool WgcCaptureSession::enable_cursor(uint8_t enable) noexcept {
    if (!on_start_thread("cursor")) return false;
    if (enable && !is_property_present(kCursorProperty)) {
        log_message(kLogWarning, "Failed to %s cursor", "enable");
        return false;
    }
    cursor_enabled_.store(enable);
    log_message(kLogInfo, "Set %s cursor", enable ? "enable" : "disable");
    if (capture_session_ && is_property_present(kCursorProperty))
        return apply("cursor", [&] { capture_session_.IsCursorCaptureEnabled(enable != 0); });
    return true;
}

bool WgcCaptureSession::show_border(uint8_t show) noexcept {
    if (!on_start_thread("border")) return false;
    const bool present = is_property_present(kBorderProperty);
    if (!present && !show) {
        log_message(kLogWarning, "Failed to  %s border", "hide");
        return false;
    }
    border_shown_.store(show);
    log_message(kLogInfo, "Set %s border", show ? "show" : "hide");
    // A refused consent is told, and the property is still set: Windows ignores it then.
    const bool allowed = show || borderless_access_allowed();
    if (destroyed()) return false;
    if (is_property_present(kBorderProperty) && capture_session_ &&
        !apply("border", [&] { capture_session_.IsBorderRequired(show != 0); }))
        return false;
    return allowed;
}

bool WgcCaptureSession::set_min_update_interval(uint32_t microseconds) noexcept {
    if (!on_start_thread("min update interval")) return false;
    const bool present = is_property_present(kMinUpdateIntervalProperty);
    // Where the system has no such setting its own default is all it does: asking for that is no refusal.
    if (!present && microseconds != 0) {
        log_message(kLogWarning, "Failed to set min update interval %uus", microseconds);
        return false;
    }
    min_update_interval_.store(microseconds);
    log_message(kLogInfo, "Set min update interval %uus", microseconds);
    if (capture_session_ && present)
        return apply("min update interval", [&] { capture_session_.MinUpdateInterval(int64_t{microseconds} * 10); });
    return true;
}

void WgcCaptureSession::apply_min_update_interval() {
    // Only an interval the host asked for is set, so a start logs nothing new for hosts that never ask.
    const uint32_t microseconds = min_update_interval_.load();
    if (microseconds == 0) return;
    if (!is_property_present(kMinUpdateIntervalProperty)) {
        log_message(kLogWarning, "Failed to set min update interval %uus", microseconds);
        return;
    }
    log_message(kLogInfo, "Wgc min update interval %uus", microseconds);
    if (destroyed()) return;  // the start sees it too
    capture_session_.MinUpdateInterval(int64_t{microseconds} * 10);
}

}  // namespace corvo
