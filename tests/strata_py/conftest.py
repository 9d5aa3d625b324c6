"""Fixtures for the strata package tests: slides written at test time by the
project's writer (ztx_fixture, `strata synth`), and an independent view of
the same slides through the library's C functions (ctypes)."""
import ctypes
import io
import os
import pathlib
import subprocess

import numpy as np
import pytest
from PIL import Image

OUT = pathlib.Path(os.environ.get('STRATA_OUT', pathlib.Path.cwd()))
FIXTURE_TOOL = os.environ.get('ZTX_FIXTURE', str(OUT / 'ztx_fixture'))
STRATA_TOOL = str(OUT / 'strata')


class Written:
    """A slide made by ztx_fixture and, with --expected, its base pixels."""

    def __init__(self, path, width, height):
        self.path = str(path)
        self.width, self.height = width, height
        base = pathlib.Path(self.path + '.rgb').read_bytes()
        self.rgb = np.frombuffer(base, np.uint8).reshape(height, width, 3)
        images = np.frombuffer(pathlib.Path(self.path + '.img').read_bytes(), np.uint8)
        self.images = images


@pytest.fixture(scope='session')
def folder(tmp_path_factory):
    return tmp_path_factory.mktemp('strata')


@pytest.fixture(scope='session')
def make_slide(folder):
    made = {}

    def make(name, width, height, *options):
        if name not in made:
            path = folder / name
            subprocess.run([FIXTURE_TOOL, str(path), str(width), str(height), *options,
                            '--expected', str(path) + '.rgb', '--images', str(path) + '.img'],
                           check=True)
            made[name] = Written(path, width, height)
        return made[name]
    return make


@pytest.fixture(scope='session')
def bmp_slide(make_slide):
    """1001 x 703 (odd, so halving rounds), BMP tiles and images: exact pixels."""
    return make_slide('bmp.ztx', 1001, 703, '--bmp', '--bmp-images')


@pytest.fixture(scope='session')
def jpeg_slide(make_slide):
    return make_slide('jpeg.ztx', 1000, 700)


@pytest.fixture(scope='session')
def tissue_slides(folder):
    """Two synthetic tissue slides on white glass, made by `strata synth`."""
    paths = []
    for n, (width, height) in enumerate([(1600, 1200), (1200, 1000)]):
        path = folder / ('tissue%d.ztx' % n)
        subprocess.run([STRATA_TOOL, 'synth', str(path), '--width', str(width), '--height',
                        str(height), '--seed', str(n + 3)], check=True, stdout=subprocess.DEVNULL)
        paths.append(str(path))
    return paths


@pytest.fixture(scope='session')
def damaged_slide(bmp_slide, folder):
    """The BMP slide cut off inside its property items."""
    data = pathlib.Path(bmp_slide.path).read_bytes()
    path = folder / 'damaged.ztx'
    path.write_bytes(data[:120])
    return str(path)


class Library:
    """The C interface of libStrata.so, for results to compare against."""

    def __init__(self):
        lib = ctypes.CDLL(str(OUT / 'libStrata.so'))
        handle = ctypes.POINTER(ctypes.c_void_p)
        lib.InitImageFileFunc.argtypes = [ctypes.POINTER(ctypes.c_void_p), ctypes.c_char_p]
        lib.InitImageFileFunc.restype = ctypes.c_bool
        lib.UnInitImageFileFunc.argtypes = [ctypes.POINTER(ctypes.c_void_p)]
        lib.GetHeaderInfoFunc.argtypes = [ctypes.c_void_p] + [ctypes.POINTER(ctypes.c_int)] * 3 + [
            ctypes.POINTER(ctypes.c_float), ctypes.POINTER(ctypes.c_double),
            ctypes.POINTER(ctypes.c_float), ctypes.POINTER(ctypes.c_int)]
        lib.GetHeaderInfoFunc.restype = ctypes.c_bool
        lib.GetImageStreamFunc.argtypes = [handle, ctypes.c_float, ctypes.c_int, ctypes.c_int,
                                           ctypes.POINTER(ctypes.c_int),
                                           ctypes.POINTER(ctypes.c_void_p)]
        lib.GetImageDataRoiFunc.argtypes = [ctypes.c_void_p, ctypes.c_float] + [ctypes.c_int] * 4 + [
            ctypes.POINTER(ctypes.c_void_p), ctypes.POINTER(ctypes.c_int), ctypes.c_bool]
        lib.GetImageDataRoiFunc.restype = ctypes.c_bool
        lib.DeleteImageDataFunc.argtypes = [ctypes.c_void_p]
        self.lib = lib

    def open(self, path):
        handle = ctypes.c_void_p()
        assert self.lib.InitImageFileFunc(ctypes.byref(handle), path.encode())
        return handle

    def close(self, handle):
        self.lib.UnInitImageFileFunc(ctypes.byref(handle))

    def header(self, handle):
        ints = [ctypes.c_int() for _ in range(4)]
        spend, resolution, when = ctypes.c_float(), ctypes.c_float(), ctypes.c_double()
        assert self.lib.GetHeaderInfoFunc(handle, ctypes.byref(ints[0]), ctypes.byref(ints[1]),
                                          ctypes.byref(ints[2]), ctypes.byref(spend),
                                          ctypes.byref(when), ctypes.byref(resolution),
                                          ctypes.byref(ints[3]))
        height, width, scale, block = (i.value for i in ints)
        return dict(width=width, height=height, scale=scale, block=block)

    def tile(self, handle, scale, x, y):
        """A stored tile decoded by PIL, or None."""
        length = ctypes.c_int()
        none = ctypes.c_void_p()
        self.lib.GetImageStreamFunc(ctypes.byref(handle), scale, x, y, ctypes.byref(length),
                                    ctypes.byref(none))
        if length.value <= 0:
            return None
        buffer = ctypes.create_string_buffer(length.value)
        pointer = ctypes.c_void_p(ctypes.addressof(buffer))
        self.lib.GetImageStreamFunc(ctypes.byref(handle), scale, x, y, ctypes.byref(length),
                                    ctypes.byref(pointer))
        return np.asarray(Image.open(io.BytesIO(buffer.raw)).convert('RGB'))

    def region(self, handle, scale, x, y, w, h):
        out, length = ctypes.c_void_p(), ctypes.c_int()
        if not self.lib.GetImageDataRoiFunc(handle, scale, x, y, w, h, ctypes.byref(out),
                                            ctypes.byref(length), False):
            return None
        pixels = np.frombuffer(ctypes.string_at(out, length.value), np.uint8).reshape(h, w, 3)
        self.lib.DeleteImageDataFunc(out)
        return pixels.copy()


@pytest.fixture(scope='session')
def library():
    return Library()


def level_from_tiles(library, path, scale, width, height, tile=256):
    """A whole level assembled from its stored tiles, as RGBA (alpha 255
    inside the level, zero outside the stored tiles)."""
    handle = library.open(path)
    try:
        canvas = np.zeros((-(-height // tile) * tile, -(-width // tile) * tile, 4), np.uint8)
        for y in range(0, height, tile):
            for x in range(0, width, tile):
                pixels = library.tile(handle, scale, x, y)
                if pixels is not None:
                    h, w = pixels.shape[:2]
                    canvas[y:y + h, x:x + w, :3] = pixels
                    canvas[y:y + h, x:x + w, 3] = 255
        return canvas[:height, :width]
    finally:
        library.close(handle)
