#include "session/borderless_access.h"

#include <chrono>
#include <mutex>
#include <new>
#include <optional>
#include <thread>

#include "session/log_sink.h"
#include "platform/capture.h"

namespace corvo {
namespace {

struct Consent {
    std::mutex mutex;
    platform::BorderlessAccessRequest request;  // asked, not yet answered
    std::optional<platform::AccessStatus> answer;
};

Consent &consent() {
    static Consent *c = new Consent;  // kept: a request must not be released after COM has gone
    return *c;
}

// What a call found out: the answer, an unanswered request, or why none could be made.
struct Outcome {
    std::optional<platform::AccessStatus> answer;
    HRESULT failure = S_OK;
};

Outcome ask() {
    Consent &c = consent();
    std::lock_guard lock(c.mutex);
    if (c.answer) return {c.answer};
    try {
        if (!c.request) {
            const HRESULT hr = platform::BorderlessAccessRequest::request(&c.request);
            if (FAILED(hr)) return {std::nullopt, hr};
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBorderlessAnswerWaitMs);
        while (!c.request.completed()) {
            if (std::chrono::steady_clock::now() >= deadline) return {};
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        c.answer = c.request.GetResults();
        c.request = {};
        return {c.answer};
    } catch (const platform::PlatformError &error) {
        c.request = {};  // cancelled or failed: asked again next time
        return {std::nullopt, error.code()};
    } catch (const std::bad_alloc &) {
        c.request = {};
        return {std::nullopt, E_OUTOFMEMORY};
    } catch (...) {
        c.request = {};
        return {std::nullopt, E_FAIL};
    }
}

}  // namespace

bool borderless_access_allowed() noexcept {
    // Logged outside the lock: a logger may call the library, even from another thread.
    const Outcome outcome = ask();
    if (outcome.answer == platform::AccessStatus::Allowed) return true;
    if (outcome.answer)
        log_message(kLogWarning, "Failed to hide border: borderless capture access denied, status %d",
                    static_cast<int>(*outcome.answer));
    else if (FAILED(outcome.failure))
        log_message(kLogWarning, "Failed to hide border: borderless capture access cannot be asked, hr:%08x",
                    static_cast<unsigned>(outcome.failure));
    else
        log_message(kLogWarning, "Failed to hide border: borderless capture access not answered within %ums",
                    kBorderlessAnswerWaitMs);
    return false;
}

}  // namespace corvo
