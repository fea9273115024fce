"""Frames as numpy arrays: pixels, copies and views, sizes, the update ratio and texture mode."""

import pathlib
import re

import numpy as np
import pytest

import corvo_wgc
from corvo_wgc import emulated as emu
from conftest import pattern, present_and_grab


def test_frame_holds_the_windows_bgra_pixels():
    window = emu.Window(100, 37)  # 400-byte rows in textures whose row pitch is padded
    picture = pattern(37, 100)
    window.write(0, 0, picture)
    with corvo_wgc.Session(window) as session:
        session.start()
        assert session.grab() is None  # nothing presented yet
        frame = present_and_grab(session, window)
        assert frame.dtype == np.uint8 and frame.shape == (37, 100, 4)
        np.testing.assert_array_equal(frame, picture)


def test_fill_writes_blue_green_red_alpha_in_that_byte_order():
    window = emu.Window(64, 32)
    window.fill(8, 4, 16, 8, emu.bgra(10, 20, 30, 255))
    with corvo_wgc.Session(window) as session:
        session.start()
        frame = present_and_grab(session, window)
    assert list(frame[4, 8]) == [10, 20, 30, 255]
    assert list(frame[12, 8]) == [0, 0, 0, 255]  # the row below the filled rectangle is still black


def test_8_bit_frames_of_a_window_on_an_hdr_monitor_keep_sdr_content_and_clip_hdr_content():
    emu.Monitor(64, 32)
    emu.Monitor(64, 32).set_hdr(True, 200)
    window = emu.Window(64, 32)
    window.move(40, 0)  # mostly on the second monitor, which is in HDR mode
    window.fill(0, 0, 64, 32, emu.bgra(10, 20, 30, 255))
    window.fill_scrgb(8, 4, 2, 2, 12.5, 5.0, 1.25)  # 1000, 400 and 100 nits
    assert emu.list_targets()[2].position == (40, 0)
    with corvo_wgc.Session(window) as session:
        session.start()
        frame = present_and_grab(session, window)
    assert list(frame[0, 0]) == [10, 20, 30, 255]  # as an SDR monitor shows it
    assert list(frame[4, 8]) == [188, 255, 255, 255]  # scaled to SDR white at 200 nits and clipped


def test_copy_is_the_hosts_own_and_a_view_is_overwritten_by_the_next_frame():
    window = emu.Window(64, 64)
    window.fill(0, 0, 64, 64, emu.bgra(255, 0, 0))
    with corvo_wgc.Session(window) as session:
        session.start()
        copy = present_and_grab(session, window)
        view = session.grab(copy=False)
        assert not view.flags.writeable
        np.testing.assert_array_equal(view, copy)

        window.fill(0, 0, 64, 64, emu.bgra(0, 255, 0))
        present_and_grab(session, window)
        assert list(view[0, 0]) == [0, 255, 0, 255]  # the same buffer, now the new frame
        assert list(copy[0, 0]) == [255, 0, 0, 255]

        # A larger frame moves the library's buffer, and close() frees it (at this size the memory goes back to
        # the system): each view keeps the last frame of its size.
        window.resize(4096, 2160)
        window.fill(0, 0, 4096, 2160, emu.bgra(0, 0, 255))
        present_and_grab(session, window)  # the old pool's size, the top-left of the new picture
        large = present_and_grab(session, window, copy=False)
    assert large.shape == (2160, 4096, 4) and list(large[-1, -1]) == [0, 0, 255, 255]
    assert view.shape == (64, 64, 4) and list(view[0, 0]) == [0, 0, 255, 255]


def test_a_resized_window_is_handed_out_at_its_new_size():
    window = emu.Window(200, 100)
    with corvo_wgc.Session(window) as session:
        session.start()
        present_and_grab(session, window)
        window.resize(120, 60)
        picture = pattern(60, 120)
        window.write(0, 0, picture)
        frame = present_and_grab(session, window)
        assert frame.shape == (60, 120, 4)
        np.testing.assert_array_equal(frame, picture)


