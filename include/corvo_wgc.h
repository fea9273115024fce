/* libcorvo-wgc: window and monitor capture for Windows hosts.
 *
 * A host creates one session per window or monitor, may set its switches, starts it and then polls it, from
 * any thread (see Threads); several sessions may be started and polled on one thread. Booleans are single
 * bytes: 0 is false, any other value true. Nothing is thrown across these functions; failures are told by a
 * false or null result and by the log callback. Every function that takes a session returns its failure
 * value (0, null or 0.0, or does nothing) for a null session.
 *
 * Threads:
 * - Any thread, at any time, also while another call of the session runs: is_wgc_session_supported,
 *   wgc_register_logger, wgc_set_dirty_rect, wgc_set_capture_to_texture, wgc_enable_cursor, wgc_show_border,
 *   wgc_set_min_update_interval, wgc_set_pixel_format, wgc_set_device, wgc_set_adapter, wgc_set_recovery,
 *   wgc_get_status, wgc_get_update_ratio, wgc_wait_for_frame, wgc_get_last_error, wgc_get_version. The cursor,
 *   border and interval switches take effect at once, on a running capture too; against a start or a destroy
 *   running meanwhile they are applied whole, before or after it.
 * - One at a time for a session, never overlapping one another: wgc_session_start, wgc_get_recent_frame,
 *   wgc_get_dirty_rects, wgc_get_frame_info and wgc_get_device.
 * - wgc_session_destroy: from any thread at any moment, also while calls of the session that began before it run
 *   on other threads, or from a logger on a line of one of the session's own calls. It waits until the calls of
 *   other threads have returned (a wait among them ends at once), then stops the capture and frees the session;
 *   from a logger, the session is stopped and freed when the call that logged returns. A call that begins once the
 *   destroy was asked for touches nothing of the session and returns its failure value; none may begin after the
 *   destroy has returned. A logger must not wait for a thread that is destroying the session.
 * - The thread that started the session owns its dispatcher queue, through which the target's closing arrives. The
 *   poll may come from any thread, as frames arrive on the capture service's; the closing is still told only once
 *   the start thread has dispatched its messages (its own polls do). Only the poll dispatches messages: no other
 *   call runs the host's window procedures or takes its WM_QUIT. When a thread's last session is destroyed, the
 *   library's queue stays until the thread next dispatches (its loop, or a poll), so that a start there meanwhile
 *   captures through it; then its shutdown begins, and completes at the thread's following dispatch. A start in
 *   between those two dispatches fails (level 3, RPC_E_WRONG_THREAD). A thread that exits while the library's
 *   queue is there shuts it down as it exits, dispatching its remaining messages until that has completed, as the
 *   platform requires. A queue the host made itself is used and never shut down. */
#ifndef CORVO_WGC_H
#define CORVO_WGC_H

#include <stdint.h>

#ifdef _WIN32
#include <windows.h>
#include <d3d11.h>
#define CORVO_WGC_CALL __stdcall
#else
#include "corvo_emu_win32.h"
#ifdef __cplusplus
struct ID3D11Device;
#else
typedef struct ID3D11Device ID3D11Device;
#endif
#define CORVO_WGC_CALL
#endif

#ifndef CORVO_WGC_API
#define CORVO_WGC_API
#endif

#ifdef __cplusplus
#define CORVO_WGC_NOEXCEPT noexcept
#else
#define CORVO_WGC_NOEXCEPT
#endif

/* The library's version: wgc_get_version() answers CORVO_WGC_VERSION for the library that is loaded. */
#define CORVO_WGC_VERSION_MAJOR 0
#define CORVO_WGC_VERSION_MINOR 1
#define CORVO_WGC_VERSION_PATCH 0
#define CORVO_WGC_VERSION_STRING "0.1.0"
#define CORVO_WGC_VERSION \
    ((CORVO_WGC_VERSION_MAJOR << 16) | (CORVO_WGC_VERSION_MINOR << 8) | CORVO_WGC_VERSION_PATCH)

