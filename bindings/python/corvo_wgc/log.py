"""The library's log lines: one C callback for the process that hands each line to the host's Python callback
and to the failing call that produced it."""

import contextlib
import ctypes
import enum
import threading

LOG_CALLBACK = ctypes.CFUNCTYPE(None, ctypes.c_int32, ctypes.c_char_p, ctypes.c_uint64)


class LogLevel(enum.IntEnum):
    INFO = 1  # progress and applied switches
    WARNING = 2  # a switch the system cannot apply
    ERROR = 3  # failures


class _Router:
    def __init__(self):
        self.callback = None
        self._local = threading.local()
        # Kept here for the life of the process: the library calls it after any Python reference is gone.
        self.c_callback = LOG_CALLBACK(self._deliver)

    def _deliver(self, level, text, length):
        # The library calls on the thread that produced the line, so lines logged during a call of ours on this
        # thread belong to that call.
        line = text[:length].decode("utf-8", "replace")
        lines = getattr(self._local, "lines", None)
        if lines is not None:
            lines.append((level, line))
        callback = self.callback
        if callback is not None:
            callback(LogLevel(level), line)

    @contextlib.contextmanager
    def collect(self):
        """Collects the lines the library logs on this thread inside the block."""
        outer = getattr(self._local, "lines", None)
        self._local.lines = lines = []
        try:
            yield lines
        finally:
            self._local.lines = outer
            if outer is not None:
                outer.extend(lines)


router = _Router()


def set_logger(callback):
    """Sends every line the library logs to callback(level: LogLevel, text: str), on the thread that logged it;
    None stops that. The module keeps the callback alive until it is replaced."""
    if callback is not None and not callable(callback):
        raise TypeError("the logger must be callable or None")
    router.callback = callback
