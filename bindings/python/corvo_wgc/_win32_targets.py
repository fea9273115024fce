"""The windows and monitors of a Windows system, through user32 and dwmapi. The functions take the two libraries,
so that they run on any object that answers as they do."""

import ctypes

from .target_info import MonitorInfo, WindowInfo

DWMWA_EXTENDED_FRAME_BOUNDS = 9
DWMWA_CLOAKED = 14


class RECT(ctypes.Structure):
    _fields_ = [("left", ctypes.c_int32), ("top", ctypes.c_int32), ("right", ctypes.c_int32),
                ("bottom", ctypes.c_int32)]


class MONITORINFO(ctypes.Structure):
    _fields_ = [("cbSize", ctypes.c_uint32), ("rcMonitor", RECT), ("rcWork", RECT), ("dwFlags", ctypes.c_uint32)]


# The system's callbacks are stdcall where that differs from the C convention (32-bit Windows only).
_FUNCTYPE = getattr(ctypes, "WINFUNCTYPE", ctypes.CFUNCTYPE)
WNDENUMPROC = _FUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_ssize_t)
MONITORENUMPROC = _FUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p, ctypes.POINTER(RECT), ctypes.c_ssize_t)

_HWND = ctypes.c_void_p
_SIGNATURES = {
    "EnumWindows": (ctypes.c_int, [WNDENUMPROC, ctypes.c_ssize_t]),
    "IsWindowVisible": (ctypes.c_int, [_HWND]),
    "IsIconic": (ctypes.c_int, [_HWND]),
    "GetWindowTextLengthW": (ctypes.c_int, [_HWND]),
    "GetWindowTextW": (ctypes.c_int, [_HWND, ctypes.c_wchar_p, ctypes.c_int]),
    "GetWindowRect": (ctypes.c_int, [_HWND, ctypes.POINTER(RECT)]),
    "EnumDisplayMonitors": (ctypes.c_int, [ctypes.c_void_p, ctypes.c_void_p, MONITORENUMPROC, ctypes.c_ssize_t]),
    "GetMonitorInfoW": (ctypes.c_int, [ctypes.c_void_p, ctypes.POINTER(MONITORINFO)]),
}


def system():
    """user32 and dwmapi, declared for the calls made here."""
    user32 = ctypes.WinDLL("user32")
    dwmapi = ctypes.WinDLL("dwmapi")
    for name, (restype, argtypes) in _SIGNATURES.items():
        getattr(user32, name).restype = restype
        getattr(user32, name).argtypes = argtypes
    dwmapi.DwmGetWindowAttribute.restype = ctypes.c_int32  # HRESULT
    dwmapi.DwmGetWindowAttribute.argtypes = [_HWND, ctypes.c_uint32, ctypes.c_void_p, ctypes.c_uint32]
    return user32, dwmapi


def _cloaked(dwmapi, hwnd):
    cloaked = ctypes.c_uint32(0)
    # A system without cloaking fails the query: nothing is cloaked there.
    return dwmapi.DwmGetWindowAttribute(hwnd, DWMWA_CLOAKED, ctypes.pointer(cloaked), 4) >= 0 and cloaked.value != 0


def _title(user32, hwnd):
    length = user32.GetWindowTextLengthW(hwnd)
    if length <= 0:
        return ""
    buffer = ctypes.create_unicode_buffer(length + 1)
    copied = user32.GetWindowTextW(hwnd, buffer, length + 1)
    return buffer.value[:max(copied, 0)]


def _size(user32, dwmapi, hwnd):
    """Where the system draws the window; without the compositor's bounds, its rectangle."""
    r = RECT()
    if dwmapi.DwmGetWindowAttribute(hwnd, DWMWA_EXTENDED_FRAME_BOUNDS, ctypes.pointer(r), ctypes.sizeof(r)) < 0:
        user32.GetWindowRect(hwnd, ctypes.pointer(r))
    return (r.right - r.left, r.bottom - r.top)


def windows(user32, dwmapi):
    found = []

    def visit(hwnd, _):
        if user32.IsWindowVisible(hwnd) and not user32.IsIconic(hwnd) and not _cloaked(dwmapi, hwnd):
            title = _title(user32, hwnd)
            if title:
                found.append(WindowInfo(hwnd, title, _size(user32, dwmapi, hwnd)))
        return 1

    user32.EnumWindows(WNDENUMPROC(visit), 0)
    return found


def monitors(user32):
    found = []

    def visit(hmonitor, _dc, _rect, _):
        info = MONITORINFO(cbSize=ctypes.sizeof(MONITORINFO))
        # Kept even when its description fails, so that the indexes stay those of the system's order.
        user32.GetMonitorInfoW(hmonitor, ctypes.pointer(info))
        r = info.rcMonitor
        found.append(MonitorInfo(len(found), hmonitor, (r.left, r.top), (r.right - r.left, r.bottom - r.top)))
        return 1

    user32.EnumDisplayMonitors(None, None, MONITORENUMPROC(visit), 0)
    return found
