"""The emulated platform's control API (Linux builds): simulated windows and monitors with pixels, presented
frames, what the system offers, fault injection and counters. Load libcorvo-wgc first (corvo_wgc.load());
its emulated platform is the one it runs on."""

import ctypes
import os
import sys
from typing import NamedTuple

import numpy as np

from ._library import library
from .errors import LibraryNotFoundError

ENVIRONMENT_VARIABLE = "CORVO_EMU_LIBRARY"

_SIGNATURES = {
    "corvo_emu_create_window": (ctypes.c_void_p, [ctypes.c_int32, ctypes.c_int32]),
    "corvo_emu_create_monitor": (ctypes.c_void_p, [ctypes.c_int32, ctypes.c_int32]),
    "corvo_emu_fill": (None, [ctypes.c_void_p] + [ctypes.c_int32] * 4 + [ctypes.c_uint32]),
    "corvo_emu_fill_scrgb": (None, [ctypes.c_void_p] + [ctypes.c_int32] * 4 + [ctypes.c_float] * 4),
    "corvo_emu_set_hdr": (None, [ctypes.c_void_p, ctypes.c_int32, ctypes.c_uint32]),
    "corvo_emu_move_window": (None, [ctypes.c_void_p, ctypes.c_int32, ctypes.c_int32]),
    "corvo_emu_set_window_frame": (None, [ctypes.c_void_p] + [ctypes.c_int32] * 4),
    "corvo_emu_set_bgra_uav_store": (None, [ctypes.c_int32]),
    "corvo_emu_write": (None, [ctypes.c_void_p] + [ctypes.c_int32] * 4 + [ctypes.c_void_p, ctypes.c_uint32]),
    "corvo_emu_resize": (None, [ctypes.c_void_p, ctypes.c_int32, ctypes.c_int32]),
    "corvo_emu_close": (None, [ctypes.c_void_p]),
    "corvo_emu_present": (ctypes.c_int32, [ctypes.c_void_p]),
    "corvo_emu_capture_property": (ctypes.c_int32, [ctypes.c_void_p, ctypes.c_char_p]),
    "corvo_emu_set_contract_version": (None, [ctypes.c_uint16]),
    "corvo_emu_set_property": (None, [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int32]),
    "corvo_emu_fail": (None, [ctypes.c_char_p, ctypes.c_int32, ctypes.c_uint32, ctypes.c_uint32]),
    "corvo_emu_count": (ctypes.c_uint64, [ctypes.c_char_p]),
    "corvo_emu_reset": (None, []),
    "corvo_emu_set_adapters": (None, [ctypes.POINTER(ctypes.c_uint32), ctypes.c_size_t]),
    "corvo_emu_remove_devices": (None, [ctypes.c_int32]),
    "corvo_emu_set_monitor_adapter": (None, [ctypes.c_void_p, ctypes.c_uint32]),
    "corvo_emu_set_title": (None, [ctypes.c_void_p, ctypes.c_char_p]),
    "corvo_emu_list_targets": (ctypes.c_int32, [ctypes.c_void_p, ctypes.c_int32]),
    "PeekMessageW": (ctypes.c_int32, [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_uint32, ctypes.c_uint32,
                                      ctypes.c_uint32]),
    "DispatchMessageW": (ctypes.c_ssize_t, [ctypes.c_void_p]),
}


class _Msg(ctypes.Structure):
    _fields_ = [("hwnd", ctypes.c_void_p), ("message", ctypes.c_uint32), ("wParam", ctypes.c_size_t),
                ("lParam", ctypes.c_ssize_t), ("time", ctypes.c_uint32), ("x", ctypes.c_int32),
                ("y", ctypes.c_int32), ("lPrivate", ctypes.c_uint32)]


class _CorvoEmuTarget(ctypes.Structure):
    _fields_ = [("handle", ctypes.c_void_p), ("is_monitor", ctypes.c_int32), ("x", ctypes.c_int32),
                ("y", ctypes.c_int32), ("width", ctypes.c_int32), ("height", ctypes.c_int32),
                ("title", ctypes.c_char * 256)]


class ListedTarget(NamedTuple):
    """A target the system lists: monitors side by side from (0, 0) in the order made, windows at (0, 0) until
    moved."""
    handle: int
    is_monitor: bool
    position: tuple  # (x, y)
    size: tuple  # (width, height)
    title: str  # empty for an untitled window and for monitors

