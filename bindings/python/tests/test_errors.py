"""Failures come back as exceptions that say which, with the library's log line."""

import ctypes.util
import os
import shutil
import subprocess
import sys
import threading
import time

import pytest

import corvo_wgc
from corvo_wgc import _library
from corvo_wgc import emulated as emu
from conftest import present_and_grab

PACKAGE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


class TestClosedSession:
    @pytest.mark.parametrize("use", [
        lambda s: s.start(),
        lambda s: s.grab(),
        lambda s: s.grab_texture(),
        lambda s: s.update_ratio(),
        lambda s: s.status,
        lambda s: s.device,
        lambda s: s.enable_cursor(True),
        lambda s: s.show_border(False),
        lambda s: s.set_dirty_rect(True),
        lambda s: s.set_capture_to_texture(True),
    ])
    def test_every_use_after_close_says_the_session_is_closed(self, use):
        session = corvo_wgc.Session(emu.Window(32, 32))
        session.close()
        with pytest.raises(corvo_wgc.SessionClosedError, match="session is closed"):
            use(session)

    def test_closing_twice_and_the_with_block_stop_the_capture_once(self, lines):
        window = emu.Window(32, 32)
        with corvo_wgc.Session(window) as session:
            session.start()
            assert window.capture_property("started") is True
        assert session.closed
        assert window.capture_property("started") is None  # no capture of the window is left
        session.close()
        assert [text for _, text in lines].count("Wgc exit.") == 1


class TestDestroyedWindow:
    def test_grab_says_the_target_closed_and_keeps_saying_it(self):
        window = emu.Window(32, 32)
        with corvo_wgc.Session(window) as session:
            session.start()
            present_and_grab(session, window)
            window.close()
            with pytest.raises(corvo_wgc.TargetClosedError, match="was closed"):
                session.grab()
            assert session.status is False
            with pytest.raises(corvo_wgc.TargetClosedError):
                session.grab()

    def test_a_closing_the_wait_found_is_told_by_the_grab(self):
        window = emu.Window(32, 32)
        with corvo_wgc.Session(window) as session:
            session.start()
            window.close()
            assert session.wait(5) is False
            with pytest.raises(corvo_wgc.TargetClosedError, match="was closed"):
                session.grab()

    def test_starting_on_a_destroyed_window_fails_with_the_log_line(self):
        window = emu.Window(32, 32)
        window.close()
        with corvo_wgc.Session(window) as session:
            with pytest.raises(corvo_wgc.StartError) as raised:
                session.start()
        assert "Failed to call IGraphicsCaptureItemInterop::CreateForWindow, hr:80070057" in str(raised.value)
        assert raised.value.log_lines[-1][0] == corvo_wgc.LogLevel.ERROR


