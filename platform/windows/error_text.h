// Turning a failed HRESULT into the PlatformError the system code catches.
#pragma once

#include <string>

#include "platform/capture.h"

namespace corvo::platform {

// The UTF-8 text for a failure just reported by the calling thread: the restricted error description when the
// thread's error object is about this code, else the system's message text, else empty.
std::string error_text(HRESULT code);

[[noreturn]] void throw_error(HRESULT code);

inline void check(HRESULT code) {
    if (FAILED(code)) throw_error(code);
}

}  // namespace corvo::platform
