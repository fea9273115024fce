"""The windows and monitors one could capture: on Windows the system's, elsewhere the emulated platform's."""

import sys

from . import _win32_targets
from .target_info import MonitorInfo, WindowInfo


def windows():
    """The top-level windows that are visible, titled, not cloaked and not minimised, in the system's order."""
    if sys.platform == "win32":
        return _win32_targets.windows(*_win32_targets.system())
    from . import emulated
    # As on Windows, untitled windows are not offered.
    return [WindowInfo(t.handle, t.title, t.size) for t in emulated.list_targets() if not t.is_monitor and t.title]


def monitors():
    """The monitors, in the system's order."""
    if sys.platform == "win32":
        return _win32_targets.monitors(_win32_targets.system()[0])
    from . import emulated
    listed = [t for t in emulated.list_targets() if t.is_monitor]
    return [MonitorInfo(index, t.handle, t.position, t.size) for index, t in enumerate(listed)]