#ifdef __cplusplus
extern "C" {
#endif

/* Opaque session handle. */
typedef struct WgcSession *wgc_session;

/* Log callback: level 1 progress, 2 a switch the system cannot apply, 3 a failure. The text is
 * NUL-terminated, at most 1022 characters, and valid only during the call. It runs on the thread of the call
 * that logs, never on a thread of the capture service: what the service's events record (the target closed)
 * is told by the host's next call on that session. It may call any function here, including
 * wgc_session_destroy on the session that is logging: the library does not touch a session after the line
 * that may destroy it, and a session destroyed during one of its own calls is freed when that call returns (see
 * Threads). */
typedef void (*wgc_log_callback)(int32_t level, const char *text, uint64_t length);

#define WGC_LOG_INFO 1
#define WGC_LOG_WARNING 2
#define WGC_LOG_ERROR 3

/* A changed rectangle of a frame in pixels: left and top inclusive, right and bottom exclusive. */
typedef struct wgc_rect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
} wgc_rect;

/* What a poll hands out (wgc_set_pixel_format). */
#define CORVO_WGC_FORMAT_BGRA8 0        /* 8-bit BGRA, as the system converts it (the default) */
#define CORVO_WGC_FORMAT_SDR_FROM_HDR 1 /* 8-bit BGRA made by the library from the HDR frames of an HDR monitor */
#define CORVO_WGC_FORMAT_FP16 2         /* FP16 scRGB (DXGI_FORMAT_R16G16B16A16_FLOAT), 8 bytes a pixel */

/* The frame the last poll handed out. The host sets `size` to sizeof(wgc_frame_info) before the call; a host
 * built against an older, smaller struct sets that size and gets the fields that fit. */
typedef struct wgc_frame_info {
    uint32_t size;
    /* 1 when that poll read a frame no poll had handed out before, whether or not its pixels changed */
    uint32_t is_new;
    /* the frame's place among the frames the capture service delivered since the start, from 1: a gap is a
     * frame the host never saw */
    uint64_t frame_number;
    /* when the service rendered it (its SystemRelativeTime), in 100 ns units of the performance counter */
    int64_t system_time;
    /* the frame's content size, as the service reported it: larger than the picture handed out in a dimension in
     * which the target grew until the frame pool follows (see wgc_get_recent_frame) */
    int32_t content_width;
    int32_t content_height;
    /* the DXGI_FORMAT of what was handed out: 87 B8G8R8A8_UNORM, 28 R8G8B8A8_UNORM (a texture of
     * CORVO_WGC_FORMAT_SDR_FROM_HDR where the device cannot store BGRA from a kernel; the buffer is BGRA then
     * too), 10 R16G16B16A16_FLOAT */
    int32_t dxgi_format;
    /* bytes per pixel of the buffer: 4, or 8 for FP16 */
    uint32_t bytes_per_pixel;
    /* 1 when the monitor the target was on was in HDR mode */
    uint32_t hdr;
    /* that monitor's SDR white level in nits, read at most 250 ms before; 80 for an SDR monitor; when it cannot
     * be read, the last one read for that monitor, else 80 */
    float sdr_white_nits;
    /* the device that captured it: 1 for the device of the start, one more at each rebuild after a device loss
     * (wgc_set_recovery); a new generation means a new wgc_get_device */
    uint32_t device_generation;
} wgc_frame_info;

/* Which adapter the library's own device is made on (wgc_set_adapter). */
#define CORVO_WGC_ADAPTER_PREFERRED_VENDOR 0 /* the first adapter of vendor 0x10DE, else the first (the default) */
#define CORVO_WGC_ADAPTER_OF_TARGET 1        /* the adapter whose output shows the target's monitor */

/* Whether this system offers the capture interfaces at all and capture is supported on this device, for this
 * user and desktop. */
