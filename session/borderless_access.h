// The user's consent to capture without the border, asked once per process.
#pragma once

namespace corvo {

// Whether hiding the border will take effect. The first call asks (GraphicsCaptureAccess, Borderless); a call
// waits at most kBorderlessAnswerWaitMs for the answer. An answer is kept for the process, a request not yet
// answered is looked at again by later calls, and a request that could not be made is made again. Anything
// but an allowing answer logs one warning saying why.
bool borderless_access_allowed() noexcept;

inline constexpr unsigned kBorderlessAnswerWaitMs = 1000;

}  // namespace corvo
