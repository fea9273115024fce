#include "api/support_probe.h"

#include "session/api_information.h"

namespace corvo {

bool capture_supported() noexcept {
    try {
        return api_information().IsApiContractPresent(u"Windows.Foundation.UniversalApiContract", 8);
    } catch (...) {
        return false;
    }
}

}  // namespace corvo
