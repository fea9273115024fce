"""A capture session: one window or monitor, started on one thread and polled from any."""

import contextlib
import ctypes
import math
import threading
import time
from typing import NamedTuple

import numpy as np

from ._library import WgcFrameInfo, WgcRect, library
from .errors import (CaptureStoppedError, CorvoError, SessionClosedError, StartError, SwitchRefusedError,
                     TargetClosedError)
from .log import LogLevel, router
from .texture import Texture

_CLOSED_LINE = "Wgc on_closed"
# What grab() hands out (set_pixel_format): 8-bit BGRA as the system converts it (the default; on an HDR monitor the
# system clips what is brighter than SDR white); 8-bit BGRA that the library makes from an HDR monitor's frames,
# SDR content exact and a hue-preserving clip above SDR white (gradients brighter than white come out flat); or
# the FP16 scRGB frames themselves (linear, 1.0 = 80 nits).
FORMAT_BGRA8 = 0
FORMAT_SDR_FROM_HDR = 1
FORMAT_FP16 = 2
_FORMATS = (FORMAT_BGRA8, FORMAT_SDR_FROM_HDR, FORMAT_FP16)
# Which adapter the library's own device is made on (Session(adapter=...)).
_ADAPTERS = {"preferred": 0, "target": 1}
# wait() waits in slices of this many milliseconds, so that close() on another thread never waits longer for it.
_WAIT_SLICE_MS = 50


class FrameInfo(NamedTuple):
    """The frame the last grab handed out."""
    is_new: bool  # no grab handed it out before, whether or not its pixels changed
    frame_number: int  # among the frames delivered since start(), from 1: a gap is a frame never grabbed
    system_time: int  # when the system rendered it, in 100 ns units of the performance counter
    content_size: tuple  # (width, height) as the system reported it; larger than the frame just after the target grew
    dxgi_format: int  # the DXGI_FORMAT handed out: 87 B8G8R8A8_UNORM, 28 R8G8B8A8_UNORM (a texture), 10 FP16 RGBA
    bytes_per_pixel: int  # 4, or 8 for FP16
    hdr: bool  # the monitor the target was on was in HDR mode
    sdr_white_nits: float  # that monitor's SDR white; 80 for an SDR monitor or when unknown
    device_generation: int  # 1 for the device of start(), one more after each rebuild (recover=True)


def _handle_of(target):
    handle = getattr(target, "handle", target)
    if not isinstance(handle, int):
        raise TypeError(f"a window or monitor handle (int) or an object with .handle is needed, not {target!r}")
    return handle


def _problems(lines):
    return [line for line in lines if line[0] >= LogLevel.WARNING]