def test_monitor_session_captures_the_monitor():
    monitor = emu.Monitor(96, 64)
    picture = pattern(64, 96, seed=3)
    monitor.write(0, 0, picture)
    with corvo_wgc.Session(monitor=monitor) as session:
        session.start()
        np.testing.assert_array_equal(present_and_grab(session, monitor), picture)


def test_write_clips_to_the_target_and_rejects_other_arrays():
    window = emu.Window(32, 32)
    window.write(24, 24, pattern(16, 16))  # only its top-left 8 x 8 lands
    with corvo_wgc.Session(window) as session:
        session.start()
        frame = present_and_grab(session, window)
    np.testing.assert_array_equal(frame[24:, 24:], pattern(16, 16)[:8, :8])
    with pytest.raises(ValueError):
        window.write(0, 0, np.zeros((4, 4, 3), dtype=np.uint8))
    with pytest.raises(ValueError):
        window.write(0, 0, np.zeros((4, 4, 4), dtype=np.float32))


def srgb_decode(levels):
    """8-bit sRGB levels as linear values, white at 1.0."""
    c = np.asarray(levels, np.float64) / 255
    return np.where(c <= 0.04045, c / 12.92, ((c + 0.055) / 1.055) ** 2.4)


def srgb_encode(linear):
    """Linear values clipped to [0, 1] as 8-bit sRGB levels, rounded as Direct3D rounds (x * 255 + 0.5 cut)."""
    c = np.clip(np.asarray(linear, np.float64), 0, 1)
    c = np.where(c <= 0.0031308, c * 12.92, 1.055 * c ** (1 / 2.4) - 0.055)
    return np.floor(c * 255 + 0.5).astype(np.uint8)


GREY_HIGHLIGHT = (12.5, 12.5, 12.5)  # scRGB, 1000 nits
COLOURED_HIGHLIGHT = (12.5, 5.0, 1.25)


@pytest.mark.parametrize("pixel_format", [corvo_wgc.FORMAT_BGRA8, corvo_wgc.FORMAT_SDR_FROM_HDR, 2])
@pytest.mark.parametrize("hdr, white", [(True, 200), (False, 80)])
def test_each_pixel_format_of_a_window_on_a_monitor(pixel_format, hdr, white):
    monitor = emu.Monitor(64, 48)
    monitor.set_hdr(hdr, white)
    window = emu.Window(64, 48)  # at (0, 0): shown on that monitor
    picture = pattern(48, 64)
    window.write(0, 0, picture)
    window.fill_scrgb(0, 0, 8, 8, *GREY_HIGHLIGHT)
    window.fill_scrgb(8, 0, 8, 8, *COLOURED_HIGHLIGHT)
    with corvo_wgc.Session(window) as session:
        session.set_pixel_format(pixel_format)
        session.start()
        frame = present_and_grab(session, window)
        info = session.frame_info()
    assert (info.hdr, info.sdr_white_nits) == (hdr, white)
    sdr, grey, coloured = frame[8:], frame[0:8, 0:8], frame[0:8, 8:16]
    if pixel_format == corvo_wgc.FORMAT_FP16:
        assert (frame.dtype, frame.shape, info.bytes_per_pixel, info.dxgi_format) == (np.float16, (48, 64, 4), 8, 10)
        # R, G, B, A halves: SDR content decoded and scaled to the white; HDR content as painted, clipped to SDR
        # white on an SDR monitor. Windows truncates to FP16: within one FP16 step.
        np.testing.assert_allclose(sdr[..., :3], srgb_decode(picture[8:, :, 2::-1]) * white / 80, rtol=2 ** -10)
        assert np.all(sdr[..., 3] == 1)
        highlight = np.array(COLOURED_HIGHLIGHT) if hdr else np.ones(3)
        np.testing.assert_array_equal(coloured[..., :3], np.broadcast_to(highlight, (8, 8, 3)))
        return
    assert (frame.dtype, frame.shape, info.bytes_per_pixel, info.dxgi_format) == (np.uint8, (48, 64, 4), 4, 87)
    # SDR content as an SDR display shows it; greys brighter than SDR white are white.
    assert np.abs(sdr.astype(int) - picture[8:]).max() <= 1
    assert np.all(grey == 255)
    clipped = srgb_encode(np.array(COLOURED_HIGHLIGHT) * 80 / white)[::-1]  # B, G, R: (188, 255, 255) at 200 nits
    if hdr and pixel_format == corvo_wgc.FORMAT_SDR_FROM_HDR:
        # Rolled off across the channels: red stays the largest, then green, then blue.
        blue, green, red = coloured[..., 0], coloured[..., 1], coloured[..., 2]
        assert np.all(red == 255) and np.all(green < red) and np.all(blue < green)
    else:
        np.testing.assert_array_equal(coloured[..., :3], np.broadcast_to(clipped, (8, 8, 3)))


