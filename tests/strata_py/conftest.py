"""Fixtures for the strata package tests: slides written at test time by the
project's writers (ztx_fixture, tiff_fixture, `strata synth`), slides served
by the stand-in libraries, a loopback HTTP server, and an independent view of
ZTX slides through the library's C functions (ctypes)."""
import contextlib
import ctypes
import http.server
import io
import os
import pathlib
import re
import subprocess
import threading

import numpy as np
import pytest
from PIL import Image

OUT = pathlib.Path(os.environ.get('STRATA_OUT', pathlib.Path.cwd()))
FIXTURE_TOOL = os.environ.get('ZTX_FIXTURE', str(OUT / 'ztx_fixture'))
TIFF_TOOL = os.environ.get('TIFF_FIXTURE', str(OUT / 'tiff_fixture'))
STRATA_TOOL = str(OUT / 'strata')
OPENSLIDE_STANDIN = os.environ.get('STRATA_OPENSLIDE_STANDIN', str(OUT / 'libopenslide_standin.so'))
STANDIN_DIR = pathlib.Path(os.environ.get('STRATA_STANDIN_DIR',
                                          OUT.parent / 'tests' / 'standins' / 'lib'))

# The bridges and the TMAP SDK are the stand-ins wherever a test meets them.
for _variable, _file in (('STRATA_DMX_BRIDGE', 'libDmxBridge.so'),
                         ('STRATA_MOX_BRIDGE', 'libMoxBridge.so'),
                         ('STRATA_IVIEWER_SDK', 'libiViewerSDK.so')):
    os.environ.setdefault(_variable, str(STANDIN_DIR / _file))


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


@pytest.fixture(scope='session')
def make_tiff(folder):
    """tiff_fixture KIND NAME W H [options]: an SVS, NDPI or plain tiled TIFF."""
    made = {}

    def make(kind, name, width, height, *options):
        if name not in made:
            path = folder / name
            subprocess.run([TIFF_TOOL, kind, str(path), str(width), str(height), *options],
                           check=True)
            made[name] = str(path)
        return made[name]
    return make


class RangeHandler(http.server.BaseHTTPRequestHandler):
    """Files of one folder with range requests, as a slide server answers."""
    folder = None

    def do_GET(self):
        path = os.path.join(self.folder, os.path.basename(self.path))
        if not os.path.isfile(path):
            self.send_error(404)
            return
        size = os.path.getsize(path)
        match = re.fullmatch(r'bytes=(\d+)-(\d*)', self.headers.get('Range', ''))
        first = int(match.group(1)) if match else 0
        last = min(int(match.group(2)), size - 1) if match and match.group(2) else size - 1
        if first >= size:
            self.send_response(416)
            self.send_header('Content-Range', 'bytes */%d' % size)
            self.end_headers()
            return
        with open(path, 'rb') as f:
            f.seek(first)
            body = f.read(last - first + 1)
        self.send_response(206 if match else 200)
        self.send_header('Content-Length', str(len(body)))
        self.send_header('Content-Range', 'bytes %d-%d/%d' % (first, last, size))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


@pytest.fixture(scope='session')
def http_base(folder):
    """http://127.0.0.1:PORT/ serving the session's folder, for this session only."""
    RangeHandler.folder = str(folder)
    server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), RangeHandler)
    server.timeout = 5
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    yield 'http://127.0.0.1:%d/' % server.server_port
    server.shutdown()
    server.server_close()


class OpenSlideStandIn:
    """The scripted stand-in for the OpenSlide library (tests/standins): a
    slide opened under `script` reads from it; other slides are unaffected."""

    def __init__(self, folder):
        self.folder = folder
        self.module = ctypes.CDLL(OPENSLIDE_STANDIN)

    @contextlib.contextmanager
    def scripted(self, script):
        """Slides opened inside get `script` (the stand-in's own lines)."""
        self.module.openslide_standin_script(script.encode())
        previous = os.environ.get('STRATA_OPENSLIDE_LIBRARY')
        os.environ['STRATA_OPENSLIDE_LIBRARY'] = OPENSLIDE_STANDIN
        try:
            yield
        finally:
            if previous is None:
                del os.environ['STRATA_OPENSLIDE_LIBRARY']
            else:
                os.environ['STRATA_OPENSLIDE_LIBRARY'] = previous

    def path(self, name):
        """An empty file of that name: the stand-in reads nothing, but a slide
        path must name a file."""
        path = self.folder / name
        path.touch()
        return str(path)

    def last_read(self):
        """(x, y, level, w, h) of the last region read through the stand-in."""
        values = (ctypes.c_int64 * 5)()
        self.module.openslide_standin_last_read(values)
        return tuple(values)


@pytest.fixture(scope='session')
def openslide_standin(folder):
    return OpenSlideStandIn(folder)


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
