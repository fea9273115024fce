"""Finds and loads libcorvo-wgc once per process and declares the signatures of its exports."""

import ctypes
import ctypes.util
import os
import sys
import threading

from .errors import CorvoError, LibraryNotFoundError
from .log import LOG_CALLBACK, router

c_session = ctypes.c_void_p


class WgcRect(ctypes.Structure):
    _fields_ = [("left", ctypes.c_int32), ("top", ctypes.c_int32), ("right", ctypes.c_int32),
                ("bottom", ctypes.c_int32)]


class WgcFrameInfo(ctypes.Structure):
    _fields_ = [("size", ctypes.c_uint32), ("is_new", ctypes.c_uint32), ("frame_number", ctypes.c_uint64),
                ("system_time", ctypes.c_int64), ("content_width", ctypes.c_int32),
                ("content_height", ctypes.c_int32), ("dxgi_format", ctypes.c_int32),
                ("bytes_per_pixel", ctypes.c_uint32), ("hdr", ctypes.c_uint32), ("sdr_white_nits", ctypes.c_float),
                ("device_generation", ctypes.c_uint32)]


# name: (result type, argument types). One line per export; a new export is one more line.
EXPORTS = {
    "is_wgc_session_supported": (ctypes.c_uint8, []),
    "wgc_enable_cursor": (ctypes.c_uint8, [c_session, ctypes.c_uint8]),
    "wgc_free_recent_frame": (None, [ctypes.c_void_p]),
    "wgc_get_device": (ctypes.c_void_p, [c_session]),
    "wgc_get_recent_frame": (
        ctypes.c_uint8,
        [c_session, ctypes.POINTER(ctypes.c_void_p), ctypes.c_ssize_t, ctypes.POINTER(ctypes.c_int32),
         ctypes.POINTER(ctypes.c_int32), ctypes.POINTER(ctypes.c_uint8)],
    ),
    "wgc_get_status": (ctypes.c_uint8, [c_session]),
    "wgc_get_update_ratio": (ctypes.c_float, [c_session]),
    "wgc_register_logger": (None, [LOG_CALLBACK]),
    "wgc_session_create": (c_session, [ctypes.c_void_p]),
    "wgc_session_create2": (c_session, [ctypes.c_void_p]),
    "wgc_session_destroy": (None, [c_session]),
    "wgc_session_start": (ctypes.c_uint8, [c_session]),
    "wgc_set_capture_to_texture": (None, [c_session, ctypes.c_uint8]),
    "wgc_set_dirty_rect": (None, [c_session, ctypes.c_uint8]),
    "wgc_set_pixel_format": (ctypes.c_uint8, [c_session, ctypes.c_int32]),
    "wgc_show_border": (ctypes.c_uint8, [c_session, ctypes.c_uint8]),
    "wgc_get_dirty_rects": (ctypes.c_int32, [c_session, ctypes.POINTER(WgcRect), ctypes.c_int32]),
    "wgc_set_min_update_interval": (ctypes.c_uint8, [c_session, ctypes.c_uint32]),
    "wgc_get_frame_info": (ctypes.c_uint8, [c_session, ctypes.POINTER(WgcFrameInfo)]),
    "wgc_wait_for_frame": (ctypes.c_uint8, [c_session, ctypes.c_uint32]),
    "wgc_get_last_error": (ctypes.c_int32, [c_session]),
    "wgc_get_version": (ctypes.c_uint32, []),
    "wgc_set_device": (ctypes.c_uint8, [c_session, ctypes.c_void_p]),
    "wgc_set_adapter": (ctypes.c_uint8, [c_session, ctypes.c_int32]),
    "wgc_set_recovery": (ctypes.c_uint8, [c_session, ctypes.c_uint8]),
    "wgc_set_region": (ctypes.c_uint8, [c_session, ctypes.POINTER(WgcRect)]),
    "wgc_set_client_area": (ctypes.c_uint8, [c_session, ctypes.c_uint8]),
}

LIBRARY_NAME = "libcorvo-wgc.dll" if sys.platform == "win32" else "libcorvo-wgc.so"
ENVIRONMENT_VARIABLE = "CORVO_WGC_LIBRARY"
# A wheel carries the library inside the package, beside this file.
BUNDLED_LIBRARY = os.path.join(os.path.dirname(os.path.abspath(__file__)), LIBRARY_NAME)

_lock = threading.Lock()
_loaded = None


class Library:
    """The loaded libcorvo-wgc: `dll` is the ctypes handle with every export declared, `path` where it came from."""

    def __init__(self, dll, path):
        self.dll = dll
        self.path = path
        for name, (restype, argtypes) in EXPORTS.items():
            try:
                function = getattr(dll, name)
            except AttributeError:
                raise LibraryNotFoundError(f"{path} is not libcorvo-wgc: it has no export {name}") from None
            function.restype = restype
            function.argtypes = argtypes
        # The module's one log callback stays registered: it routes lines to the host's Python callback and
        # into the exceptions of failing calls.
        dll.wgc_register_logger(router.c_callback)


def _system_candidates():
    if sys.platform == "win32":
        # Python 3.8 and later load a bare DLL name from neither PATH nor the working folder: search PATH here.
        return [ctypes.util.find_library(LIBRARY_NAME), LIBRARY_NAME]
    return [LIBRARY_NAME, ctypes.util.find_library("corvo-wgc")]


def candidates(path):
    """Where the library is looked for, in order: only `path` when one is given; else the library bundled in the
    package, the path in $CORVO_WGC_LIBRARY, then the system's."""
    if path is not None:
        return [os.fspath(path)]
    found = [BUNDLED_LIBRARY] if os.path.isfile(BUNDLED_LIBRARY) else []
    if os.environ.get(ENVIRONMENT_VARIABLE):
        found.append(os.environ[ENVIRONMENT_VARIABLE])
    return found + [name for name in _system_candidates() if name]


def _open(path):
    """Loads the first of the candidates that loads; says what it tried."""
    tried = []
    for candidate in candidates(path):
        try:
            return ctypes.CDLL(candidate), candidate
        except OSError as error:
            tried.append(f"{candidate} ({error})")
    hint = "" if path is not None else f"; give its path to corvo_wgc.load() or in ${ENVIRONMENT_VARIABLE}"
    raise LibraryNotFoundError("libcorvo-wgc could not be loaded, tried " + ", ".join(tried) + hint)


def load(path=None):
    """Loads libcorvo-wgc for this process (from `path`, else the one bundled in the package, $CORVO_WGC_LIBRARY or
    the system's) and returns it. Later calls return the same library; naming another file then is an error."""
    global _loaded
    with _lock:
        if _loaded is not None:
            if path is not None and os.path.realpath(os.fspath(path)) != os.path.realpath(_loaded.path):
                raise CorvoError(f"libcorvo-wgc is already loaded from {_loaded.path}, not {os.fspath(path)}")
            return _loaded
        dll, found = _open(path)
        _loaded = Library(dll, found)
        return _loaded


def library():
    """The loaded library, loading the default one on first use."""
    return _loaded if _loaded is not None else load()
