// The user's consent to capture without the border, asked once per process, in the background.
#pragma once

#include <optional>

#include "platform/capture.h"

namespace corvo {

// Where the consent stands, as one call found it.
struct BorderlessAccess {
    enum State { kAllowed, kPending, kRefused };
    State state = kPending;
    std::optional<platform::AccessStatus> answer;  // a refusing answer
    HRESULT failure = S_OK;                        // else why none could be had

    // The one warning that says why hiding the border is refused.
    void tell_refusal() const noexcept;
};

// Never waits for the user. The first call asks (GraphicsCaptureAccess, Borderless), and until the answer comes
// every call finds the request pending. An answer is kept for the process; a request that could not be made,
// or that failed, is made again by the next call.
BorderlessAccess borderless_access() noexcept;

}  // namespace corvo
