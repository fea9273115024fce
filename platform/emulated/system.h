// The state of the simulated system shared by every emulated operation: fault injection, call counters and
// the settings the control API changes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "corvo_emu_win32.h"

namespace corvo::emu {

// Counts one call of the operation and answers the HRESULT it must fail with, or S_OK.
HRESULT call(std::string_view operation) noexcept;
// Adds to a counter that is not a call (bytes mapped, for instance).
void add_count(std::string_view name, int64_t delta) noexcept;
// Adds to the gauge "resource_bytes" and raises its high-water mark "resource_bytes_peak" with it.
void add_resource_bytes(int64_t delta) noexcept;
// A call the Direct3D 11 runtime refuses: counted under "validation_errors" and told on stderr with the call's
// name and why, so that a misuse fails tests here as it fails on real drivers. The caller then refuses the call.
void refuse(const char *operation, const char *reason);

uint16_t contract_version();
// GraphicsCaptureSession.IsSupported's answer.
bool capture_supported();
bool property_present(std::string_view type_name, std::string_view property);
// The bind flags of new frame-pool textures: render target, and shader resource unless switched off.
uint32_t frame_bind_flags();
// Whether devices created now store B8G8R8A8_UNORM through typed unordered-access views.
bool bgra_uav_store();

// Invoked by corvo_emu_reset so each module can drop its own state.
using ResetHook = void (*)();
void on_reset(ResetHook hook);

}  // namespace corvo::emu
