#pragma once

#include <string>

#include "platform/capture.h"

namespace corvo::emu {

// Capture-service calls fail the way WinRT calls do: with an error carrying the HRESULT and a message.
inline void throw_if_failed(HRESULT hr, const char *operation) {
    if (FAILED(hr)) throw platform::PlatformError(hr, std::string(operation) + " failed");
}

}  // namespace corvo::emu