class Session:
    """Captures one window (`Session(window)`) or one monitor (`Session(monitor=m)`); `region=(left, top, right,
    bottom)` captures only that rectangle of it, and `client_area=True` only a window's client area (see
    set_region() and set_client_area()).

    adapter="target" makes the library's device on the adapter that shows the target ("preferred", the default:
    the first adapter of vendor 0x10DE, else the first); recover=True rebuilds the device after a device loss (a
    driver update or reset) inside the grabs that follow, instead of ending the capture: keep grabbing, as a
    wait() alone does not rebuild.

    Start it with start(); grab() may come from any thread. Use it as a context manager, or call close():
    afterwards every method raises SessionClosedError. Any thread may call any method: those the library takes
    one at a time for a session (start, the grabs, the cursor, border, interval and texture switches,
    dirty_rects, frame_info, device, close) wait for one another here; status, update_ratio, last_error,
    set_dirty_rect and wait run at any time."""

    def __init__(self, window=None, *, monitor=None, adapter="preferred", recover=False, region=None,
                 client_area=False):
        if (window is None) == (monitor is None):
            raise TypeError("give either a window or monitor=")
        if adapter not in _ADAPTERS:
            raise ValueError(f"adapter must be one of {', '.join(map(repr, _ADAPTERS))}, not {adapter!r}")
        if window is not None and getattr(window, "is_monitor", False):
            raise TypeError("a monitor is captured with Session(monitor=...)")
        self._lib = library().dll
        self._handle = None
        self._lock = threading.RLock()  # held by the calls the library takes one at a time, and by close()
        self._calls = threading.Condition()  # guards _running: threads inside the calls allowed at any time
        self._running = {}
        self._started = False
        self._ended = None  # the exception that tells why a started capture ended
        self._target_closed = False  # the library told the closing of the target since the last start
        self._texture_mode = False
        self._frame = None  # the array grab(copy=False) hands out views of
        with router.collect() as lines:
            if window is not None:
                self._handle = self._lib.wgc_session_create(_handle_of(window))
            else:
                self._handle = self._lib.wgc_session_create2(_handle_of(monitor))
        if not self._handle:
            null_monitor = monitor is not None and not _handle_of(monitor)
            raise CorvoError("no monitor given" if null_monitor else "creating the session failed", _problems(lines))
        # Set only where asked for, so that a session of the defaults logs what it always did.
        if adapter != "preferred":
            self._lib.wgc_set_adapter(self._handle, _ADAPTERS[adapter])
        if recover:
            self._lib.wgc_set_recovery(self._handle, 1)
        try:
            if client_area:
                self.set_client_area(True)
            if region is not None:
                self.set_region(region)
        except BaseException:
            self.close()
            raise

    # Lifetime.

    def close(self):
        """Stops the capture and frees the session, from any thread. A call running on another thread ends first
        (a wait() within 50 ms, with False); arrays from grab(copy=False) keep the last frame they showed."""
        me = threading.get_ident()
        with self._calls:
            handle, self._handle = self._handle, None
            # No call may enter the library with a freed handle. A call of this thread is already inside it (its
            # logger closes the session): the library frees the session when that call returns.
            self._calls.wait_for(lambda: all(thread == me for thread in self._running))
        if handle:
            with self._lock:
                self._lib.wgc_session_destroy(handle)
                self._frame = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        if getattr(self, "_handle", None):
            self.close()

    @property
    def closed(self):
        return not self._handle

    def _checked(self):
        if not self._handle:
            raise SessionClosedError("the session is closed")
        return self._handle

    @contextlib.contextmanager
    def _closing_noted(self):
        """Any call tells the target's closing once (a status call inside wait(), say): noted for the grab."""
        with router.collect() as lines:
            yield
        if any(text == _CLOSED_LINE for _, text in lines):
            self._target_closed = True

    @contextlib.contextmanager
    def _one_at_a_time(self, note_closing=True):
        """The handle, for calls the library takes one at a time for a session."""
        with self._lock, (self._closing_noted() if note_closing else contextlib.nullcontext()):
            yield self._checked()

    @contextlib.contextmanager
    def _any_time(self):
        """The handle, for calls the library takes at any time; close() waits for them before it frees it."""
        me = threading.get_ident()
        with self._calls:
            handle = self._checked()
            self._running[me] = self._running.get(me, 0) + 1
        try:
            with self._closing_noted():
                yield handle
        finally:
            with self._calls:
                self._running[me] -= 1
                if not self._running[me]:
                    del self._running[me]
                    self._calls.notify_all()

    # Switches; set them before start() or while capturing.

    def enable_cursor(self, on=True):
        """Capture the mouse cursor or not; SwitchRefusedError when the system cannot turn it on."""
        self._switch(self._lib.wgc_enable_cursor, on, "cursor capture")

    def show_border(self, on=True):
        """Show or hide the capture border; SwitchRefusedError when the system cannot hide it."""
        self._switch(self._lib.wgc_show_border, on, "hiding the border")

    def _switch(self, function, on, what):
        with self._one_at_a_time() as handle, router.collect() as lines:
            accepted = function(handle, 1 if on else 0)
        if not accepted:
            raise SwitchRefusedError(f"the system refused {what}", _problems(lines))

    def set_min_update_interval(self, seconds):
        """The shortest interval between frames the system may deliver (0: the system's own default);
        SwitchRefusedError where the system has no such setting."""
        self._checked()
        microseconds = round(seconds * 1_000_000)
        if not 0 <= microseconds <= 0xFFFFFFFF:
            raise ValueError(f"interval out of range: {seconds} s")
        with self._one_at_a_time() as handle, router.collect() as lines:
            accepted = self._lib.wgc_set_min_update_interval(handle, microseconds)
        if not accepted:
            raise SwitchRefusedError("the system refused a minimum update interval", _problems(lines))

    def dirty_rects(self):
        """Where the frame of the last grab changed, as (left, top, right, bottom) tuples with right and bottom
        exclusive: an empty list when it did not change, None when unknown (take the whole frame as changed)."""
        with self._one_at_a_time() as handle:
            count = self._lib.wgc_get_dirty_rects(handle, None, 0)
            if count < 0:
                return None
            rects = (WgcRect * count)()
            # A logger that closed the session on a line of the first call freed it.
            count = min(count, self._lib.wgc_get_dirty_rects(self._checked(), rects, count))
        return [(r.left, r.top, r.right, r.bottom) for r in rects[:max(count, 0)]]

    def frame_info(self):
        """A FrameInfo for the frame the last grab handed out, or None when it handed out nothing."""
        info = WgcFrameInfo(size=ctypes.sizeof(WgcFrameInfo))
        with self._one_at_a_time() as handle:
            if not self._lib.wgc_get_frame_info(handle, ctypes.byref(info)):
                return None
        return FrameInfo(bool(info.is_new), info.frame_number, info.system_time,
                         (info.content_width, info.content_height), info.dxgi_format, info.bytes_per_pixel,
                         bool(info.hdr), info.sdr_white_nits, info.device_generation)

    def wait(self, timeout=None):
        """Waits, from any thread and without dispatching messages, until a frame is there for the next grab:
        True when one is, False after `timeout` seconds (None: no limit) or when the capture ends, also by a
        close() on another thread."""
        self._checked()
        if timeout is not None and (not math.isfinite(timeout) or timeout < 0):
            raise ValueError(f"timeout must be a finite number of seconds, not {timeout!r}")
        deadline = None if timeout is None else time.monotonic() + timeout
        while True:
            milliseconds = _WAIT_SLICE_MS
            if deadline is not None:
                milliseconds = min(milliseconds, max(0, math.ceil((deadline - time.monotonic()) * 1000)))
            if self.closed:
                return False
            with self._any_time() as handle:
                if self._lib.wgc_wait_for_frame(handle, milliseconds):
                    return True
                if not self._lib.wgc_get_status(handle):
                    return False
            if deadline is not None and time.monotonic() >= deadline:
                return False

    @property
    def last_error(self):
        """The HRESULT of the session's latest failure (a failed start step, a lost device ...), 0 if none since
        it was made or last started."""
        with self._any_time() as handle:
            return self._lib.wgc_get_last_error(handle) & 0xFFFFFFFF

    def set_dirty_rect(self, on=True):
        """Change detection on the GPU: unchanged frames are not copied, update_ratio() tells how much changed."""
        with self._any_time() as handle:
            self._lib.wgc_set_dirty_rect(handle, 1 if on else 0)

    def set_pixel_format(self, pixel_format):
        """What grab() hands out from the next grab() on: FORMAT_BGRA8 (the default), FORMAT_SDR_FROM_HDR or
        FORMAT_FP16 (float16 RGBA arrays). Before start() or while capturing; right after a switch to FP16 one grab()
        may have no new picture, never one of the old format."""
        if isinstance(pixel_format, bool) or pixel_format not in _FORMATS:
            raise ValueError(f"unknown pixel format {pixel_format!r}")
        with self._any_time() as handle, router.collect() as lines:
            accepted = self._lib.wgc_set_pixel_format(handle, int(pixel_format))
        if not accepted:
            raise CorvoError(f"the library refused pixel format {pixel_format!r}", _problems(lines))

    def set_region(self, region):
        """Capture only `region` = (left, top, right, bottom) of the target from the next frame on: left and top
        inclusive, right and bottom exclusive, in the pixels of the frame (of the client area when that is on).
        None is the whole target. Frames are the region clipped to the target (none while it lies wholly outside),
        and change detection and dirty_rects() are the region's. From any thread, before start() or while
        capturing; ValueError for a rectangle that no region can be."""
        rect = WgcRect()
        if region is not None:
            try:
                left, top, right, bottom = (int(v) for v in region)
            except (TypeError, ValueError):
                raise TypeError(f"a region is (left, top, right, bottom), not {region!r}") from None
            if not all(-2**31 <= v < 2**31 for v in (left, top, right, bottom)):
                raise ValueError(f"region out of range: {region!r}")
            rect = WgcRect(left, top, right, bottom)
        with self._any_time() as handle:
            accepted = self._lib.wgc_set_region(handle, None if region is None else ctypes.byref(rect))
        if not accepted:
            raise ValueError(f"not a region: {region!r} (left and top from 0, right and bottom beyond them)")

    def set_client_area(self, on=True):
        """Capture only a window's client area (no title bar or borders), following it as the window changes;
        SwitchRefusedError for a monitor. From any thread, before start() or while capturing."""
        with self._any_time() as handle, router.collect() as lines:
            accepted = self._lib.wgc_set_client_area(handle, 1 if on else 0)
        if not accepted:
            raise SwitchRefusedError("a monitor has no client area", _problems(lines))

    def set_capture_to_texture(self, on=True):
        """Hand frames out as Direct3D 11 textures (grab_texture()) instead of CPU buffers (grab())."""
        # Never during a grab, which must know what the library hands out.
        with self._one_at_a_time() as handle:
            self._lib.wgc_set_capture_to_texture(handle, 1 if on else 0)
            self._texture_mode = bool(on)

    # Capture.

    def start(self):
        """Starts capturing; the calling thread dispatches the target's closing. StartError if it fails."""
        # A closing this call tells is that of the capture before.
        with self._one_at_a_time(note_closing=False) as handle:
            with router.collect() as lines:
                started = self._lib.wgc_session_start(handle)
            if not started:
                raise StartError("the capture did not start", _problems(lines))
            self._started = True
            self._ended = None
            self._target_closed = False

    @property
    def status(self):
        """True while capturing; False before start() and after the target closed."""
        with self._any_time() as handle:
            return bool(self._lib.wgc_get_status(handle))

    @property
    def device(self):
        """The session's ID3D11Device pointer (no reference added), None before start()."""
        with self._one_at_a_time() as handle:
            return self._lib.wgc_get_device(handle)

    def update_ratio(self):
        """The changed share of the latest frame (1.0 a whole new frame, 0.0 nothing new); reading resets it."""
        with self._any_time() as handle:
            return self._lib.wgc_get_update_ratio(handle)

    def grab(self, copy=True):
        """The latest frame as a (height, width, 4) array, or None while no frame has arrived: uint8 B, G, R, A in the
        8-bit formats, float16 R, G, B, A (scRGB) in FORMAT_FP16.

        copy=True gives an array of its own. copy=False gives a read-only view of an array the session reuses,
        so that no array is made per frame: each later grab of a frame of that size overwrites it in place, so
        copy what must outlive that. After a new size or close() the view keeps the last frame it showed."""
        with self._lock:
            self._checked()
            if self._texture_mode:
                raise CorvoError("the session hands out textures: use grab_texture()")
            ok, pointer, width, height = self._poll()
            if not ok:
                return None
            shape, dtype = (height, width, 4), self._pixel_type()
            if self._frame is not None and (self._frame.shape, self._frame.dtype) != (shape, dtype):
                self._frame = None  # its views keep the frame of the old size or format
            if self._frame is None and not copy:
                self._frame = np.empty(shape, dtype)
            frame = np.empty(shape, dtype) if copy else None
            # The library's buffer moves when it grows and goes with close(): no Python object points into it,
            # only arrays of this module take its pixels.
            for array in (frame, self._frame):
                if array is not None:
                    ctypes.memmove(array.ctypes.data, pointer, array.nbytes)
            if copy:
                return frame
            view = self._frame.view()
        view.flags.writeable = False
        return view

    def _pixel_type(self):
        """The numpy type of a channel of the frame the last poll handed out, from its bytes per pixel."""
        info = WgcFrameInfo(size=ctypes.sizeof(WgcFrameInfo))
        if not self._lib.wgc_get_frame_info(self._checked(), ctypes.byref(info)):
            raise CorvoError("the library did not describe the frame it handed out")
        return np.float16 if info.bytes_per_pixel == 8 else np.uint8

    def grab_texture(self):
        """In texture mode, the latest frame as a Texture holding one reference, or None while there is none."""
        with self._lock:
            self._checked()
            if not self._texture_mode:
                raise CorvoError("the session hands out CPU frames: use grab(), or set_capture_to_texture() first")
            ok, pointer, width, height = self._poll()
        return Texture(pointer, width, height) if ok else None

    def _poll(self):
        """The library's poll, under the lock; raises what ended the capture."""
        handle = self._checked()
        if not self._started:
            raise CorvoError("the session is not started")
        if self._ended is not None:
            raise self._ended
        frame = ctypes.c_void_p()
        width, height, cursor = ctypes.c_int32(), ctypes.c_int32(), ctypes.c_uint8()
        with router.collect() as lines:
            ok = self._lib.wgc_get_recent_frame(handle, ctypes.byref(frame), 0, ctypes.byref(width),
                                                ctypes.byref(height), ctypes.byref(cursor))
        if any(text == _CLOSED_LINE for _, text in lines):
            self._target_closed = True
        if not self._handle:
            ended = SessionClosedError("the session is closed")  # meanwhile: by a logger, or another thread
        elif not self._lib.wgc_get_status(handle):
            if self._target_closed:
                self._ended = TargetClosedError("the captured window or monitor was closed")
            else:
                self._ended = CaptureStoppedError("the capture stopped", _problems(lines))
            ended = self._ended
        else:
            return bool(ok), frame.value, width.value, height.value
        if ok and self._texture_mode:
            Texture(frame.value, width.value, height.value).release()
        raise ended
