#include "session/session_lifetime.h"

#include <chrono>
#include <thread>

namespace corvo {
namespace {

// The calls of this thread, innermost first: a chain through the callers' stack frames, so that nothing is
// allocated per call.
thread_local SessionLifetime::Call *innermost_call = nullptr;

}  // namespace

SessionLifetime::Call::Call(SessionLifetime &lifetime) noexcept : lifetime_(lifetime), outer_(innermost_call) {
    admitted_ = (lifetime_.word_.fetch_add(1) & kDestroyRequested) == 0;
    innermost_call = this;
}

SessionLifetime::Call::~Call() { innermost_call = outer_; }

bool SessionLifetime::Call::leave() noexcept {
    if (teardown_owed_) return true;
    // Nothing of the session is touched after this: a teardown waiting on another thread may free it at once.
    lifetime_.word_.fetch_sub(1);
    return false;
}

bool SessionLifetime::request_destroy(Call &destroy) noexcept {
    if (word_.fetch_or(kDestroyRequested) & kDestroyRequested) return false;
    Call *outermost = nullptr;
    for (Call *call = destroy.outer_; call; call = call->outer_)
        if (&call->lifetime_ == this) outermost = call;
    if (!outermost) return true;
    outermost->teardown_owed_ = true;
    return false;
}

void SessionLifetime::wait_for_other_calls() const noexcept {
    // Calls are short, and a wait ends as soon as the capture stops, which the destroy does first: a poll of
    // the count is enough, and leaves a returning call nothing to touch after its count is gone.
    while ((word_.load() & kCallCount) > 1) std::this_thread::sleep_for(std::chrono::microseconds(200));
}

}  // namespace corvo