CORVO_WGC_API uint8_t CORVO_WGC_CALL is_wgc_session_supported(void) CORVO_WGC_NOEXCEPT;
/* Cursor capture on or off; refused (0) when the system cannot turn it on. A switch is stored (and told, "Set ...")
 * only once the running capture, if any, took it: a refusal leaves the stored value and the capture as they were.
 * The same holds for wgc_show_border and wgc_set_min_update_interval. */
CORVO_WGC_API uint8_t CORVO_WGC_CALL wgc_enable_cursor(wgc_session session, uint8_t enable) CORVO_WGC_NOEXCEPT;
/* Does nothing; a texture handed out by wgc_get_recent_frame is released with its own Release. */
CORVO_WGC_API void CORVO_WGC_CALL wgc_free_recent_frame(void *frame) CORVO_WGC_NOEXCEPT;
/* The session's Direct3D 11 device, without a reference added; null before a successful start. With recovery on
 * (wgc_set_recovery) a poll may replace the library's own device: a pointer held across a poll may be stale. */
CORVO_WGC_API ID3D11Device *CORVO_WGC_CALL wgc_get_device(wgc_session session) CORVO_WGC_NOEXCEPT;
/* Pumps the calling thread's messages and hands out the latest frame: the session's BGRA buffer (rows of
 * width * 4 bytes, no gap) or, in texture mode, an ID3D11Texture2D with one reference for the host.
 * Frames arrive on a thread of the capture service whether or not the host polls, and the session keeps only
 * the newest: a poll, however late, reads that one frame, and a source that presents faster than the host
 * polls cannot hold it. The third parameter is ignored. width, height and cursor are written at every call where
 * they are not null (the size of the picture the output holds); with a null frame the result is 0, no reference
 * is added and the newest frame waits for the next poll. The buffer stays as handed out until the next poll or
 * start of the session; it moves when a larger frame makes it grow. The frame pool keeps its size until the first
 * frame of a new content size makes the session recreate it, so that frame comes in a texture of the old size:
 * after the target grows, the buffer holds the top-left of the content cropped to the old size in each dimension
 * that grew (width and height say so), while wgc_get_frame_info reports the new content size; frames rendered once
 * the pool was recreated have the new size. In texture mode the texture is the frame pool's size: after the target
 * grows it holds that top-left part, and after it shrinks, the margin beyond the content holds what the pool left
 * there, until the pool has been recreated at the new size. */
CORVO_WGC_API uint8_t CORVO_WGC_CALL wgc_get_recent_frame(wgc_session session, void **frame, intptr_t reserved,
                                                          int32_t *width, int32_t *height,
                                                          uint8_t *cursor) CORVO_WGC_NOEXCEPT;
/* 1 while capturing; 0 before a successful start, after a failed one, after the target closed and, at once,
 * after the device was lost (unless recovery rebuilds it: wgc_set_recovery). */
CORVO_WGC_API uint8_t CORVO_WGC_CALL wgc_get_status(wgc_session session) CORVO_WGC_NOEXCEPT;
/* The changed share of the latest frame (1.0 whole new frame, 0.0 nothing new); reading resets it to 0. */
CORVO_WGC_API float CORVO_WGC_CALL wgc_get_update_ratio(wgc_session session) CORVO_WGC_NOEXCEPT;
/* Sets the process-wide log callback; null switches logging off. */
CORVO_WGC_API void CORVO_WGC_CALL wgc_register_logger(wgc_log_callback callback) CORVO_WGC_NOEXCEPT;
/* A session for a window. */
CORVO_WGC_API wgc_session CORVO_WGC_CALL wgc_session_create(HWND window) CORVO_WGC_NOEXCEPT;
/* A session for a monitor; null for a null monitor. */
CORVO_WGC_API wgc_session CORVO_WGC_CALL wgc_session_create2(HMONITOR monitor) CORVO_WGC_NOEXCEPT;
/* Stops the capture and frees the session; does nothing for null. */
CORVO_WGC_API void CORVO_WGC_CALL wgc_session_destroy(wgc_session session) CORVO_WGC_NOEXCEPT;
/* Starts capturing; the calling thread's dispatcher queue then carries the target's closing (see Threads). All or
 * nothing: on 0 nothing captures. Starting a started session again begins anew on a new device; the buffer stays. */
