#include "platform/emulated/capture_session.h"

#include "platform/capture.h"
#include "platform/emulated/system.h"
#include "platform/emulated/throw.h"

namespace corvo::platform {
namespace {

emu::CaptureSession &session_of(const Projected &projected) {
    return *static_cast<emu::CaptureSession *>(static_cast<IEmuCaptureSession *>(projected.get()));
}

void check(const char *operation) { emu::throw_if_failed(emu::call(operation), operation); }

}  // namespace

void GraphicsCaptureSession::StartCapture() const {
    check("StartCapture");
    emu::CaptureSession &session = session_of(*this);
    if (session.closed) throw PlatformError(RO_E_CLOSED, "The object has been closed.");
    session.started = true;
}

void GraphicsCaptureSession::IsCursorCaptureEnabled(bool enabled) const {
    check("put_IsCursorCaptureEnabled");
    session_of(*this).cursor_capture_enabled = enabled;
}

void GraphicsCaptureSession::IsBorderRequired(bool required) const {
    check("put_IsBorderRequired");
    session_of(*this).border_required = required;
}

void GraphicsCaptureSession::Close() const {
    check("Close");
    session_of(*this).closed = true;
}

}  // namespace corvo::platform
