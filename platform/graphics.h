// DXGI and Direct3D 11: the SDK's on Windows, the emulated platform's software subset elsewhere.
#pragma once

#include "platform/win32.h"

#ifdef _WIN32
#include <d3d11.h>
#include <dxgi1_6.h>
#else
#include "corvo_emu_d3d11.h"
#endif
