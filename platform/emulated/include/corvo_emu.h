/* Control API of the emulated platform: the simulated system that libcorvo-wgc runs on outside Windows.
 * Tests and demos use it to set up targets and adapters, choose what the system offers, inject faults and
 * read counters. Compiles as C99 and as C++. */
#ifndef CORVO_EMU_H
#define CORVO_EMU_H

#include <stddef.h>
#include <stdint.h>

#include "corvo_emu_win32.h"

/* Nothing is thrown out of these functions. */
#ifdef __cplusplus
#define CORVO_EMU_NOEXCEPT noexcept
#else
#define CORVO_EMU_NOEXCEPT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A simulated window or monitor; its pixels start opaque black (B, G, R, A = 0, 0, 0, 255). Null for a side of
 * 0 or less or above 16384 (the largest Direct3D 11 texture side), and when memory runs out. */
HWND corvo_emu_create_window(int32_t width, int32_t height) CORVO_EMU_NOEXCEPT;
HMONITOR corvo_emu_create_monitor(int32_t width, int32_t height) CORVO_EMU_NOEXCEPT;
/* Change a target's pixels (clipped to the target) to SDR content: 8-bit sRGB BGRA; bgra_rows holds rows of
 * `stride` bytes. */
void corvo_emu_fill(void *target, int32_t x, int32_t y, int32_t width, int32_t height,
                    uint32_t bgra) CORVO_EMU_NOEXCEPT;
void corvo_emu_write(void *target, int32_t x, int32_t y, int32_t width, int32_t height, const void *bgra_rows,
                     uint32_t stride) CORVO_EMU_NOEXCEPT;
/* Paints HDR content: linear scRGB values (1.0 = 80 nits, above it brighter, 12.5 = 1000 nits), kept as FP16
 * (rounded toward zero, as GPUs store them). Content written as 8-bit pixels over it is SDR content again.
 *
 * Frames are composed as Windows composes them for the monitor the target is shown on, and then take the frame
 * pool's format (B8G8R8A8_UNORM, R8G8B8A8_UNORM or R16G16B16A16_FLOAT; Create, CreateFreeThreaded and Recreate
 * refuse others with E_INVALIDARG):
 * - SDR monitor: 8-bit sRGB; HDR content is clipped channel by channel to [0, 1] and sRGB-encoded. FP16 frames
 *   hold those pixels sRGB-decoded, white at 1.0.
 * - HDR monitor, FP16 frames: scRGB; SDR content sRGB-decoded (the piecewise curve) and scaled by SDR white / 80
 *   (white at 2.5 for 200 nits), HDR content as painted.
 * - HDR monitor, 8-bit frames: SDR content exactly as an SDR monitor shows it; HDR content scaled by 80 / SDR white,
 *   clipped channel by channel and sRGB-encoded, so that whatever is brighter than SDR white is clipped.
 * FP16 values are rounded toward zero; 8-bit ones by Direct3D's rule (x * 255 + 0.5 truncated); alpha is the
 * content's. */
void corvo_emu_fill_scrgb(void *target, int32_t x, int32_t y, int32_t width, int32_t height, float r, float g,
                          float b, float a) CORVO_EMU_NOEXCEPT;
/* New size, content kept top-left and the new area black; a size that a new target could not have, or that
 * memory cannot hold, is refused and the target keeps its own. */
void corvo_emu_resize(void *target, int32_t width, int32_t height) CORVO_EMU_NOEXCEPT;
/* The target goes away: Closed is raised on every capture item of it. */
void corvo_emu_close(void *target) CORVO_EMU_NOEXCEPT;
/* Every frame pool capturing the target that has a free buffer receives one frame of the target's current
 * pixels and queues FrameArrived to its thread; returns how many did. Safe from any thread. */
int32_t corvo_emu_present(void *target) CORVO_EMU_NOEXCEPT;
/* Moves the system's performance counter, which frames carry as their SystemRelativeTime, `ticks` 100 ns units
 * further ahead of the real clock (a negative count is ignored: the counter never goes back), so that a test can
 * present frames at a rate without sleeping. A reset sets it back to the real clock. */
void corvo_emu_advance_clock(int64_t ticks) CORVO_EMU_NOEXCEPT;
/* A switch of the latest capture session of the target ("IsCursorCaptureEnabled", "IsBorderRequired",
 * "started": 0 or 1; "MinUpdateInterval": microseconds), or -1 when the target has no capture session. */
int32_t corvo_emu_capture_property(void *target, const char *property) CORVO_EMU_NOEXCEPT;

/* A window's title, UTF-8 (windows start untitled); a null title clears it. Monitors and unknown handles are
 * left alone. */