CORVO_WGC_API uint8_t CORVO_WGC_CALL wgc_session_start(wgc_session session) CORVO_WGC_NOEXCEPT;
/* Hand frames out as a texture (non-zero) or as a CPU buffer (0). */
CORVO_WGC_API void CORVO_WGC_CALL wgc_set_capture_to_texture(wgc_session session, uint8_t on) CORVO_WGC_NOEXCEPT;
/* Change detection on the GPU on or off. It compares colour only: a cell whose colour did not change is not
 * read again, so its alpha is as it was last read. */
CORVO_WGC_API void CORVO_WGC_CALL wgc_set_dirty_rect(wgc_session session, uint8_t enable) CORVO_WGC_NOEXCEPT;
/* The capture border shown or hidden; refused (0) when the system cannot hide it. Hiding it asks the user's
 * consent, once per process, and nothing waits for the answer: while it is pending a hide is accepted, and set
 * again at the session's first call after the user allowed it (a refusal is told then, as a warning). Once the
 * consent is refused, a hide returns 0 with a warning and leaves the switch as it was, and a start with the
 * border hidden logs the warning and captures with the border. */
CORVO_WGC_API uint8_t CORVO_WGC_CALL wgc_show_border(wgc_session session, uint8_t show) CORVO_WGC_NOEXCEPT;
/* Where the frame that the last poll handed out changed, compared with the frame the poll before handed out,
 * as change detection found it: runs of 32 x 32 cells, clipped to the frame, in rows from the top. Returns
 * how many there are and writes the first `capacity` of them to `rects`; 0 when nothing changed (no new frame,
 * or a new frame equal to the last); -1 when nothing is known and the host should take the whole frame as
 * changed (detection off, a first frame, a new size or mode, a failed comparison, no frame handed out, a null
 * session). With a null `rects` or a capacity of 0 or less only the count is returned. The answer stays the
 * same until the next poll. */
CORVO_WGC_API int32_t CORVO_WGC_CALL wgc_get_dirty_rects(wgc_session session, wgc_rect *rects,
                                                         int32_t capacity) CORVO_WGC_NOEXCEPT;
/* The shortest interval between two frames the system may deliver, in microseconds; 0 is the system's own
 * default (newer systems deliver at most about 60 frames a second unless asked for more). Applied at start and
 * while capturing; refused (0) where the system cannot set it. */
CORVO_WGC_API uint8_t CORVO_WGC_CALL wgc_set_min_update_interval(wgc_session session,
                                                                 uint32_t microseconds) CORVO_WGC_NOEXCEPT;

/* Describes the frame the last poll handed out (see wgc_frame_info); 0, and nothing written, when that poll
 * handed out nothing, for a null info or a size smaller than the first version of the struct (32 bytes, up to
 * content_height). It writes the fields that fit in `size`. It belongs with the poll: never at the same time. */
CORVO_WGC_API uint8_t CORVO_WGC_CALL wgc_get_frame_info(wgc_session session,
                                                        wgc_frame_info *info) CORVO_WGC_NOEXCEPT;
/* Waits until a frame is there for the next poll: 1 as soon as one is (at once if one is already waiting),
 * 0 when timeout_ms pass without one, and 0 at once for a session that is not capturing. The capture ending
 * ends the wait with 0: a destroy from another thread, a lost device, or the target closing. The wait itself
 * looks at the device and at a window target every 50 ms, so these end it on any thread, the start thread too;
 * a monitor's closing is told when the start thread dispatches. It dispatches no messages. Any thread may
 * wait. */
