"""The windows and monitors one could capture: the emulated platform's on Linux, and the Windows listing run on
stand-ins for user32 and dwmapi that answer as Windows does."""

import ctypes

import pytest

import corvo_wgc
from corvo_wgc import _win32_targets as win32
from corvo_wgc import emulated as emu


def test_open_titled_windows_and_side_by_side_monitors_are_listed_and_captured():
    editor = emu.Window(320, 200, "Editor")
    emu.Window(64, 64)  # untitled: not offered
    first, closed, second = emu.Monitor(1920, 1080), emu.Window(64, 64, "Gone"), emu.Monitor(800, 600)
    player = emu.Window(100, 50, "Player \u25b6")
    closed.close()
    player.resize(120, 60)
    assert corvo_wgc.windows() == [(editor.handle, "Editor", (320, 200)), (player.handle, "Player \u25b6", (120, 60))]
    assert corvo_wgc.monitors() == [(0, first.handle, (0, 0), (1920, 1080)), (1, second.handle, (1920, 0), (800, 600))]

    editor.set_title(None)
    first.close()
    # A long title is cut at a character boundary: 255 bytes hold 127 two-byte characters.
    player.set_title("\u00e9" * 200)
    assert corvo_wgc.windows() == [(player.handle, "\u00e9" * 127, (120, 60))]
    assert corvo_wgc.monitors() == [(0, second.handle, (0, 0), (800, 600))]

    with pytest.raises(TypeError, match="monitor="):
        corvo_wgc.Session(corvo_wgc.monitors()[0])
    window, monitor = corvo_wgc.Session(corvo_wgc.windows()[0]), corvo_wgc.Session(monitor=corvo_wgc.monitors()[0])
    with window, monitor:
        window.start()
        monitor.start()
        assert player.present() == 1 and second.present() == 1
        assert window.grab().shape == (60, 120, 4) and monitor.grab().shape == (600, 800, 4)


def _set(rect, values):
    rect.left, rect.top, rect.right, rect.bottom = values


class FakeUser32:
    """Windows as dicts (visible, iconic, title, rect) in z-order, and monitors as rectangles."""

    def __init__(self, windows, monitors=()):
        self.windows, self.monitors = windows, monitors

    def EnumWindows(self, proc, lparam):
        all(proc(handle, lparam) for handle in self.windows)  # until the callback answers FALSE
        return 1

    def IsWindowVisible(self, hwnd):
        return int(self.windows[hwnd].get("visible", True))

    def IsIconic(self, hwnd):
        return int(self.windows[hwnd].get("iconic", False))

    def GetWindowTextLengthW(self, hwnd):
        return len(self.windows[hwnd]["title"].encode("utf-16-le")) // 2  # in UTF-16 units

    def GetWindowTextW(self, hwnd, buffer, capacity):
        buffer.value = self.windows[hwnd]["title"][:capacity - 1]
        return len(buffer.value)

    def GetWindowRect(self, hwnd, rect):
        _set(rect.contents, self.windows[hwnd]["rect"])
        return 1

    def EnumDisplayMonitors(self, dc, clip, proc, lparam):
        all(proc(0x1000 + index, dc, None, lparam) for index in range(len(self.monitors)))
        return 1

    def GetMonitorInfoW(self, hmonitor, info):
        if info.contents.cbSize != ctypes.sizeof(win32.MONITORINFO):
            return 0
        _set(info.contents.rcMonitor, self.monitors[hmonitor - 0x1000])
        return 1


class FakeDwmapi:
    """The compositor: cloaking (a system before it refuses the query) and the drawn bounds of some windows."""

    def __init__(self, windows, cloaking):
        self.windows, self.cloaking = windows, cloaking

    def DwmGetWindowAttribute(self, hwnd, attribute, value, size):
        window = self.windows[hwnd]
        if attribute == win32.DWMWA_CLOAKED and self.cloaking and size == 4:
            value.contents.value = 2 if window.get("cloaked") else 0  # DWM_CLOAKED_SHELL
        elif attribute == win32.DWMWA_EXTENDED_FRAME_BOUNDS and "drawn" in window and size == 16:
            _set(value.contents, window["drawn"])
        else:
            return -2147024809  # E_INVALIDARG
        return 0


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
    expected = [(0x10, "Editor", (800, 600))] + ([] if cloaking else [(0x50, "Other desktop", (10, 10))])
    expected.append((0x60, "\u30e1\u30e2 \U0001f4dd", (320, 200)))
    assert win32.windows(FakeUser32(windows), FakeDwmapi(windows, cloaking)) == expected

    user32 = FakeUser32({}, [(0, 0, 2560, 1440), (-1920, 200, 0, 1280)])
    assert win32.monitors(user32) == [(0, 0x1000, (0, 0), (2560, 1440)), (1, 0x1001, (-1920, 200), (1920, 1080))]