CAPTURE_SESSION_TYPE = "Windows.Graphics.Capture.GraphicsCaptureSession"
E_FAIL = 0x80004005
E_OUTOFMEMORY = 0x8007000E
DXGI_ERROR_DEVICE_HUNG = 0x887A0006


def _mapped_emulator():
    """The file of the libcorvo-emu that libcorvo-wgc brought into this process (the one it runs on), or None."""
    with open("/proc/self/maps") as maps:
        for line in maps:
            fields = line.split(maxsplit=5)
            if len(fields) == 6 and os.path.basename(fields[5].rstrip("\n")).startswith("libcorvo-emu.so"):
                return fields[5].rstrip("\n")
    return None


def _open():
    if sys.platform == "win32":
        raise LibraryNotFoundError("the emulated platform exists only in the Linux build")
    library()
    name = os.environ.get(ENVIRONMENT_VARIABLE) or _mapped_emulator() or "libcorvo-emu.so"
    try:
        dll = ctypes.CDLL(name)
    except OSError as error:
        raise LibraryNotFoundError(f"libcorvo-emu could not be loaded: {error}; give its path in "
                                   f"${ENVIRONMENT_VARIABLE}") from None
    for function, (restype, argtypes) in _SIGNATURES.items():
        getattr(dll, function).restype = restype
        getattr(dll, function).argtypes = argtypes
    return dll


_emu = _open()


def _signed(hr):
    """An HRESULT as the int32 the C API takes (0x80004005 and -2147467259 are the same code)."""
    return ctypes.c_int32(hr & 0xFFFFFFFF).value


def bgra(blue, green, red, alpha=255):
    """A pixel value for fill(): bytes B, G, R, A in memory."""
    return blue | green << 8 | red << 16 | alpha << 24


class _Target:
    is_monitor = False

    def __init__(self, handle, width, height):
        if not handle:
            raise ValueError(f"a target of {width} x {height} pixels cannot be made")
        self.handle = handle
        self.width = width
        self.height = height

    def fill(self, x, y, width, height, pixel):
        """Sets a rectangle (clipped to the target) to one pixel value, see bgra()."""
        _emu.corvo_emu_fill(self.handle, x, y, width, height, pixel)

    def fill_scrgb(self, x, y, width, height, red, green, blue, alpha=1.0):
        """Paints HDR content: linear scRGB (1.0 = 80 nits; 12.5 = 1000 nits), kept as FP16. A monitor in HDR mode
        shows it as painted and SDR content at its SDR white; an SDR monitor, and 8-bit frames, clip it."""
        _emu.corvo_emu_fill_scrgb(self.handle, x, y, width, height, red, green, blue, alpha)

    def set_hdr(self, hdr, sdr_white_nits=80):
        """HDR mode on or off for this monitor, or for the monitor this window is on, and its SDR white (80 to 480
        nits)."""
        _emu.corvo_emu_set_hdr(self.handle, 1 if hdr else 0, sdr_white_nits)

    def write(self, x, y, pixels):
        """Copies a (height, width, 4) uint8 BGRA array to (x, y), clipped to the target."""
        pixels = np.asarray(pixels)
        if pixels.dtype != np.uint8 or pixels.ndim != 3 or pixels.shape[2] != 4:
            raise ValueError(f"pixels must be a (height, width, 4) uint8 array, not {pixels.dtype} {pixels.shape}")
        pixels = np.ascontiguousarray(pixels)
        height, width, _ = pixels.shape
        _emu.corvo_emu_write(self.handle, x, y, width, height, pixels.ctypes.data, width * 4)

    def resize(self, width, height):
        """New size; the content stays top-left and the new area is black."""
        if width <= 0 or height <= 0:
            raise ValueError(f"a target cannot be {width} x {height} pixels")
        _emu.corvo_emu_resize(self.handle, width, height)
        self.width, self.height = width, height

    def close(self):
        """The target goes away, as a destroyed window does."""
        _emu.corvo_emu_close(self.handle)

    def present(self):
        """Delivers the current pixels to every capture of the target that has room; returns how many took it."""
        return _emu.corvo_emu_present(self.handle)

    def capture_property(self, name):
        """A switch of the target's latest capture ("IsCursorCaptureEnabled", "IsBorderRequired", "started":
        True or False; "MinUpdateInterval": microseconds), None when nothing captures the target."""
        value = _emu.corvo_emu_capture_property(self.handle, name.encode())
        if value < 0:
            return None
        return value if name == "MinUpdateInterval" else bool(value)


