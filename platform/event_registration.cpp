#include "platform/capture.h"

namespace corvo::platform {

EventRegistration::EventRegistration(EventRegistration &&other) noexcept
    : source_(std::exchange(other.source_, WeakRef())), token_(other.token_), remove_(other.remove_) {}

EventRegistration &EventRegistration::operator=(EventRegistration &&other) noexcept {
    if (this != &other) {
        revoke();
        source_ = std::exchange(other.source_, WeakRef());
        token_ = other.token_;
        remove_ = other.remove_;
    }
    return *this;
}

void EventRegistration::revoke() noexcept {
    WeakRef source = std::exchange(source_, WeakRef());
    if (!source) return;
    ComPtr<IUnknown> strong = source.resolve();
    if (!strong) return;
    try {
        remove_(strong.get(), token_);
    } catch (...) {
        // A failing removal changes nothing for the caller: the source goes away with its handlers.
    }
}

}  // namespace corvo::platform
