"""The Python logger: every line with its level, replaced and removed, kept alive by the module."""

import gc
import threading

import corvo_wgc
from corvo_wgc import emulated as emu


def test_lines_arrive_with_their_level():
    received = []
    corvo_wgc.set_logger(lambda level, text: received.append((level, text)))
    with corvo_wgc.Session(emu.Window(32, 32)) as session:
        session.set_dirty_rect(True)
        session.set_dirty_rect(False)
    assert received[:2] == [(corvo_wgc.LogLevel.INFO, "Set dirtyRect enable"),
                            (corvo_wgc.LogLevel.INFO, "Set dirtyRect disable")]
    assert all(isinstance(level, corvo_wgc.LogLevel) for level, _ in received)


def test_replacing_and_removing_the_logger():
    first, second = [], []
    corvo_wgc.set_logger(lambda level, text: first.append(text))
    with corvo_wgc.Session(emu.Window(32, 32)) as session:
        session.set_dirty_rect(True)
        corvo_wgc.set_logger(lambda level, text: second.append(text))
        session.set_dirty_rect(False)
        corvo_wgc.set_logger(None)
        session.set_dirty_rect(True)
    assert first == ["Set dirtyRect enable"]
    assert second == ["Set dirtyRect disable"]


def test_the_module_keeps_the_callback_alive():
    received = []

    def install():
        corvo_wgc.set_logger(lambda level, text: received.append(text))  # no other reference to it

    install()
    gc.collect()
    with corvo_wgc.Session(emu.Window(32, 32)) as session:
        session.set_dirty_rect(True)
    assert "Set dirtyRect enable" in received


def test_lines_of_other_threads_reach_the_logger_on_their_thread():
    received = []
    corvo_wgc.set_logger(lambda level, text: received.append((threading.get_ident(), text)))
    window = emu.Window(32, 32)

    def capture():
        with corvo_wgc.Session(window) as session:
            session.start()

    thread = threading.Thread(target=capture)
    thread.start()
    thread.join()
    assert (thread.ident, "Wgc session started.") in received


def test_a_logger_must_be_callable():
    try:
        corvo_wgc.set_logger("not a function")
    except TypeError:
        return
    raise AssertionError("a string was accepted as the logger")
