#include "platform/capture.h"
#include "platform/emulated/system.h"
#include "platform/emulated/throw.h"

namespace corvo::platform {

void Direct3D11CaptureFramePool::Close() const { emu::throw_if_failed(emu::call("Close"), "Close"); }

}  // namespace corvo::platform