def test_a_pixel_format_set_while_capturing_changes_the_arrays():
    window = emu.Window(32, 32)
    with corvo_wgc.Session(window) as session:
        session.start()
        view = present_and_grab(session, window, copy=False)
        session.set_pixel_format(corvo_wgc.FORMAT_FP16)
        assert window.present() == 1
        session.grab()  # one frame of the old pool may come first
        window.fill(0, 0, 32, 32, emu.bgra(255, 255, 255))
        half = present_and_grab(session, window, copy=False)
        assert half.dtype == np.float16 and half.shape == (32, 32, 4) and np.all(half == 1)
        assert view.dtype == np.uint8 and list(view[0, 0]) == [0, 0, 0, 255]  # the view of the last 8-bit frame
        for unknown in (3, -1, True, "fp16", 1.5):
            with pytest.raises(ValueError):
                session.set_pixel_format(unknown)
        assert session.frame_info().bytes_per_pixel == 8  # unchanged


class TestUpdateRatio:
    def test_first_frame_is_whole_and_reading_resets(self):
        window = emu.Window(64, 64)
        with corvo_wgc.Session(window) as session:
            session.set_dirty_rect(True)
            session.start()
            present_and_grab(session, window)
            assert session.update_ratio() == 1.0
            assert session.update_ratio() == 0.0

    def test_unchanged_frame_is_zero_and_one_cell_is_its_share(self):
        window = emu.Window(256, 128)  # 8 x 4 cells of 32 x 32
        with corvo_wgc.Session(window) as session:
            session.set_dirty_rect(True)
            session.start()
            present_and_grab(session, window)
            session.update_ratio()

            present_and_grab(session, window)
            assert session.update_ratio() == 0.0

            window.fill(40, 40, 1, 1, emu.bgra(1, 1, 1))  # inside the cell at column 1, row 1
            frame = present_and_grab(session, window)
            assert session.update_ratio() == pytest.approx(1 / 32)
            assert list(frame[40, 40]) == [1, 1, 1, 255]

    def test_without_detection_every_new_frame_is_whole(self):
        window = emu.Window(64, 64)
        with corvo_wgc.Session(window) as session:
            session.start()
            for _ in range(2):
                present_and_grab(session, window)
                assert session.update_ratio() == 1.0


class TestTextureMode:
    def test_the_hosts_reference_keeps_the_texture_until_released(self):
        before = emu.count("live_objects")
        window = emu.Window(64, 32)
        session = corvo_wgc.Session(window)
        session.set_capture_to_texture(True)
        session.start()
        assert session.grab_texture() is None
        window.present()
        texture = session.grab_texture()
        assert (texture.width, texture.height) == (64, 32)
        session.close()
        assert emu.count("live_objects") > before  # the host's reference
        with texture:
            pass
        assert texture.pointer is None
        emu.dispatch_messages()  # the host's loop, which retires the thread's dispatcher queue
        assert emu.count("live_objects") == before

    def test_each_mode_has_its_own_grab(self):
        window = emu.Window(32, 32)
        with corvo_wgc.Session(window) as session:
            session.start()
            with pytest.raises(corvo_wgc.CorvoError, match="grab\\(\\)"):
                session.grab_texture()
            session.set_capture_to_texture(True)
            with pytest.raises(corvo_wgc.CorvoError, match="grab_texture"):
                session.grab()


