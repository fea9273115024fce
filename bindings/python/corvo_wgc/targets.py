"""The windows and monitors one could capture: on Windows the system's, elsewhere the emulated platform's."""

import sys
from typing import NamedTuple


class WindowInfo(NamedTuple):
    """A window one could capture; Session(info) captures it."""
    handle: int
    title: str
    size: tuple  # (width, height) of what the system draws


class MonitorInfo(NamedTuple):
    """A monitor; Session(monitor=info) captures it."""
    index: int  # in the system's order, as corvo-capture --monitor takes it
    handle: int
    position: tuple  # (x, y) of its top-left corner on the desktop
    size: tuple  # (width, height)

    is_monitor = True  # so that Session(info) says to pass it as monitor=


def windows():
    """The top-level windows that are visible, titled, not cloaked and not minimised, in the system's order."""
    if sys.platform == "win32":
        from . import _win32_targets
        return _win32_targets.windows(*_win32_targets.system())
    from . import emulated
    # As on Windows, untitled windows are not offered.
    return [WindowInfo(t.handle, t.title, t.size) for t in emulated.list_targets() if not t.is_monitor and t.title]


def monitors():
    """The monitors, in the system's order."""
    if sys.platform == "win32":
        from . import _win32_targets
        return _win32_targets.monitors(_win32_targets.system()[0])
    from . import emulated
    listed = [t for t in emulated.list_targets() if t.is_monitor]
    return [MonitorInfo(index, t.handle, t.position, t.size) for index, t in enumerate(listed)]
