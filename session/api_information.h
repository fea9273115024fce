// The process-wide ApiInformation statics, looked up on first use and kept for the life of the process.
#pragma once

#include "platform/capture.h"

namespace corvo {

// Throws PlatformError when the statics cannot be obtained; a later call looks again.
const platform::ApiInformation &api_information();

// Whether GraphicsCaptureSession offers the property on this system. Evaluated afresh at every call; a
// platform error logs "Winrt exception" and counts as absent.
bool is_property_present(std::u16string_view property) noexcept;

inline constexpr std::u16string_view kCursorProperty = u"IsCursorCaptureEnabled";
inline constexpr std::u16string_view kBorderProperty = u"IsBorderRequired";
inline constexpr std::u16string_view kMinUpdateIntervalProperty = u"MinUpdateInterval";

}  // namespace corvo
