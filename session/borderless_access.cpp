#include "session/borderless_access.h"

#include <mutex>
#include <new>

#include "session/log_sink.h"

namespace corvo {
namespace {

struct Consent {
    std::mutex mutex;  // held only while the request is looked at, never while it is waited for
    platform::BorderlessAccessRequest request;  // asked, not yet answered
    std::optional<platform::AccessStatus> answer;
};

Consent &consent() {
    static Consent *c = new Consent;  // kept: a request must not be released after COM has gone
    return *c;
}

BorderlessAccess found(BorderlessAccess::State state) { return {state, std::nullopt, S_OK}; }

BorderlessAccess refused(HRESULT failure) { return {BorderlessAccess::kRefused, std::nullopt, failure}; }

BorderlessAccess outcome(platform::AccessStatus answer) {
    if (answer == platform::AccessStatus::Allowed) return found(BorderlessAccess::kAllowed);
    return {BorderlessAccess::kRefused, answer, S_OK};
}

}  // namespace

BorderlessAccess borderless_access() noexcept {
    Consent &c = consent();
    std::lock_guard lock(c.mutex);
    if (c.answer) return outcome(*c.answer);
    try {
        if (!c.request) {
            const HRESULT hr = platform::BorderlessAccessRequest::request(&c.request);
            if (FAILED(hr)) return refused(hr);
        }
        if (!c.request.completed()) return found(BorderlessAccess::kPending);
        c.answer = c.request.GetResults();
        c.request = {};
        return outcome(*c.answer);
    } catch (const platform::PlatformError &error) {
        c.request = {};  // cancelled or failed: asked again next time
        return refused(error.code());
    } catch (const std::bad_alloc &) {
        c.request = {};
        return refused(E_OUTOFMEMORY);
    } catch (...) {
        c.request = {};
        return refused(E_FAIL);
    }
}

void BorderlessAccess::tell_refusal() const noexcept {
    if (answer)
        log_message(kLogWarning, "Failed to hide border: borderless capture access denied, status %d",
                    static_cast<int>(*answer));
    else
        log_message(kLogWarning, "Failed to hide border: borderless capture access cannot be asked, hr:%08x",
                    static_cast<unsigned>(failure));
}

}  // namespace corvo