CORVO_WGC_API uint8_t CORVO_WGC_CALL wgc_wait_for_frame(wgc_session session, uint32_t timeout_ms) CORVO_WGC_NOEXCEPT;
/* The HRESULT of the session's latest failure line (level 3): a failed start step, a lost device, a failed
 * allocation or Recreate, a switch the running capture failed to apply, a failure of its stop. Lines at level 2
 * (a switch the system does not offer, a consent refused) are not failures and leave it as it was. 0 when there
 * has been none since the session was created or its last start began; E_POINTER for a null session. */
CORVO_WGC_API int32_t CORVO_WGC_CALL wgc_get_last_error(wgc_session session) CORVO_WGC_NOEXCEPT;
/* CORVO_WGC_VERSION of the loaded library: (major << 16) | (minor << 8) | patch. */
CORVO_WGC_API uint32_t CORVO_WGC_CALL wgc_get_version(void) CORVO_WGC_NOEXCEPT;
/* What a poll hands out, one of CORVO_WGC_FORMAT_*: 8-bit BGRA as the system converts it (the default; on an HDR
 * monitor the system clips what is brighter than SDR white); 8-bit BGRA made from HDR (on a monitor in HDR mode
 * the frames are FP16 and the library converts them on the GPU: content up to SDR white exactly as an SDR display
 * shows it, brighter content with its largest channel limited to white and the others scaled with it, so that a
 * coloured highlight keeps its hue; on an SDR monitor the same as the default); or the FP16 scRGB frames (linear,
 * 1.0 = 80 nits; the buffer has 8 bytes a pixel). Before the start or while capturing: from the first poll
 * after this call returns, every picture handed out is of the format asked for (wgc_get_frame_info tells its
 * DXGI format). The frame pool is recreated where the format of its frames changes; a frame of the pool before,
 * if FP16 where 8 bits are asked, is made 8-bit on the GPU as format 1 makes it, and if 8-bit where FP16 is asked
 * is left out: that poll, like one with no new frame, hands out nothing (not the picture held from before the
 * switch), and the next frame the system delivers is FP16 (a target that does not change delivers none). Where
 * the device cannot convert (below feature level 11_0, no kernel, or a conversion that failed), FP16 frames are
 * left out for the 8-bit formats and format 1 takes the system's 8-bit frames, with one warning; in texture
 * mode, format 0 also leaves out an FP16 frame where the conversion makes R8G8B8A8 (see dxgi_format). The monitor's
 * mode and SDR white are read when the first frame comes, then at most every 250 ms on the frames' clock, and again
 * at the next frame after a read that failed; a failure is told once per monitor with the value used. 0, with a
 * warning and the setting unchanged, for an unknown format. */
CORVO_WGC_API uint8_t CORVO_WGC_CALL wgc_set_pixel_format(wgc_session session, int32_t format) CORVO_WGC_NOEXCEPT;
/* The host's own device for the session's capture, from the next wgc_session_start on: frames are captured onto it,
 * wgc_get_device returns it and the textures handed out belong to it; detection, the pixel formats and the buffer
 * work as with the library's device (below feature level 11_0 without detection or the conversion from HDR, with
 * one warning at the start). 1 when accepted: the session holds one reference to it until it is destroyed or
 * another device is set. Null gives the session a device of its own again (1). Refused (0, with a warning, the
 * setting unchanged) for a device created without D3D11_CREATE_DEVICE_BGRA_SUPPORT (a conservative rule: whether the
 * system takes such a device is not documented) or one already removed.
 * The library uses the device's immediate context only inside this session's wgc_session_start,
 * wgc_get_recent_frame and wgc_session_destroy, on the threads that call them, and leaves its state as it was but
 * for the compute stage's shader, constant buffer 0, shader resources 0-1 and unordered access views 0-1, which it
 * leaves empty. A host that uses that context on other threads meanwhile turns on
 * ID3D11Multithread::SetMultithreadProtected(TRUE) (queried from the context), which serialises the context's
 * calls. A lost host device ends the capture as a lost own device does (status 0 at
 * once, waits end, wgc_get_last_error the reason); the library never replaces it, whatever the recovery switch. */
