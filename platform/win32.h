// Win32 and COM base types and calls: the SDK's on Windows, the emulated platform's elsewhere.
#pragma once

#ifdef _WIN32
#include <windows.h>
// dwmapi.h needs the types of windows.h.
#include <dwmapi.h>
#else
#include "corvo_emu_display.h"
#include "corvo_emu_win32.h"
#include "corvo_emu_window.h"
#endif
