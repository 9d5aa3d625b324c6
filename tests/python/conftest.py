"""Fixtures for the Python reader tests: slides written at test time by the
ztx_fixture helper (the project's own ZTX writer), with the pixels they hold."""
import json
import os
import pathlib
import subprocess

import numpy as np
import pytest

import ztxReader

FIXTURE_TOOL = os.environ.get('ZTX_FIXTURE', str(pathlib.Path.cwd() / 'ztx_fixture'))
SANITIZED = os.environ.get('ZTX_SANITIZED') == '1'


class Slide:
    """A written slide: its path, size, and for BMP tiles the exact base level
    in the reader's byte order (BGR)."""

    def __init__(self, path, width, height, bmp, options):
        self.path = str(path)
        self.width = width
        self.height = height
        self.bmp = bmp
        self.options = options
        base = pathlib.Path(self.path + '.rgb').read_bytes()
        self.rgb = np.frombuffer(base, np.uint8).reshape(height, width, 3)
        self.bgr = self.rgb[:, :, ::-1]
        self.layout = json.loads(pathlib.Path(self.path + '.json').read_text())
        images = pathlib.Path(self.path + '.img').read_bytes()
        self.images = np.frombuffer(images, np.uint8)

    def region(self, x, y, w, h):
        """The expected w x h region at (x, y), white outside the slide."""
        out = np.full((h, w, 3), 255, np.uint8)
        x0, y0 = max(x, 0), max(y, 0)
        x1, y1 = min(x + w, self.width), min(y + h, self.height)
        if x1 > x0 and y1 > y0:
            out[y0 - y:y1 - y, x0 - x:x1 - x] = self.bgr[y0:y1, x0:x1]
        return out


def write_slide(path, width, height, *options):
    path = pathlib.Path(path)
    subprocess.run([FIXTURE_TOOL, str(path), str(width), str(height), *options,
                    '--expected', str(path) + '.rgb', '--layout', str(path) + '.json',
                    '--images', str(path) + '.img'], check=True)
    return Slide(path, width, height, '--bmp' in options, options)


@pytest.fixture(scope='session')
def slides(tmp_path_factory):
    """Makes a slide once per session for each (name, width, height, options)."""
    made = {}
    folder = tmp_path_factory.mktemp('slides')

    def make(name, width, height, *options):
        key = (name, width, height, options)
        if key not in made:
            made[key] = write_slide(folder / name, width, height, *options)
        return made[key]
    return make


@pytest.fixture(scope='session')
def bmp_slide(slides):
    """1000 x 700, BMP tiles (exact pixels), BMP preview and label."""
    return slides('bmp.ztx', 1000, 700, '--bmp', '--bmp-images')


@pytest.fixture(scope='session')
def jpeg_slide(slides):
    """1000 x 700, JPEG tiles, JPEG preview and label."""
    return slides('jpeg.ztx', 1000, 700)


@pytest.fixture
def reader():
    r = ztxReader.reader()
    yield r
    r.clear()


def read(r, x, y, w, h, scale):
    """ReadRoi shaped as (h, w, 3)."""
    pixels = r.ReadRoi(x, y, w, h, scale)
    assert pixels.dtype == np.uint8 and pixels.ndim == 1
    assert pixels.size == w * h * 3
    return pixels.reshape(h, w, 3)
