"""Window and monitor capture with libcorvo-wgc: sessions that hand out frames as numpy BGRA arrays
(or float16 RGBA ones for HDR).

The library is loaded on first use: the one bundled in the package (a wheel), else $CORVO_WGC_LIBRARY, else the
system's; or from the path given to load(). On Linux, corvo_wgc.emulated drives the emulated platform the library
runs on."""

from ._library import library, load
from .errors import (CaptureStoppedError, CorvoError, LibraryNotFoundError, SessionClosedError, StartError,
                     SwitchRefusedError, TargetClosedError, WrongThreadError)
from .log import LogLevel, set_logger
from .session import FORMAT_BGRA8, FORMAT_FP16, FORMAT_SDR_FROM_HDR, FrameInfo, Session
from .target_info import MonitorInfo, WindowInfo
from .targets import monitors, windows
from .texture import Texture


def __getattr__(name):
    # `version` is read from the library, which is loaded only when first needed.
    if name == "version":
        number = library().dll.wgc_get_version()
        return f"{number >> 16}.{(number >> 8) & 0xFF}.{number & 0xFF}"
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


def is_supported():
    """Whether the system offers the capture interfaces at all."""
    return bool(library().dll.is_wgc_session_supported())


__all__ = [
    "CaptureStoppedError", "CorvoError", "FrameInfo", "LibraryNotFoundError", "LogLevel", "Session", "SessionClosedError",
    "StartError", "SwitchRefusedError", "TargetClosedError", "Texture", "WrongThreadError", "is_supported", "load",
    "set_logger", "FORMAT_BGRA8", "FORMAT_FP16", "FORMAT_SDR_FROM_HDR",
    "MonitorInfo", "WindowInfo", "monitors", "windows",
]
