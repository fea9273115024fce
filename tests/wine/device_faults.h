// The fault points of the prefix's d3d11.dll, which the tests arm through its export corvo_test_fail_next.
#pragma once

#include "fault_points.h"

namespace wine_wgc {

enum class DeviceFault : int {
    CreateDevice = 0,
    DeviceInterop = 1,
    StagingTexture = 2,
    Map = 3,
    DxgiDevice = 4,  // a made device asked for its IDXGIDevice
    Count = 5
};
HRESULT take_device_fault(DeviceFault fault);

}  // namespace wine_wgc
