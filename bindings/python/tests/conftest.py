"""Every test runs on a fresh emulated system. The library comes from $CORVO_WGC_LIBRARY (scripts/python-tests.sh
points it at the build) or the installed one."""

import numpy as np
import pytest

import corvo_wgc
from corvo_wgc import emulated as emu


@pytest.fixture(autouse=True)
def fresh_system():
    emu.dispatch_messages()  # the host's loop, which retires the thread's dispatcher queue of earlier tests
    emu.reset()
    corvo_wgc.set_logger(None)
    yield
    corvo_wgc.set_logger(None)
    # A graphics call the Direct3D 11 runtime would refuse fails the test too (stderr says which).
    assert emu.count("validation_errors") == 0


@pytest.fixture
def lines():
    """The library's log lines during the test, as (level, text)."""
    collected = []
    corvo_wgc.set_logger(lambda level, text: collected.append((level, text)))
    return collected


def pattern(height, width, seed=7):
    """Opaque pixels that differ in every channel, so a wrong pitch, offset or channel order shows."""
    pixels = np.random.default_rng(seed).integers(0, 256, size=(height, width, 4), dtype=np.uint8)
    pixels[..., 3] = 255
    return pixels


def present_and_grab(session, target, copy=True):
    assert target.present() == 1
    return session.grab(copy=copy)
