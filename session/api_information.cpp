#include "session/api_information.h"

#include "session/log_sink.h"
#include "platform/win32.h"

namespace corvo {
namespace {

constexpr std::u16string_view kCaptureSessionType = u"Windows.Graphics.Capture.GraphicsCaptureSession";

const platform::ApiInformation *look_up_statics() {
    platform::ApiInformation statics;
    HRESULT hr = platform::ApiInformation::get(&statics);
    if (hr == CO_E_NOTINITIALIZED) {
        // A thread without COM can still use the process's multithreaded apartment once it is kept alive.
        static const HRESULT mta_usage = [] {
            CO_MTA_USAGE_COOKIE cookie{};
            return CoIncrementMTAUsage(&cookie);
        }();
        if (SUCCEEDED(mta_usage)) hr = platform::ApiInformation::get(&statics);
    }
    if (FAILED(hr)) throw platform::PlatformError(hr, "");
    // Kept for the life of the process: releasing it at exit could run after COM has gone.
    return new platform::ApiInformation(std::move(statics));
}

}  // namespace

const platform::ApiInformation &api_information() {
    static const platform::ApiInformation *statics = look_up_statics();
    return *statics;
}

bool is_property_present(std::u16string_view property) noexcept {
    try {
        return api_information().IsPropertyPresent(kCaptureSessionType, property);
    } catch (const platform::PlatformError &error) {
        log_failure(error.code(), "Winrt exception:%ld", static_cast<long>(error.code()));
    } catch (...) {
    }
    return false;
}

}  // namespace corvo
