"""Cursor and border switches: applied to the capture where the system offers them, refused with the library's
line where it does not."""

import pytest

import corvo_wgc
from corvo_wgc import emulated as emu


def test_switches_set_before_start_reach_the_capture():
    window = emu.Window(32, 32)
    with corvo_wgc.Session(window) as session:
        session.enable_cursor(True)
        session.show_border(False)
        session.start()
        assert window.capture_property("IsCursorCaptureEnabled") is True
        assert window.capture_property("IsBorderRequired") is False


def test_switches_change_a_running_capture():
    window = emu.Window(32, 32)
    with corvo_wgc.Session(window) as session:
        session.start()
        session.enable_cursor(True)
        assert window.capture_property("IsCursorCaptureEnabled") is True
        session.enable_cursor(False)
        assert window.capture_property("IsCursorCaptureEnabled") is False


@pytest.mark.parametrize("property, switch, line", [
    ("IsCursorCaptureEnabled", lambda s: s.enable_cursor(True), "Failed to enable cursor"),
    ("IsBorderRequired", lambda s: s.show_border(False), "Failed to  hide border"),
])
def test_a_switch_the_system_lacks_is_refused_with_the_warning(property, switch, line):
    emu.set_property(property, False)
    with corvo_wgc.Session(emu.Window(32, 32)) as session:
        with pytest.raises(corvo_wgc.SwitchRefusedError) as raised:
            switch(session)
    assert raised.value.log_lines == ((corvo_wgc.LogLevel.WARNING, line),)


def test_turning_a_missing_switch_off_is_no_error():
    emu.set_property("IsCursorCaptureEnabled", False)
    with corvo_wgc.Session(emu.Window(32, 32)) as session:
        session.enable_cursor(False)
        session.show_border(True)
