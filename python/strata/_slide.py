"""Slide: one open whole-slide image."""
import collections.abc
import io
import math
import os

import numpy as np
from PIL import Image

from strata import _properties
from strata import _strata
from strata._strata import SlideError

_ASSOCIATED = ('label', 'preview', 'thumbnail')
# The name other readers give the preview of the whole glass.
_ALIASES = {'macro': 'preview'}


def _unpadded_bmp(stream):
    """The 24-bit BMP streams of ZTX slides leave out the row padding that
    other decoders insist on; read those directly (None when it is not one)."""
    if len(stream) < 54 or stream[:2] != b'BM':
        return None
    offset = int.from_bytes(stream[10:14], 'little')
    width = int.from_bytes(stream[18:22], 'little', signed=True)
    height = int.from_bytes(stream[22:26], 'little', signed=True)
    bits = int.from_bytes(stream[28:30], 'little')
    rows = abs(height)
    if bits != 24 or width <= 0 or rows == 0 or len(stream) < offset + width * rows * 3:
        return None
    pixels = np.frombuffer(stream, np.uint8, width * rows * 3, offset).reshape(rows, width, 3)
    if height > 0:
        pixels = pixels[::-1]
    return Image.fromarray(np.ascontiguousarray(pixels[:, :, ::-1]), 'RGB')


def open_slide(path):
    """Opens a slide by local path or http:// URL; raises SlideError when it
    cannot be opened."""
    return Slide(path)


# Coordinates beyond this are no pixel of any slide and would not fit the
# library's integers.
_LIMIT = 2 ** 40


def _whole(name, value):
    if isinstance(value, bool) or not isinstance(value, (int, np.integer)):
        raise ValueError('%s must be an integer, not %r' % (name, value))
    if not -_LIMIT <= value <= _LIMIT:
        raise ValueError('%s is out of range: %d' % (name, value))
    return int(value)


def _within_budget(width, height, channels):
    if width * height * channels > _strata.READ_BUDGET_BYTES:
        raise SlideError('a %d x %d read is over the memory budget of %d MiB'
                         % (width, height, _strata.READ_BUDGET_BYTES >> 20))


def _pair(name, value):
    try:
        first, second = value
    except (TypeError, ValueError):
        raise ValueError('%s must be a pair of integers, not %r' % (name, value)) from None
    return _whole(name, first), _whole(name, second)


class _AssociatedImages(collections.abc.Mapping):
    """Label, preview (also reachable as "macro") and thumbnail, read and
    decoded on first access."""

    def __init__(self, slide):
        self._slide = slide
        self._decoded = {}
        self._present = None

    def _names(self):
        if self._present is None:
            self._present = tuple(n for n in _ASSOCIATED if self._stream(n))
        return self._present

    def _stream(self, name):
        return self._slide._live().associated_image(name)

    def __getitem__(self, name):
        name = _ALIASES.get(name, name)
        if name not in _ASSOCIATED:
            raise KeyError(name)
        if name not in self._decoded:
            stream = self._stream(name)
            if not stream:
                raise KeyError(name)
            try:
                image = Image.open(io.BytesIO(stream))
                image.load()
            except Exception as e:
                image = _unpadded_bmp(stream)
                if image is None:
                    raise SlideError('the %s of %s does not decode: %s'
                                     % (name, self._slide._path, e)) from None
            self._decoded[name] = image.convert('RGB')
        return self._decoded[name]

    def __iter__(self):
        return iter(self._names())

    def __len__(self):
        return len(self._names())


