// The state of the simulated system shared by every emulated operation: fault injection, call counters and
// the settings the control API changes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "corvo_emu_win32.h"

namespace corvo::emu {

// Counts one call of the operation and answers the HRESULT it must fail with, or S_OK.
HRESULT call(std::string_view operation);
// Adds to a counter that is not a call (bytes mapped, for instance).
void add_count(std::string_view name, int64_t delta);

uint16_t contract_version();
bool property_present(std::string_view type_name, std::string_view property);

// Invoked by corvo_emu_reset so each module can drop its own state.
using ResetHook = void (*)();
void on_reset(ResetHook hook);

}  // namespace corvo::emu
