// GraphicsCaptureSession of the simulated capture service.
#pragma once

#include "platform/emulated/object.h"

CORVO_EMU_IID(IEmuCaptureSession, 0x814e42a9, 0x2737, 0x4aa0, 0x87, 0x81, 0x2f, 0x65, 0x51, 0xb9, 0x2f, 0x80)
struct IEmuCaptureSession : IUnknown {
protected:
    ~IEmuCaptureSession() = default;
};

namespace corvo::emu {

class CaptureSession final : public Object<IEmuCaptureSession> {
public:
    CaptureSession() : Object(true) {}

    bool started = false;
    bool closed = false;
    bool cursor_capture_enabled = true;  // the platform's defaults before the host sets them
    bool border_required = true;

private:
    bool implements(REFIID iid) const noexcept override { return iid == __uuidof(IEmuCaptureSession); }
};

}  // namespace corvo::emu