CORVO_WGC_API uint8_t CORVO_WGC_CALL wgc_set_device(wgc_session session, ID3D11Device *device) CORVO_WGC_NOEXCEPT;
/* Which adapter the library's own device is made on, one of CORVO_WGC_ADAPTER_*, from the next start and at each
 * rebuild. With CORVO_WGC_ADAPTER_OF_TARGET the adapter one of whose outputs shows the target's monitor (for a
 * window, the monitor it is shown on), told in one line at the start; where no adapter's output shows it, the
 * default rule, with a warning. It spares the system a copy between adapters on machines with two GPUs. 0, with a
 * warning and the setting unchanged, for an unknown choice. */
CORVO_WGC_API uint8_t CORVO_WGC_CALL wgc_set_adapter(wgc_session session, int32_t choice) CORVO_WGC_NOEXCEPT;
/* Recovery after the loss of the library's own device (a driver update or reset), off (0) by default, taking
 * effect at once. On: after a loss the status stays 1, a warning tells the loss, and the polls that follow rebuild
 * the device and everything bound to it (frame pool, capture session, the switches, detection, the format) - the
 * first try at once, then backing off to at most 4 s between tries - and an info line tells when it captures
 * again; frames then flow, wgc_get_device returns the new device and wgc_frame_info's device_generation grows by
 * one. The rebuild runs inside wgc_get_recent_frame only: a host that waits (wgc_wait_for_frame) keeps polling,
 * and a wait during the rebuild ends at its timeout or with the first frame of the new device. Until then the
 * buffer keeps its last picture and texture mode hands out nothing. A target that closes meanwhile ends the
 * capture (status 0). Switched off during a rebuild, the capture ends as without it. With the host's device
 * (wgc_set_device) it does nothing. Returns 1. */
CORVO_WGC_API uint8_t CORVO_WGC_CALL wgc_set_recovery(wgc_session session, uint8_t on) CORVO_WGC_NOEXCEPT;
/* Captures only a rectangle of the target: left and top inclusive, right and bottom exclusive, in the pixels of the
 * frame's content (with the client area on, relative to the client area). Null, or all four zero, is the whole
 * target (1). Any other rectangle with a negative left or top, right <= left or bottom <= top is refused: 0, a
 * warning, and the region unchanged. From any thread, before the start or while capturing; it holds from the next
 * picture read, which is wholly new (wgc_get_dirty_rects -1, update ratio 1).
 * The picture handed out is the region clipped to the content, in every mode and format: the buffer holds rows of
 * its width (texture mode: a texture of its size, copied on the GPU), and the poll's width and height say its
 * size. A region wholly outside the content hands out nothing (0, width and height 0) until a frame's content
 * covers it again. Change detection runs over the region only: cells counted from its top-left, changed
 * rectangles relative to it, the ratio relative to its clipped area; a change outside it is no change, and the GPU
 * copies and the CPU reads back only the region's pixels. wgc_get_frame_info keeps telling the content's size. */
CORVO_WGC_API uint8_t CORVO_WGC_CALL wgc_set_region(wgc_session session, const wgc_rect *region) CORVO_WGC_NOEXCEPT;
/* For a window target, captures only its client area (title bar and borders left out), found again at every frame
 * so that it follows the window as it resizes or changes style; a minimised window shows nothing new. 1 when
 * applied; for a monitor target on is refused (0, a warning). From any thread, before the start or while
 * capturing; it holds from the next picture read, which is wholly new. */
CORVO_WGC_API uint8_t CORVO_WGC_CALL wgc_set_client_area(wgc_session session, uint8_t on) CORVO_WGC_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
