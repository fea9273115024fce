"""The records that describe a window or monitor one could capture, whichever system listed it."""

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