class Slide:
    """An open slide. Reads release the interpreter lock and may run from many
    threads at once; results are fresh arrays or images owned by Python.
    A Slide pickles as its path and reopens on the other side."""

    def __init__(self, path):
        if isinstance(path, os.PathLike):
            path = os.fspath(path)
        if not isinstance(path, str):
            raise ValueError('a slide path must be a string, not %r' % (path,))
        if not path:
            raise ValueError('the slide path is empty')
        if path.lower().startswith('https://'):
            # The library's byte-range reader takes over only for "http://".
            raise SlideError('cannot open %s: the library reads URLs over http:// only' % path)
        if '://' not in path and not os.path.exists(path):
            raise SlideError('cannot open %s: no such file' % path)
        self._path = path
        self._native = _strata.Slide(path)
        facts = self._native.facts
        self._facts = facts
        scan_scale = float(facts['scan_scale'])
        self._levels = tuple(self._native.levels)
        self._downsamples = tuple(scan_scale / level[0] for level in self._levels)
        self._associated = _AssociatedImages(self)
        self._properties = None

    # Lifetime -------------------------------------------------------------

    def close(self):
        """Closes the slide; later calls raise SlideError. Closing twice is fine."""
        self._native.close()

    @property
    def closed(self):
        return self._native.closed

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def __repr__(self):
        return 'strata.Slide(%r%s)' % (self._path, ', closed' if self.closed else '')

    def __reduce__(self):
        return (Slide, (self._path,))

    def _live(self):
        if self._native.closed:
            raise SlideError('the slide %s is closed' % self._path)
        return self._native

    # Facts ----------------------------------------------------------------

    @property
    def path(self):
        return self._path

    @property
    def dimensions(self):
        """(width, height) of level 0."""
        return self.level_dimensions[0]

    @property
    def level_count(self):
        self._live()
        return len(self._levels)

    @property
    def level_dimensions(self):
        """((width, height), ...) of the stored levels, largest first."""
        self._live()
        return tuple((level[1], level[2]) for level in self._levels)

    @property
    def level_downsamples(self):
        """Downsample of each stored level against level 0 (2.0, 4.0, ...)."""
        self._live()
        return self._downsamples

    @property
    def level_scales(self):
        """Magnification of each stored level (the scan scale at level 0)."""
        self._live()
        return tuple(level[0] for level in self._levels)

    @property
    def level_tile_sizes(self):
        """(width, height) of the stored tiles of each level."""
        self._live()
        return tuple((level[3], level[4]) for level in self._levels)

    @property
    def scan_scale(self):
        self._live()
        return float(self._facts['scan_scale'])

    @property
    def properties(self):
        """Read-only mapping of text properties; keys in strata._properties."""
        live = self._live()
        if self._properties is None:
            levels = [(l[1], l[2], d, l[3], l[4]) for l, d in zip(self._levels, self._downsamples)]
            self._properties = _properties.build(self._path, self._facts, levels, live.items())
        return self._properties

    @property
    def associated_images(self):
        """Lazy mapping of the associated images present: label, preview,
        thumbnail (PIL RGB images)."""
        self._live()
        return self._associated

    def get_best_level_for_downsample(self, downsample):
        """The level with the largest downsample not above `downsample`."""
        self._live()
        downsample = float(downsample)
        if math.isnan(downsample):
            raise ValueError('downsample must be a number')
        best = 0
        for level, level_downsample in enumerate(self._downsamples):
            if level_downsample <= downsample * (1 + 1e-9):
                best = level
        return best

    # Pixels -----------------------------------------------------------------

    def _level(self, level):
        level = _whole('level', level)
        if not 0 <= level < len(self._levels):
            raise ValueError('level %d is out of range 0..%d' % (level, len(self._levels) - 1))
        return level

    def read_region(self, location, level, size, as_array=False):
        """RGBA pixels of a region: `location` (x, y) in level-0 pixels, `size`
        (w, h) in pixels of `level`. Outside the slide is transparent. A PIL
        RGBA image, or with as_array=True an (h, w, 4) uint8 array."""
        live = self._live()
        x, y = _pair('location', location)
        w, h = _pair('size', size)
        level = self._level(level)
        if w < 0 or h < 0:
            raise ValueError('size must not be negative, got %r' % ((w, h),))
        _within_budget(w, h, 4)
        downsample = self._downsamples[level]
        pixels = live.read_region(level, math.floor(x / downsample),
                                  math.floor(y / downsample), w, h)
        return pixels if as_array else Image.fromarray(pixels, 'RGBA')

    def read_scaled(self, x, y, w, h, scale):
        """(h, w, 3) RGB pixels of the w x h region at (x, y) in the pixel grid
        of magnification `scale` (any positive number; level 0 has the scan
        scale). Read from the nearest stored level; white outside the slide."""
        live = self._live()
        values = [_whole(n, v) for n, v in (('x', x), ('y', y), ('w', w), ('h', h))]
        if any(not -2 ** 31 < v < 2 ** 31 for v in values):
            raise ValueError('x, y, w and h must fit in 32 bits, got %r' % (values,))
        _within_budget(values[2], values[3], 3)
        try:
            scale = float(scale)
        except (TypeError, ValueError):
            raise ValueError('scale must be a number, not %r' % (scale,)) from None
        smallest = self._levels[-1][0]
        if not 0 < scale <= 0.75 * smallest:
            return live.read_scaled(*values, scale)
        return self._read_below_levels(live, values, scale, smallest)

    def _read_below_levels(self, live, values, scale, smallest):
        # The library composes a region from the level below the one asked
        # for when that is nearer, and below the smallest stored level there
        # is nothing: such scales are read at the smallest level and shrunk.
        x, y, w, h = values
        if w <= 0 or h <= 0:
            raise ValueError('width and height must be positive')
        factor = smallest / scale
        left, top = math.floor(x * factor), math.floor(y * factor)
        right, bottom = math.ceil((x + w) * factor), math.ceil((y + h) * factor)
        pixels = live.read_scaled(left, top, right - left, bottom - top, smallest)
        image = Image.fromarray(pixels, 'RGB')
        box = (x * factor - left, y * factor - top, (x + w) * factor - left, (y + h) * factor - top)
        return np.asarray(image.resize((w, h), Image.BILINEAR, box=box, reducing_gap=None))

    def read_tile(self, level, column, row):
        """The stored tile at (column, row) of `level` as (h, w, 3) RGB, or None."""
        column, row = _whole('column', column), _whole('row', row)
        if not (0 <= column < 2 ** 31 and 0 <= row < 2 ** 31):
            raise ValueError('tile column and row must be 0 .. 2^31-1, got %r' % ((column, row),))
        return self._live().read_tile(self._level(level), column, row)

    def get_thumbnail(self, size):
        """An RGB PIL image of the whole slide that fits in `size` (w, h)."""
        self._live()
        max_w, max_h = _pair('size', size)
        if max_w <= 0 or max_h <= 0:
            raise ValueError('thumbnail size must be positive, got %r' % ((max_w, max_h),))
        width, height = self.dimensions
        downsample = max(width / max_w, height / max_h, 1.0)
        w = max(1, min(max_w, round(width / downsample)))
        h = max(1, min(max_h, round(height / downsample)))
        pixels = self.read_scaled(0, 0, w, h, self.scan_scale / downsample)
        return Image.fromarray(pixels, 'RGB')

    # Array views --------------------------------------------------------------

    def zarr_store(self, level=0):
        """A read-only zarr v2 store of `level`: shape (h, w, 3), one chunk per
        stored tile. Picklable; it reopens the slide where it is used."""
        from strata._zarr_store import SlideStore
        self._live()
        return SlideStore(self._path, self._level(level))

    def to_dask(self, level=0):
        """A lazy dask array of `level` on top of zarr_store(level)."""
        import dask.array
        import zarr
        array = zarr.open_array(self.zarr_store(level), mode='r')
        return dask.array.from_zarr(array)