def test_dirty_rects_tell_where_the_grabbed_frame_changed():
    window = emu.Window(100, 70)
    with corvo_wgc.Session(window) as session:
        session.set_dirty_rect(True)
        session.start()
        present_and_grab(session, window)
        assert session.dirty_rects() is None  # the first frame is all new
        window.fill(99, 69, 1, 1, emu.bgra(255, 255, 255))
        window.fill(5, 5, 2, 2, emu.bgra(255, 255, 255))
        present_and_grab(session, window)
        assert session.dirty_rects() == [(0, 0, 32, 32), (96, 64, 100, 70)]
        present_and_grab(session, window)
        assert session.dirty_rects() == []


def test_a_region_and_a_client_area_are_grabbed_alone_and_dirty_rects_are_the_regions():
    window = emu.Window(120, 90)
    window.set_frame(4, 24, 5, 6)
    picture = pattern(90, 120)
    window.write(0, 0, picture)
    with corvo_wgc.Session(window, region=(10, 5, 50, 30)) as session:
        session.set_dirty_rect(True)
        session.start()
        np.testing.assert_array_equal(present_and_grab(session, window), picture[5:30, 10:50])
        window.fill(45, 29, 1, 1, emu.bgra(1, 2, 3))  # region (35, 24)
        window.fill(0, 0, 5, 5, emu.bgra(1, 2, 3))  # outside it
        present_and_grab(session, window)
        assert session.dirty_rects() == [(32, 0, 40, 25)]
        session.set_region(None)
        session.set_client_area(True)
        picture[29, 45] = (1, 2, 3, 255)
        np.testing.assert_array_equal(present_and_grab(session, window), picture[24:84, 4:115])
        with pytest.raises(ValueError):
            session.set_region((5, 5, 5, 10))
        with pytest.raises(ValueError):
            session.set_region((0, 0, 2**32 + 10, 10))  # not cut to 32 bits, a region (0, 0, 10, 10)
        with pytest.raises(TypeError):
            session.set_region((1, 2, 3))
    with pytest.raises(corvo_wgc.SwitchRefusedError):
        corvo_wgc.Session(monitor=emu.Monitor(64, 48), client_area=True)


def test_min_update_interval_reaches_the_capture_session_or_is_refused():
    window = emu.Window(32, 32)
    with corvo_wgc.Session(window) as session:
        session.start()
        session.set_min_update_interval(0.008)
        assert window.capture_property("MinUpdateInterval") == 8000
        with pytest.raises(ValueError):
            session.set_min_update_interval(-1)
    emu.set_property("MinUpdateInterval", False)
    with corvo_wgc.Session(window) as session:
        with pytest.raises(corvo_wgc.SwitchRefusedError, match="min update interval"):
            session.set_min_update_interval(0.008)


def test_frame_info_numbers_frames_and_tells_a_repeated_one():
    window = emu.Window(48, 32)
    with corvo_wgc.Session(window) as session:
        session.start()
        assert session.frame_info() is None
        window.present()
        window.present()
        assert session.wait(10)
        session.grab()
        info = session.frame_info()
        assert info.is_new and info.frame_number == 2 and info.content_size == (48, 32) and info.system_time > 0
        session.grab()
        again = session.frame_info()
        assert not again.is_new and again.frame_number == 2 and again.system_time == info.system_time
        assert not session.wait(0.01)  # nothing new
        assert session.last_error == 0
    with pytest.raises(ValueError):
        corvo_wgc.Session(window).wait(float("nan"))


def test_version_is_the_packages():
    # The package carries the project's version (the wheel is not built otherwise): the library's must be it.
    pyproject = (pathlib.Path(__file__).parents[1] / "pyproject.toml").read_text()
    assert corvo_wgc.version == re.search(r'^version = "(.+)"$', pyproject, re.MULTILINE).group(1)