void corvo_emu_set_title(HWND window, const char *utf8);

/* A target as the system lists it. Monitors lie side by side, left to right in the order they were created, the
 * first (the primary) at (0, 0); windows are at (0, 0) until moved. */
typedef struct corvo_emu_target {
    void *handle; /* an HWND, or an HMONITOR when is_monitor */
    int32_t is_monitor;
    int32_t x, y, width, height;
    char title[256]; /* UTF-8, NUL-terminated; a longer title is cut at a character boundary */
} corvo_emu_target;

/* Writes the targets that have not closed, in the order they were created, to out (at most `capacity` of
 * them; none for a null out) and returns how many there are. */
int32_t corvo_emu_list_targets(corvo_emu_target *out, int32_t capacity);

/* Moves a window's top-left corner on the desktop (monitors and unknown handles are left alone). The window is
 * shown on the monitor it overlaps most (MonitorFromWindow with MONITOR_DEFAULTTONEAREST), or the nearest. */
void corvo_emu_move_window(HWND window, int32_t x, int32_t y) CORVO_EMU_NOEXCEPT;
/* The thickness in pixels of a window's non-client area (title bar and borders) on each side; default 0, the client
 * area is the whole window. The captured content is still the whole window; GetClientRect, ClientToScreen,
 * GetWindowRect and DwmGetWindowAttribute(DWMWA_EXTENDED_FRAME_BOUNDS) report accordingly, and GetWindowRect of a
 * window with a frame also takes in invisible resize borders, 7 pixels left, right and bottom, as on Windows 10
 * and 11. Negative sides count as 0; monitors and unknown handles are left alone. */
void corvo_emu_set_window_frame(HWND window, int32_t left, int32_t top, int32_t right,
                                int32_t bottom) CORVO_EMU_NOEXCEPT;
/* Minimises a window (1) or restores it (0). Minimised, IsIconic says so, GetClientRect gives an empty rectangle,
 * and the window's rectangle and client origin lie at -32000, -32000, as Windows parks them. What a capture of a
 * minimised window delivers on Windows is not known: here frames still come as presented, the whole window's. */
void corvo_emu_set_window_minimised(HWND window, BOOL minimised) CORVO_EMU_NOEXCEPT;

/* A monitor's mode, or that of the monitor a window is shown on (nothing happens where there is none): HDR on
 * (1) or off (0, the default), and the SDR white in nits that HDR mode shows SDR content at (default 80; held to
 * the range of Windows' slider, 80 to 480). DXGI reports the mode (IDXGIOutput6::GetDesc1's ColorSpace
 * DXGI_COLOR_SPACE_RGB_FULL_G2084_NONE_P2020 in HDR, DXGI_COLOR_SPACE_RGB_FULL_G22_NONE_P709 otherwise) and the
 * display configuration the white (DisplayConfigGetDeviceInfo, DISPLAYCONFIG_DEVICE_INFO_GET_SDR_WHITE_LEVEL:
 * nits * 1000 / 80, read whether or not HDR is on). A change of the mode changes the display configuration, so
 * that DXGI factories made before it are no longer current (IDXGIFactory1::IsCurrent); a change of the white
 * alone does not, as moving the slider does not. Monitors made, closed or resized change it too. */
void corvo_emu_set_hdr(void *target, int32_t hdr, uint32_t sdr_white_nits) CORVO_EMU_NOEXCEPT;

/* The major version of "Windows.Foundation.UniversalApiContract" the system offers (default 19). */
void corvo_emu_set_contract_version(uint16_t major) CORVO_EMU_NOEXCEPT;
/* Whether a property of a runtime type is present (default: the capture session's IsCursorCaptureEnabled,
 * IsBorderRequired and MinUpdateInterval are present). */
void corvo_emu_set_property(const char *type_name, const char *property, int32_t present) CORVO_EMU_NOEXCEPT;

/* What GraphicsCaptureSession.IsSupported answers (default 1); the "IsSupported" operation can fail too. */
void corvo_emu_set_capture_supported(int32_t supported) CORVO_EMU_NOEXCEPT;
/* The user's answer to a request for capture without the border: an AppCapabilityAccessStatus (0 denied by
 * the system, 1 not declared by the app, 2 denied by the user, 3 prompt required, 4 allowed: the default), -1
 * where the system has no GraphicsCaptureAccess, or -2 while the user has not answered; an answer completes every
 * request asked while unanswered. Hiding the border of a session takes effect only while the answer is 4. */
void corvo_emu_set_borderless_access(int32_t answer) CORVO_EMU_NOEXCEPT;