class TestFailures:
    def test_start_failure_carries_the_failing_call_and_its_code(self):
        emu.fail("D3D11CreateDevice", emu.E_OUTOFMEMORY)
        with corvo_wgc.Session(emu.Window(32, 32)) as session:
            with pytest.raises(corvo_wgc.StartError) as raised:
                session.start()
            assert raised.value.log_lines == ((3, "Failed to create d3d11 device,hr:8007000e"),)
            assert session.status is False
            session.start()  # the fault was for one call: a second start works
            assert session.status is True

    def test_lost_device_ends_the_capture_with_its_line(self):
        window = emu.Window(32, 32)
        with corvo_wgc.Session(window) as session:
            session.start()
            present_and_grab(session, window)
            window.present()  # a frame on its way when the device goes
            emu.remove_devices(emu.DXGI_ERROR_DEVICE_HUNG)
            with pytest.raises(corvo_wgc.CaptureStoppedError, match="887a0006"):
                session.grab()

    def test_recover_rebuilds_the_device_and_frames_flow_on_the_adapter_of_the_target(self):
        emu.set_adapters([0x10DE, 0x8086])
        monitor = emu.Monitor(32, 32)
        monitor.set_adapter(1)
        with corvo_wgc.Session(monitor=monitor, adapter="target", recover=True) as session:
            session.start()
            present_and_grab(session, monitor)
            assert session.frame_info().device_generation == 1
            emu.remove_devices(emu.DXGI_ERROR_DEVICE_HUNG)
            monitor.fill(0, 0, 8, 8, emu.bgra(1, 2, 3))
            deadline = time.monotonic() + 5
            while time.monotonic() < deadline:
                monitor.present()
                frame = session.grab()  # the grabs rebuild; the status stays
                if session.frame_info().device_generation == 2:
                    break
            assert session.frame_info().device_generation == 2
            assert tuple(frame[0, 0]) == (1, 2, 3, 255)
        with pytest.raises(ValueError, match="adapter"):
            corvo_wgc.Session(monitor=monitor, adapter="fastest")

    def test_grab_before_start_is_refused_and_any_thread_may_grab(self):
        window = emu.Window(32, 32)
        with corvo_wgc.Session(window) as session:
            with pytest.raises(corvo_wgc.CorvoError, match="not started"):
                session.grab()
            session.start()
            window.present()
            shapes = []
            thread = threading.Thread(target=lambda: shapes.append(session.grab().shape))
            thread.start()
            thread.join()
            assert shapes == [(32, 32, 4)]

    def test_grabs_and_waits_on_other_threads_while_the_session_closes(self):
        window = emu.Window(256, 256)
        session = corvo_wgc.Session(window)
        session.start()
        outcomes = []

        def grab_until_closed(copy):
            try:
                while session.wait(None):
                    session.grab(copy=copy)
                outcomes.append("ended")
            except corvo_wgc.SessionClosedError:
                outcomes.append("closed")

        threads = [threading.Thread(target=grab_until_closed, args=(copy,)) for copy in (True, False, False)]
        for thread in threads:
            thread.start()
        delivered = sum(window.present() for _ in range(20))
        assert until(lambda: getattr(session.frame_info(), "frame_number", 0) == delivered)  # the grabbers took the last one
        assert session.wait(0) is False
        waiter = threading.Thread(target=lambda: outcomes.append(session.wait(None)))
        waiter.start()
        assert until(lambda: len(session._running) == 4)  # the waiter waits beside the grabbers
        session.close()
        for thread in threads + [waiter]:
            thread.join(5)
        assert sorted(outcomes, key=str) == [False, "ended", "ended", "ended"]
        assert window.capture_property("started") is None

    @pytest.mark.parametrize("call", ["close here", "close elsewhere", "textures elsewhere", "grab elsewhere"])
    def test_a_call_on_a_line_of_a_grab_takes_effect_after_the_poll(self, call):
        window = emu.Window(64, 64)
        session = corvo_wgc.Session(window)
        elsewhere = {"close elsewhere": session.close, "grab elsewhere": session.grab,
                     "textures elsewhere": lambda: session.set_capture_to_texture(True)}
        other = threading.Thread(target=elsewhere.get(call))
        waited = []

        def on_line(level, text):
            if "recreate" not in text:
                return
            if call == "close here":
                session.close()
            else:
                other.start()
                other.join(0.2)
                waited.append(other.is_alive())  # it waits for the grab

        corvo_wgc.set_logger(on_line)
        session.start()
        emu.fail("Recreate", emu.E_OUTOFMEMORY)
        window.resize(32, 32)
        window.present()
        if "close" in call:
            with pytest.raises(corvo_wgc.SessionClosedError):
                session.grab()
        else:
            assert session.grab().shape == (32, 32, 4)  # a whole answer of the mode the grab began in
        if call != "close here":
            other.join()
            assert waited == [True]
        if call == "textures elsewhere":
            with pytest.raises(corvo_wgc.CorvoError, match="grab_texture"):
                session.grab()
        session.close()
        assert window.capture_property("started") is None

    def test_targets_are_checked_before_the_library_sees_them(self):
        with pytest.raises(corvo_wgc.CorvoError, match="no monitor"):
            corvo_wgc.Session(monitor=0)
        with pytest.raises(TypeError, match="monitor="):
            corvo_wgc.Session(emu.Monitor(8, 8))
        with pytest.raises(TypeError):
            corvo_wgc.Session()
        with pytest.raises(ValueError):
            emu.Window(0, 10)


def until(condition, seconds=10):
    """Whether the condition came true within the time (a bound on a test that hangs, not a timing)."""
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.001)
    return True


def run_python(code, **environment):
    env = dict(os.environ, PYTHONPATH=PACKAGE_DIR, **environment)
    return subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True)


