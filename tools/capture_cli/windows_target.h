// The window or monitor the options name, on Windows.
#pragma once

#include <string>

#include "corvo_wgc.h"
#include "tools/capture_cli/options.h"

namespace capture_cli {

// A session for the window (--window) or monitor (--monitor) the options name; null with the reason if there is
// none.
wgc_session create_windows_session(const Options &options, std::string &reason);

}  // namespace capture_cli
