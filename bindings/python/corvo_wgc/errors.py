"""The exceptions of the module. Each carries the library's log lines that explain it, if any."""


class CorvoError(Exception):
    """A call into libcorvo-wgc failed; `log_lines` holds the (level, text) lines the library logged for it."""

    def __init__(self, message, log_lines=()):
        self.log_lines = tuple(log_lines)
        if self.log_lines:
            message = f"{message}: " + "; ".join(text for _, text in self.log_lines)
        super().__init__(message)


class LibraryNotFoundError(CorvoError, OSError):
    """libcorvo-wgc (or, for the emulated platform, libcorvo-emu) could not be loaded."""


class SessionClosedError(CorvoError):
    """The session was closed; nothing can be done with it any more."""


class TargetClosedError(CorvoError):
    """The captured window or monitor went away (for a window: it was destroyed)."""


class StartError(CorvoError):
    """The capture did not start."""


class CaptureStoppedError(CorvoError):
    """The capture ended for a reason other than the target closing, such as a lost device."""


class SwitchRefusedError(CorvoError):
    """The running system cannot apply a switch (cursor capture, hiding the border)."""


class WrongThreadError(CorvoError):
    """No call raises it any more, since any thread may grab; kept so that code which catches it still runs."""