class TestMissingLibrary:
    PROBE = ("import corvo_wgc\n"
             "try:\n"
             "    corvo_wgc.load({path})\n"
             "except corvo_wgc.LibraryNotFoundError as error:\n"
             "    print(isinstance(error, OSError), error)\n")

    def test_a_wrong_path_is_named(self):
        result = run_python(self.PROBE.format(path="'/nowhere/libcorvo-wgc.so'"))
        assert result.stdout.startswith("True libcorvo-wgc could not be loaded, tried /nowhere/libcorvo-wgc.so")

    def test_without_a_path_the_message_says_where_to_give_one(self):
        result = run_python(self.PROBE.format(path=""), CORVO_WGC_LIBRARY="", LD_LIBRARY_PATH="")
        assert "libcorvo-wgc.so" in result.stdout and "CORVO_WGC_LIBRARY" in result.stdout

    def test_another_library_is_refused_by_its_missing_exports(self):
        emu_path = os.path.join(os.path.dirname(corvo_wgc.load().path), "platform", "emulated", "libcorvo-emu.so")
        if not os.path.exists(emu_path):
            pytest.skip("not run against a build tree")
        result = run_python(self.PROBE.format(path=repr(emu_path)))
        assert "is not libcorvo-wgc: it has no export is_wgc_session_supported" in result.stdout

    def test_a_second_library_in_one_process_is_refused(self):
        with pytest.raises(corvo_wgc.CorvoError, match="already loaded"):
            corvo_wgc.load("/elsewhere/libcorvo-wgc.so")


class TestLibrarySearch:
    @pytest.mark.parametrize("bundled, environment, path, expected", [
        (True, "/env/libcorvo-wgc.so", None, ["bundled", "/env/libcorvo-wgc.so", "libcorvo-wgc.so"]),
        (False, "/env/libcorvo-wgc.so", None, ["/env/libcorvo-wgc.so", "libcorvo-wgc.so"]),
        (True, "", None, ["bundled", "libcorvo-wgc.so"]),
        (False, "", None, ["libcorvo-wgc.so"]),
        (True, "/env/libcorvo-wgc.so", "/given/libcorvo-wgc.so", ["/given/libcorvo-wgc.so"]),
    ])
    def test_bundled_library_first_then_the_environment_then_the_system(self, tmp_path, monkeypatch, bundled,
                                                                         environment, path, expected):
        bundled_file = tmp_path / "libcorvo-wgc.so"
        if bundled:
            bundled_file.write_bytes(b"")
        monkeypatch.setattr(_library, "BUNDLED_LIBRARY", str(bundled_file))
        monkeypatch.setattr(ctypes.util, "find_library", lambda name: None)
        monkeypatch.setenv("CORVO_WGC_LIBRARY", environment)
        assert _library.candidates(path) == [str(bundled_file) if e == "bundled" else e for e in expected]

    PROBE = ("import corvo_wgc\n"
             "from corvo_wgc import emulated as emu\n"
             "window = emu.Window(64, 32)\n"
             "with corvo_wgc.Session(window) as session:\n"
             "    session.start()\n"
             "    window.present()\n"
             "    print(corvo_wgc.load().path, session.grab().shape)\n")

    @pytest.mark.parametrize("bundle", ["library", "garbage"])
    def test_a_package_with_a_bundled_library_loads_it_and_its_emulated_platform(self, tmp_path, bundle):
        built = os.path.realpath(corvo_wgc.load().path)
        package = tmp_path / "corvo_wgc"
        shutil.copytree(os.path.join(PACKAGE_DIR, "corvo_wgc"), package,
                        ignore=shutil.ignore_patterns("__pycache__"))
        if bundle == "library":
            shutil.copy(built, package / "libcorvo-wgc.so")
            environment = "/nowhere/libcorvo-wgc.so"
            expected = str(package / "libcorvo-wgc.so")
        else:  # a bundled file that does not load is passed over for the next candidate
            (package / "libcorvo-wgc.so").write_bytes(b"not a library")
            environment = built
            expected = built
        result = subprocess.run([sys.executable, "-c", self.PROBE], capture_output=True, text=True, cwd=tmp_path,
                                env=dict(os.environ, PYTHONPATH=str(tmp_path), CORVO_WGC_LIBRARY=environment))
        assert result.stdout == f"{expected} (32, 64, 4)\n", result.stderr
