#pragma once

namespace corvo {

// Whether the system offers the universal API contract 8 that window capture needs and says that capture is
// supported here (GraphicsCaptureSession.IsSupported; a failure of it means no). Never logs.
bool capture_supported() noexcept;

}  // namespace corvo
