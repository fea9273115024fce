#include "api/support_probe.h"

#include "session/api_information.h"

namespace corvo {

bool capture_supported() noexcept {
    try {
        if (!api_information().IsApiContractPresent(u"Windows.Foundation.UniversalApiContract", 8)) return false;
        // The contract says the classes exist, not that this device, user or desktop can capture.
        bool supported = false;
        return SUCCEEDED(platform::GraphicsCaptureSession::IsSupported(&supported)) && supported;
    } catch (...) {
        return false;
    }
}

}  // namespace corvo
