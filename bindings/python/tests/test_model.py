"""Seeded random paints, presents, polls and resizes, checked against a plain model of the window: every frame
handed out is the window's picture, and the update ratio says whether it changed."""

import numpy as np
import pytest

import corvo_wgc
from corvo_wgc import emulated as emu

STEPS = 80


class Model:
    """The window's pixels and the picture the host was handed last."""

    def __init__(self, height, width):
        self.pixels = np.zeros((height, width, 4), dtype=np.uint8)
        self.pixels[..., 3] = 255
        self.handed = None

    def paint(self, x, y, width, height, blue, green, red):
        self.pixels[y:y + height, x:x + width] = (blue, green, red, 255)

    def resize(self, width, height):
        resized = np.zeros((height, width, 4), dtype=np.uint8)
        resized[..., 3] = 255
        keep_h, keep_w = min(height, self.pixels.shape[0]), min(width, self.pixels.shape[1])
        resized[:keep_h, :keep_w] = self.pixels[:keep_h, :keep_w]
        self.pixels = resized


@pytest.mark.parametrize("detection", [True, False], ids=["detection", "no-detection"])
@pytest.mark.parametrize("seed", [1, 2, 3])
def test_random_sequence_matches_the_model(seed, detection):
    rng = np.random.default_rng(seed)
    window = emu.Window(160, 96)
    model = Model(96, 160)
    with corvo_wgc.Session(window) as session:
        session.set_dirty_rect(detection)
        session.start()
        for step in range(STEPS):
            action = rng.choice(["paint", "paint", "present", "present", "poll", "resize"])
            where = f"seed {seed}, step {step}: {action}"
            if action == "paint":
                height, width = model.pixels.shape[:2]
                x, y = int(rng.integers(0, width)), int(rng.integers(0, height))
                w, h = int(rng.integers(1, 48)), int(rng.integers(1, 48))
                colour = [int(c) for c in rng.integers(0, 256, size=3)]
                window.fill(x, y, w, h, emu.bgra(*colour))
                model.paint(x, y, w, h, *colour)
            elif action == "present":
                assert window.present() == 1, where
                frame = session.grab()
                ratio = session.update_ratio()
                np.testing.assert_array_equal(frame, model.pixels, err_msg=where)
                if not detection or model.handed is None:
                    assert ratio == 1.0, where
                elif np.array_equal(model.handed, model.pixels):
                    assert ratio == 0.0, where
                else:
                    assert 0.0 < ratio <= 1.0, where
                model.handed = model.pixels.copy()
            elif action == "poll":
                frame = session.grab()
                assert session.update_ratio() == 0.0, where  # nothing new arrived
                if model.handed is None:
                    assert frame is None, where
                else:
                    np.testing.assert_array_equal(frame, model.handed, err_msg=where)
            else:
                width, height = int(rng.integers(16, 200)), int(rng.integers(16, 120))
                window.resize(width, height)
                model.resize(width, height)
                # The first frame after a resize comes in textures of the old size and makes the pool follow;
                # the model checks from the second one on.
                window.present()
                session.grab()
                assert window.present() == 1, where
                np.testing.assert_array_equal(session.grab(), model.pixels, err_msg=where)
                session.update_ratio()
                model.handed = model.pixels.copy()
