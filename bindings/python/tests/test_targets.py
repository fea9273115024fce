"""The windows and monitors one could capture: the emulated platform's on Linux, and the Windows listing run on
stand-ins for user32 and dwmapi that answer as Windows does."""

import ctypes

import pytest

import corvo_wgc
from corvo_wgc import _win32_targets as win32
from corvo_wgc import emulated as emu


def test_windows_lists_the_titled_open_windows_in_order():
    editor = emu.Window(320, 200, "Editor")
    emu.Window(64, 64)  # untitled: not offered
    closed = emu.Window(64, 64, "Gone")
    player = emu.Window(100, 50, "Player \u25b6")
    emu.Monitor(1920, 1080)
    closed.close()
    player.resize(120, 60)
    assert corvo_wgc.windows() == [(editor.handle, "Editor", (320, 200)), (player.handle, "Player \u25b6", (120, 60))]

    editor.set_title(None)
    # A long title is cut at a character boundary: 255 bytes hold 127 two-byte characters.
    player.set_title("\u00e9" * 200)
    assert corvo_wgc.windows() == [(player.handle, "\u00e9" * 127, (120, 60))]

    with corvo_wgc.Session(corvo_wgc.windows()[0]) as session:
        session.start()
        assert player.present() == 1
        assert session.grab().shape == (60, 120, 4)


def test_monitors_lie_side_by_side_in_the_order_made():
    first = emu.Monitor(1920, 1080)
    emu.Window(10, 10, "not a monitor")
    second = emu.Monitor(1280, 1024)
    third = emu.Monitor(800, 600)
    assert corvo_wgc.monitors() == [(0, first.handle, (0, 0), (1920, 1080)),
                                    (1, second.handle, (1920, 0), (1280, 1024)),
                                    (2, third.handle, (3200, 0), (800, 600))]
    second.close()
    assert corvo_wgc.monitors() == [(0, first.handle, (0, 0), (1920, 1080)), (1, third.handle, (1920, 0), (800, 600))]

    with pytest.raises(TypeError, match="monitor="):
        corvo_wgc.Session(corvo_wgc.monitors()[0])
    with corvo_wgc.Session(monitor=corvo_wgc.monitors()[1]) as session:
        session.start()
        assert third.present() == 1
        assert session.grab().shape == (600, 800, 4)


E_INVALIDARG = -2147024809


class FakeUser32:
    """Top-level windows as dicts (visible, iconic, title, rect) and monitors as rectangles, in z-order."""

    def __init__(self, windows, monitors=()):
        self.windows = windows
        self.monitors = monitors

    def EnumWindows(self, proc, lparam):
        for handle in self.windows:
            if not proc(handle, lparam):
                break
        return 1

    def IsWindowVisible(self, hwnd):
        return int(self.windows[hwnd].get("visible", True))

    def IsIconic(self, hwnd):
        return int(self.windows[hwnd].get("iconic", False))

    def GetWindowTextLengthW(self, hwnd):
        return len(self.windows[hwnd].get("title", "").encode("utf-16-le")) // 2  # in UTF-16 units

    def GetWindowTextW(self, hwnd, buffer, capacity):
        text = self.windows[hwnd].get("title", "")[:capacity - 1]
        buffer.value = text
        return len(text)

    def GetWindowRect(self, hwnd, rect):
        rect.contents.left, rect.contents.top, rect.contents.right, rect.contents.bottom = self.windows[hwnd]["rect"]
        return 1

    def EnumDisplayMonitors(self, dc, clip, proc, lparam):
        for index in range(len(self.monitors)):
            if not proc(0x1000 + index, dc, None, lparam):
                break
        return 1

    def GetMonitorInfoW(self, hmonitor, info):
        if info.contents.cbSize != ctypes.sizeof(win32.MONITORINFO):
            return 0
        r = info.contents.rcMonitor
        r.left, r.top, r.right, r.bottom = self.monitors[hmonitor - 0x1000]
        return 1


class FakeDwmapi:
    """The compositor: cloaked windows, and the drawn bounds of windows it has them for."""

    def __init__(self, windows, cloaking=True):
        self.windows = windows
        self.cloaking = cloaking  # a system before cloaking refuses the query

    def DwmGetWindowAttribute(self, hwnd, attribute, value, size):
        window = self.windows[hwnd]
        if attribute == win32.DWMWA_CLOAKED and self.cloaking and size == 4:
            value.contents.value = 2 if window.get("cloaked") else 0  # DWM_CLOAKED_SHELL
            return 0
        if attribute == win32.DWMWA_EXTENDED_FRAME_BOUNDS and "drawn" in window and size == 16:
            value.contents.left, value.contents.top, value.contents.right, value.contents.bottom = window["drawn"]
            return 0
        return E_INVALIDARG


@pytest.mark.parametrize("cloaking", [True, False], ids=["cloaking", "no-cloaking"])
def test_windows_on_windows_are_the_visible_titled_uncloaked_unminimised_ones(cloaking):
    windows = {
        0x10: {"title": "Editor", "rect": (-8, 0, 808, 608), "drawn": (0, 0, 800, 600)},
        0x20: {"title": "Hidden", "visible": False, "rect": (0, 0, 10, 10)},
        0x30: {"title": "", "rect": (0, 0, 10, 10)},
        0x40: {"title": "Minimised", "iconic": True, "rect": (0, 0, 10, 10)},
        0x50: {"title": "Other desktop", "cloaked": True, "rect": (0, 0, 10, 10)},
        0x60: {"title": "\u30e1\u30e2 \U0001f4dd", "rect": (100, 100, 420, 300)},  # no drawn bounds: its rectangle
    }
    listed = win32.windows(FakeUser32(windows), FakeDwmapi(windows, cloaking))
    expected = [(0x10, "Editor", (800, 600))]
    if not cloaking:
        expected.append((0x50, "Other desktop", (10, 10)))
    expected.append((0x60, "\u30e1\u30e2 \U0001f4dd", (320, 200)))
    assert listed == expected


def test_monitors_on_windows_keep_the_systems_order_and_desktop_coordinates():
    user32 = FakeUser32({}, [(0, 0, 2560, 1440), (-1920, 200, 0, 1280)])
    assert win32.monitors(user32) == [(0, 0x1000, (0, 0), (2560, 1440)), (1, 0x1001, (-1920, 200), (1920, 1080))]