/* Whether the textures of frame pools created or recreated from now on carry D3D11_BIND_SHADER_RESOURCE
 * (default 1). The system does not document the frames' bind flags, so hosts read them; 0 tests that path. */
void corvo_emu_set_frame_shader_readable(int32_t readable) CORVO_EMU_NOEXCEPT;

/* Whether devices created from now on store B8G8R8A8_UNORM from a kernel through a typed unordered-access view
 * (default 1). Not every Direct3D 11 device can: with 0, CheckFormatSupport lacks
 * D3D11_FORMAT_SUPPORT_TYPED_UNORDERED_ACCESS_VIEW and CheckFeatureSupport(D3D11_FEATURE_FORMAT_SUPPORT2) lacks
 * D3D11_FORMAT_SUPPORT2_UAV_TYPED_STORE for that format, and a texture of it with D3D11_BIND_UNORDERED_ACCESS is
 * refused (a validation error), as the runtime refuses a bind flag its format does not support. */
void corvo_emu_set_bgra_uav_store(int32_t supported) CORVO_EMU_NOEXCEPT;

/* After `skip` further calls of the named operation succeed, the next `count` calls fail with `hr`. Operations
 * are named for their call ("EnumOutputs", "IsCurrent", "GetDesc1" of the adapter, "IDXGIOutput6::GetDesc1" of
 * the output, "IDXGIOutput6" for the output's QueryInterface to it, "CheckFeatureSupport", ...). A failing
 * IsCurrent answers FALSE, MonitorFromWindow null and GetMonitorInfoW FALSE; GetDisplayConfigBufferSizes,
 * QueryDisplayConfig and DisplayConfigGetDeviceInfo return `hr` as their Win32 error code (ERROR_ACCESS_DENIED
 * is 5, ERROR_INSUFFICIENT_BUFFER 122). */
void corvo_emu_fail(const char *operation, int32_t hr, uint32_t skip, uint32_t count) CORVO_EMU_NOEXCEPT;
/* Calls of an operation so far, or one of the platform's gauges ("live_objects", "weak_references",
 * "resource_bytes" held by the textures and buffers that exist, "resource_bytes_peak" the most they held at once
 * since the last reset, "bytes_mapped", "bytes_copied" by the GPU's copies, "thread_groups" the dispatches ran,
 * "validation_errors").
 * "validation_errors" counts the graphics calls the emulated device refuses as the Direct3D 11 runtime does
 * (objects of another device, views without their bind flag, mismatched or out-of-bounds copies, maps without CPU
 * access, mapped resources used by the GPU); each refusal is also told on stderr as
 * "corvo-emu: validation error: <call>: <why>" and the call does nothing or fails. */
uint64_t corvo_emu_count(const char *name) CORVO_EMU_NOEXCEPT;
/* Back to a fresh system: no targets, defaults, zero counters, no pending faults. */
void corvo_emu_reset(void) CORVO_EMU_NOEXCEPT;

/* The adapters the system enumerates, in order, by PCI vendor id (default: one adapter, vendor 0x10DE). Adapter n is
 * described as "Emulated software adapter n" (DXGI_ADAPTER_DESC1::Description), and its AdapterLuid is n + 1. A
 * device answers its creation flags (GetCreationFlags), its feature level (GetFeatureLevel: the first of those asked
 * for that is 10_0, 10_1 or 11_0) and, through IDXGIDevice::GetAdapter, the adapter it was created on; below 11_0
 * it refuses compute shaders (E_INVALIDARG), as shader model 5 needs 11_0. The operation "D3D11CreateDevice" makes
 * device creation fail (skip and count say for how long). */
void corvo_emu_set_adapters(const uint32_t *vendor_ids, size_t count) CORVO_EMU_NOEXCEPT;
/* DXGI enumerates the monitor's output under the adapter of that index (default 0; an index past the last adapter
 * hides the output). Like any change of the outputs, it makes factories made before it no longer current. */
void corvo_emu_set_monitor_adapter(HMONITOR monitor, uint32_t adapter_index) CORVO_EMU_NOEXCEPT;
/* Removes every existing device with `reason` (a failure HRESULT such as DXGI_ERROR_DEVICE_HUNG; a success is
 * ignored): its creates and maps fail with DXGI_ERROR_DEVICE_REMOVED, its copies and dispatches do nothing,
 * and GetDeviceRemovedReason answers `reason`. Devices created later work. */
void corvo_emu_remove_devices(int32_t reason) CORVO_EMU_NOEXCEPT;

/* Queues to the calling thread's message queue a message whose dispatch calls fn(context). */
void corvo_emu_post(void (*fn)(void *), void *context) CORVO_EMU_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
