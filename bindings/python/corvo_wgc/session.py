"""A capture session: one window or monitor, started and polled on one thread."""

import ctypes
import math
import threading
from typing import NamedTuple

import numpy as np

from ._library import WgcFrameInfo, WgcRect, library
from .errors import (CaptureStoppedError, CorvoError, SessionClosedError, StartError, SwitchRefusedError,
                     TargetClosedError, WrongThreadError)
from .log import LogLevel, router
from .texture import Texture

_CLOSED_LINE = "Wgc on_closed"


class FrameInfo(NamedTuple):
    """The frame the last grab handed out."""
    is_new: bool  # no grab handed it out before, whether or not its pixels changed
    frame_number: int  # among the frames delivered since start(), from 1: a gap is a frame never grabbed
    system_time: int  # when the system rendered it, in 100 ns units of the performance counter
    content_size: tuple  # (width, height) as the system reported it


def _handle_of(target):
    handle = getattr(target, "handle", target)
    if not isinstance(handle, int):
        raise TypeError(f"a window or monitor handle (int) or an object with .handle is needed, not {target!r}")
    return handle


def _problems(lines):
    return [line for line in lines if line[0] >= LogLevel.WARNING]


class Session:
    """Captures one window (`Session(window)`) or one monitor (`Session(monitor=m)`).

    Start it with start() on the thread that will call grab(). Use it as a context manager, or call close():
    afterwards every method raises SessionClosedError."""

    def __init__(self, window=None, *, monitor=None):
        if (window is None) == (monitor is None):
            raise TypeError("give either a window or monitor=")
        if window is not None and getattr(window, "is_monitor", False):
            raise TypeError("a monitor is captured with Session(monitor=...)")
        self._lib = library().dll
        self._handle = None
        self._thread = None
        self._ended = None  # the exception that tells why a started capture ended
        self._texture_mode = False
        with router.collect() as lines:
            if window is not None:
                self._handle = self._lib.wgc_session_create(_handle_of(window))
            else:
                self._handle = self._lib.wgc_session_create2(_handle_of(monitor))
        if not self._handle:
            null_monitor = monitor is not None and not _handle_of(monitor)
            raise CorvoError("no monitor given" if null_monitor else "creating the session failed", _problems(lines))

    # Lifetime.

    def close(self):
        """Stops the capture and frees the session; the buffer of views from grab(copy=False) goes with it."""
        handle, self._handle = self._handle, None
        if handle:
            self._lib.wgc_session_destroy(handle)

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

    # Switches; set them before start() or while capturing.

    def enable_cursor(self, on=True):
        """Capture the mouse cursor or not; SwitchRefusedError when the system cannot turn it on."""
        self._switch(self._lib.wgc_enable_cursor, on, "cursor capture")

    def show_border(self, on=True):
        """Show or hide the capture border; SwitchRefusedError when the system cannot hide it."""
        self._switch(self._lib.wgc_show_border, on, "hiding the border")

    def _switch(self, function, on, what):
        handle = self._checked()
        with router.collect() as lines:
            accepted = function(handle, 1 if on else 0)
        if not accepted:
            raise SwitchRefusedError(f"the system refused {what}", _problems(lines))

    def set_min_update_interval(self, seconds):
        """The shortest interval between frames the system may deliver (0: the system's own default);
        SwitchRefusedError where the system has no such setting."""
        handle = self._checked()
        microseconds = round(seconds * 1_000_000)
        if not 0 <= microseconds <= 0xFFFFFFFF:
            raise ValueError(f"interval out of range: {seconds} s")
        with router.collect() as lines:
            accepted = self._lib.wgc_set_min_update_interval(handle, microseconds)
        if not accepted:
            raise SwitchRefusedError("the system refused a minimum update interval", _problems(lines))

    def dirty_rects(self):
        """Where the frame of the last grab changed, as (left, top, right, bottom) tuples with right and bottom
        exclusive: an empty list when it did not change, None when unknown (take the whole frame as changed)."""
        handle = self._checked()
        count = self._lib.wgc_get_dirty_rects(handle, None, 0)
        if count < 0:
            return None
        rects = (WgcRect * count)()
        count = min(count, self._lib.wgc_get_dirty_rects(handle, rects, count))
        return [(r.left, r.top, r.right, r.bottom) for r in rects[:max(count, 0)]]

    def frame_info(self):
        """A FrameInfo for the frame the last grab handed out, or None when it handed out nothing."""
        info = WgcFrameInfo(size=ctypes.sizeof(WgcFrameInfo))
        if not self._lib.wgc_get_frame_info(self._checked(), ctypes.byref(info)):
            return None
        return FrameInfo(bool(info.is_new), info.frame_number, info.system_time,
                         (info.content_width, info.content_height))

    def wait(self, timeout=None):
        """Waits, from any thread and without dispatching messages, until a frame is there for the next grab:
        True when one is, False after `timeout` seconds (None: about 49 days) or when the capture ends."""
        handle = self._checked()
        if timeout is None:
            milliseconds = 0xFFFFFFFF
        elif not math.isfinite(timeout) or timeout < 0:
            raise ValueError(f"timeout must be a finite number of seconds, not {timeout!r}")
        else:
            milliseconds = min(math.ceil(timeout * 1000), 0xFFFFFFFF)
        return bool(self._lib.wgc_wait_for_frame(handle, milliseconds))

    @property
    def last_error(self):
        """The HRESULT of the session's latest failure (a failed start step, a lost device ...), 0 if none since
        it was made or last started."""
        return self._lib.wgc_get_last_error(self._checked()) & 0xFFFFFFFF

    def set_dirty_rect(self, on=True):
        """Change detection on the GPU: unchanged frames are not copied, update_ratio() tells how much changed."""
        self._lib.wgc_set_dirty_rect(self._checked(), 1 if on else 0)

    def set_capture_to_texture(self, on=True):
        """Hand frames out as Direct3D 11 textures (grab_texture()) instead of CPU buffers (grab())."""
        self._lib.wgc_set_capture_to_texture(self._checked(), 1 if on else 0)
        self._texture_mode = bool(on)

    # Capture.

    def start(self):
        """Starts capturing on the calling thread, which must be the one that grabs; StartError if it fails."""
        handle = self._checked()
        with router.collect() as lines:
            started = self._lib.wgc_session_start(handle)
        if not started:
            raise StartError("the capture did not start", _problems(lines))
        self._thread = threading.get_ident()
        self._ended = None

    @property
    def status(self):
        """True while capturing; False before start() and after the target closed."""
        return bool(self._lib.wgc_get_status(self._checked()))

    @property
    def device(self):
        """The session's ID3D11Device pointer (no reference added), None before start()."""
        return self._lib.wgc_get_device(self._checked())

    def update_ratio(self):
        """The changed share of the latest frame (1.0 a whole new frame, 0.0 nothing new); reading resets it."""
        return self._lib.wgc_get_update_ratio(self._checked())

    def grab(self, copy=True):
        """The latest frame as a (height, width, 4) uint8 BGRA array, or None while no frame has arrived.

        copy=True gives an array of its own. copy=False gives a read-only view of the session's buffer without a
        copy: it is valid until the next grab() or close() of this session, and the next frame overwrites it in
        place, so copy what must outlive that."""
        self._checked()
        if self._texture_mode:
            raise CorvoError("the session hands out textures: use grab_texture()")
        ok, pointer, width, height = self._poll()
        if not ok:
            return None
        buffer = (ctypes.c_uint8 * (width * height * 4)).from_address(pointer)
        frame = np.frombuffer(buffer, dtype=np.uint8).reshape(height, width, 4)
        if copy:
            return frame.copy()
        buffer.session = self  # the view keeps the session, and so its buffer, from being collected
        frame.flags.writeable = False
        return frame

    def grab_texture(self):
        """In texture mode, the latest frame as a Texture holding one reference, or None while there is none."""
        self._checked()
        if not self._texture_mode:
            raise CorvoError("the session hands out CPU frames: use grab(), or set_capture_to_texture() first")
        ok, pointer, width, height = self._poll()
        return Texture(pointer, width, height) if ok else None

    def _poll(self):
        handle = self._checked()
        if self._thread is None:
            raise CorvoError("the session is not started")
        if self._thread != threading.get_ident():
            raise WrongThreadError("grab from the thread that called start()")
        if self._ended is not None:
            raise self._ended
        frame = ctypes.c_void_p()
        width, height, cursor = ctypes.c_int32(), ctypes.c_int32(), ctypes.c_uint8()
        with router.collect() as lines:
            ok = self._lib.wgc_get_recent_frame(handle, ctypes.byref(frame), 0, ctypes.byref(width),
                                                ctypes.byref(height), ctypes.byref(cursor))
        if not self._lib.wgc_get_status(handle):
            if any(text == _CLOSED_LINE for _, text in lines):
                self._ended = TargetClosedError("the captured window or monitor was closed")
            else:
                self._ended = CaptureStoppedError("the capture stopped", _problems(lines))
            if ok and self._texture_mode:
                Texture(frame.value, width.value, height.value).release()
            raise self._ended
        return bool(ok), frame.value, width.value, height.value