class Window(_Target):
    """A simulated top-level window, opaque black at first, with a title or untitled."""

    def __init__(self, width, height, title=None):
        super().__init__(_emu.corvo_emu_create_window(width, height), width, height)
        if title is not None:
            self.set_title(title)

    def set_title(self, title):
        """The title the system lists the window by; None or "" makes it untitled."""
        _emu.corvo_emu_set_title(self.handle, (title or "").encode())

    def move(self, x, y):
        """Places the window's top-left corner on the desktop: it is shown on the monitor it overlaps most."""
        _emu.corvo_emu_move_window(self.handle, x, y)

    def set_frame(self, left, top, right, bottom):
        """The thickness in pixels of the title bar and borders on each side (all 0 at first: the client area is the
        whole window); the captured frame still shows the whole window."""
        _emu.corvo_emu_set_window_frame(self.handle, left, top, right, bottom)


class Monitor(_Target):
    """A simulated monitor, opaque black at first."""

    is_monitor = True

    def __init__(self, width, height):
        super().__init__(_emu.corvo_emu_create_monitor(width, height), width, height)

    def set_adapter(self, index):
        """DXGI lists this monitor's output under the adapter of that index (default 0)."""
        _emu.corvo_emu_set_monitor_adapter(self.handle, index)


def list_targets():
    """The targets that have not closed, windows and monitors, in the order they were made."""
    capacity = 0
    while True:
        entries = (_CorvoEmuTarget * capacity)()
        count = _emu.corvo_emu_list_targets(entries, capacity)
        if count <= capacity:  # else targets were made in between: ask again with room for them
            break
        capacity = count
    return [ListedTarget(e.handle, bool(e.is_monitor), (e.x, e.y), (e.width, e.height),
                         e.title.decode("utf-8", errors="replace")) for e in entries[:count]]


def set_contract_version(major):
    """The UniversalApiContract major version the system offers (default 19)."""
    _emu.corvo_emu_set_contract_version(major)


def set_property(property, present, type_name=CAPTURE_SESSION_TYPE):
    """Whether the system offers a property of a runtime type (default: the capture session's)."""
    _emu.corvo_emu_set_property(type_name.encode(), property.encode(), 1 if present else 0)


def fail(operation, hr=E_FAIL, skip=0, count=1):
    """After `skip` further calls of the operation succeed, the next `count` fail with `hr`; count 0 clears it."""
    _emu.corvo_emu_fail(operation.encode(), _signed(hr), skip, count)


def count(name):
    """Calls of an operation so far, or a gauge: "live_objects", "weak_references", "resource_bytes" (held by the
    textures and buffers that exist), "resource_bytes_peak" (the most they held at once since the last reset),
    "bytes_mapped", "bytes_copied", "validation_errors" (graphics calls refused as the Direct3D 11 runtime refuses
    them)."""
    return _emu.corvo_emu_count(name.encode())


def reset():
    """A fresh system: no targets, defaults, zero counters, no pending faults. The threads' dispatcher queues are
    forgotten too: call dispatch_messages() first on a thread whose last session was just closed (the library's
    queue stays with its thread until it next dispatches)."""
    _emu.corvo_emu_reset()


def dispatch_messages():
    """What a host's message loop does on the calling thread: dispatches its messages until none is left."""
    msg = _Msg()
    while _emu.PeekMessageW(ctypes.byref(msg), None, 0, 0, 1):
        _emu.DispatchMessageW(ctypes.byref(msg))


def set_bgra_uav_store(supported):
    """Whether devices made from now on can store B8G8R8A8_UNORM from a kernel (default True)."""
    _emu.corvo_emu_set_bgra_uav_store(1 if supported else 0)


def set_adapters(vendor_ids):
    """The adapters the system enumerates, by PCI vendor id, in order."""
    ids = (ctypes.c_uint32 * len(vendor_ids))(*vendor_ids)
    _emu.corvo_emu_set_adapters(ids, len(vendor_ids))


def remove_devices(reason=DXGI_ERROR_DEVICE_HUNG):
    """Every existing device is removed with `reason`; devices made later work."""
    _emu.corvo_emu_remove_devices(_signed(reason))
