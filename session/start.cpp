#include "session/capture_session.h"

namespace corvo {

// The capture pipeline is not built yet: a start never succeeds.
bool WgcCaptureSession::Start() noexcept { return false; }

}  // namespace corvo
