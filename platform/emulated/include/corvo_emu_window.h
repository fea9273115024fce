// The user32 and dwmapi calls that say where a window and its client area are, declared with the names, members and
// values of the Windows SDK (winuser.h, windef.h, dwmapi.h). A simulated window's frame (what its capture shows) is
// its visible bounds; its client area lies inside by the thickness that corvo_emu_set_window_frame set, and the
// window's rectangle of a framed window outside by its invisible resize borders.
#pragma once

#include "corvo_emu_win32.h"

typedef struct DPI_AWARENESS_CONTEXT__ *DPI_AWARENESS_CONTEXT;
#define DPI_AWARENESS_CONTEXT_UNAWARE ((DPI_AWARENESS_CONTEXT)-1)
#define DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2 ((DPI_AWARENESS_CONTEXT)-4)

#define DWMWA_EXTENDED_FRAME_BOUNDS 9

#ifdef __cplusplus
extern "C" {
#endif
/* FALSE, and nothing written, for a handle that is no open window. A window minimised with
 * corvo_emu_set_window_minimised has an empty client rectangle. */
BOOL WINAPI GetClientRect(HWND window, RECT *rect);
BOOL WINAPI ClientToScreen(HWND window, POINT *point);
BOOL WINAPI GetWindowRect(HWND window, RECT *rect);
BOOL WINAPI IsIconic(HWND window);
/* DWMWA_EXTENDED_FRAME_BOUNDS only (a RECT in screen coordinates); E_INVALIDARG for other attributes, sizes and
 * handles. */
HRESULT WINAPI DwmGetWindowAttribute(HWND window, DWORD attribute, void *value, DWORD size);
/* The calling thread's awareness is kept and answered, and has no other effect: simulated monitors are not
 * scaled. The previous context; null for a context that is not one of the two declared here. */
DPI_AWARENESS_CONTEXT WINAPI SetThreadDpiAwarenessContext(DPI_AWARENESS_CONTEXT context);
#ifdef __cplusplus
}
#endif
