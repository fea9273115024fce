// The cursor, border and interval switches. The cursor refuses to be turned on, the border refuses to be turned
// off, where the running system lacks the property; hiding the border also needs the user's consent. They may
// come from any thread, also while the session captures: the capture objects are agile.
#include "session/log_sink.h"
#include "session/api_information.h"
#include "session/borderless_access.h"
#include "session/capture_session.h"

namespace corvo {
namespace {

// Sets a switch on the running capture session, if there is one, and then `commit`s it (stores the host's value),
// under the lock the start and the stop take to make and close it: the capture runs with the value stored last,
// and a value the platform refuses is not stored. False with a line, logged once the lock is let go, when the
// platform refuses it.
template <class Setter, class Commit>
bool apply(const char *what, std::mutex &mutex, const platform::GraphicsCaptureSession &session, Setter &&set,
           Commit &&commit) noexcept {
    std::exception_ptr error;
    {
        const std::lock_guard lock(mutex);
        try {
            if (session) set(session);
            commit();
        } catch (...) {
            error = std::current_exception();
        }
    }
    if (!error) return true;
    try {
        std::rethrow_exception(error);
    } catch (const platform::PlatformError &e) {
        log_failure(e.code(), "Failed to apply %s switch, Winrt exception:%ld", what, static_cast<long>(e.code()));
    } catch (const std::exception &e) {
        log_failure(E_FAIL, "Failed to apply %s switch, std exception:%s", what, e.what());
    } catch (...) {
    }
    return false;
}

// Whether the session captures: the property a switch sets is probed only then.
bool capturing(std::mutex &mutex, const platform::GraphicsCaptureSession &session) noexcept {
    const std::lock_guard lock(mutex);
    return bool(session);
}

}  // namespace

// Each switch is stored, and told, only once the running capture, if any, took it.

bool WgcCaptureSession::enable_cursor(uint8_t enable) noexcept {
    const bool present = is_property_present(kCursorProperty);
    if (enable && !present) {
        log_message(kLogWarning, "Failed to %s cursor", "enable");
        return false;
    }
    const bool stored = apply(
        "cursor", switch_mutex_, capture_session_,
        [&](const auto &session) {
            if (present) session.IsCursorCaptureEnabled(enable != 0);
        },
        [&] { cursor_enabled_.store(enable); });
    if (stored) log_message(kLogInfo, "Set %s cursor", enable ? "enable" : "disable");
    return stored;
}

bool WgcCaptureSession::show_border(uint8_t show) noexcept {
    const bool present = is_property_present(kBorderProperty);
    if (!present && !show) {
        log_message(kLogWarning, "Failed to  %s border", "hide");
        return false;
    }
    bool pending = false;
    if (!show) {
        const BorderlessAccess access = borderless_access();
        if (access.state == BorderlessAccess::kRefused) {
            access.tell_refusal();  // and the switch stays as it was
            return false;
        }
        // Not answered yet: accepted, and acted on when the answer comes.
        pending = access.state == BorderlessAccess::kPending;
    }
    const bool stored = apply(
        "border", switch_mutex_, capture_session_,
        [&](const auto &session) {
            if (present) session.IsBorderRequired(show != 0);
        },
        [&] { border_shown_.store(show); });
    if (!stored) return false;
    if (pending) consent_pending_.store(true);
    log_message(kLogInfo, "Set %s border", show ? "show" : "hide");
    return true;
}

void WgcCaptureSession::tell_borderless_answer() noexcept {
    if (!consent_pending_.load()) return;
    const BorderlessAccess access = borderless_access();
    // Until the capture runs, its start looks at the answer itself.
    if (access.state == BorderlessAccess::kPending || !capturing(switch_mutex_, capture_session_)) return;
    if (!consent_pending_.exchange(false) || border_shown_.load()) return;
    if (access.state == BorderlessAccess::kRefused) {
        access.tell_refusal();
        return;
    }
    // Set again now that it takes effect: the system may have judged it by the consent of the moment.
    apply(
        "border", switch_mutex_, capture_session_,
        [&](const auto &session) { session.IsBorderRequired(border_shown_.load() != 0); }, [] {});
}

bool WgcCaptureSession::set_min_update_interval(uint32_t microseconds) noexcept {
    const bool present = is_property_present(kMinUpdateIntervalProperty);
    // Where the system has no such setting its own default is all it does: asking for that is no refusal.
    if (!present && microseconds != 0) {
        log_message(kLogWarning, "Failed to set min update interval %uus", microseconds);
        return false;
    }
    const bool stored = apply(
        "min update interval", switch_mutex_, capture_session_,
        [&](const auto &session) {
            if (present) session.MinUpdateInterval(int64_t{microseconds} * 10);
        },
        [&] { min_update_interval_.store(microseconds); });
    if (stored) log_message(kLogInfo, "Set min update interval %uus", microseconds);
    return stored;
}

void WgcCaptureSession::apply_min_update_interval(bool quiet) {
    // Only an interval the host asked for is set, so a start logs nothing new for hosts that never ask.
    const uint32_t microseconds = min_update_interval_.load();
    if (microseconds == 0) return;
    if (!is_property_present(kMinUpdateIntervalProperty)) {
        if (!quiet) log_message(kLogWarning, "Failed to set min update interval %uus", microseconds);
        return;
    }
    if (!quiet) log_message(kLogInfo, "Wgc min update interval %uus", microseconds);
    if (destroyed()) return;  // the start sees it too
    const std::lock_guard lock(switch_mutex_);
    capture_session_.MinUpdateInterval(int64_t{min_update_interval_.load()} * 10);
}

}  // namespace corvo
