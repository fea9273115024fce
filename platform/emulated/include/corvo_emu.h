/* Control API of the emulated platform: the simulated system that libcorvo-wgc runs on outside Windows.
 * Tests and demos use it to set up targets and adapters, choose what the system offers, inject faults and
 * read counters. Compiles as C99 and as C++. */
#ifndef CORVO_EMU_H
#define CORVO_EMU_H

#include <stddef.h>
#include <stdint.h>

#include "corvo_emu_win32.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A simulated window or monitor; its pixels start opaque black (B, G, R, A = 0, 0, 0, 255). */
HWND corvo_emu_create_window(int32_t width, int32_t height);
HMONITOR corvo_emu_create_monitor(int32_t width, int32_t height);
/* Change a target's pixels (clipped to the target); bgra_rows holds rows of `stride` bytes. */
void corvo_emu_fill(void *target, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t bgra);
void corvo_emu_write(void *target, int32_t x, int32_t y, int32_t width, int32_t height, const void *bgra_rows,
                     uint32_t stride);
/* New size, content kept top-left and the new area black. */
void corvo_emu_resize(void *target, int32_t width, int32_t height);
/* The target goes away: Closed is raised on every capture item of it. */
void corvo_emu_close(void *target);
/* Every frame pool capturing the target that has a free buffer receives one frame of the target's current
 * pixels and queues FrameArrived to its thread; returns how many did. Safe from any thread. */
int32_t corvo_emu_present(void *target);
/* A switch of the latest capture session of the target ("IsCursorCaptureEnabled", "IsBorderRequired",
 * "started": 0 or 1; "MinUpdateInterval": microseconds), or -1 when the target has no capture session. */
int32_t corvo_emu_capture_property(void *target, const char *property);

/* The major version of "Windows.Foundation.UniversalApiContract" the system offers (default 19). */
void corvo_emu_set_contract_version(uint16_t major);
/* Whether a property of a runtime type is present (default: the capture session's IsCursorCaptureEnabled,
 * IsBorderRequired and MinUpdateInterval are present). */
void corvo_emu_set_property(const char *type_name, const char *property, int32_t present);

/* Whether the textures of frame pools created or recreated from now on carry D3D11_BIND_SHADER_RESOURCE
 * (default 1). The system does not document the frames' bind flags, so hosts read them; 0 tests that path. */
void corvo_emu_set_frame_shader_readable(int32_t readable);

/* After `skip` further calls of the named operation succeed, the next `count` calls fail with `hr`. */
void corvo_emu_fail(const char *operation, int32_t hr, uint32_t skip, uint32_t count);
/* Calls of an operation so far, or one of the platform's gauges ("live_objects", "weak_references",
 * "bytes_mapped", "bytes_copied" by the GPU's copies, "validation_errors"). "validation_errors" counts the
 * graphics calls the emulated device refuses as the Direct3D 11 runtime does (objects of another device, views
 * without their bind flag, mismatched or out-of-bounds copies, maps without CPU access, mapped resources used by
 * the GPU); each refusal is also told on stderr as "corvo-emu: validation error: <call>: <why>" and the call does
 * nothing or fails. */
uint64_t corvo_emu_count(const char *name);
/* Back to a fresh system: no targets, defaults, zero counters, no pending faults. */
void corvo_emu_reset(void);

/* The adapters the system enumerates, in order, by PCI vendor id (default: one adapter, vendor 0x10DE). */
void corvo_emu_set_adapters(const uint32_t *vendor_ids, size_t count);
/* Removes every existing device with `reason` (a failure HRESULT such as DXGI_ERROR_DEVICE_HUNG; a success is
 * ignored): its creates and maps fail with DXGI_ERROR_DEVICE_REMOVED, its copies and dispatches do nothing,
 * and GetDeviceRemovedReason answers `reason`. Devices created later work. */
void corvo_emu_remove_devices(int32_t reason);

/* Queues to the calling thread's message queue a message whose dispatch calls fn(context). */
void corvo_emu_post(void (*fn)(void *), void *context);

#ifdef __cplusplus
}
#endif

#endif
