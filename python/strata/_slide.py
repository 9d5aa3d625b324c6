"""Slide: one open whole-slide image."""
import collections.abc
import errno
import math
import os

import numpy as np
from PIL import Image

from strata import _properties
from strata import _strata
from strata._strata import SlideError

# Strata calls the picture of the whole glass the preview; the library, as
# the field's readers do, the macro. Both names reach it.
_ALIASES = {'macro': 'preview'}
_LIBRARY_NAMES = {'preview': 'macro'}


def open_slide(path):
    """Opens a slide by local path or http:// URL. Raises FileNotFoundError
    for a missing file, UnsupportedFormatError (a SlideError) for a file that
    is no slide, SlideError with the reason for a damaged one."""
    return Slide(path)


def _path_text(path):
    """A slide path as text: str, bytes (file system encoding) or PathLike."""
    if isinstance(path, os.PathLike):
        path = os.fspath(path)
    if isinstance(path, bytes):
        path = os.fsdecode(path)
    if not isinstance(path, str):
        raise ValueError('a slide path must be a string, bytes or path, not %r' % (path,))
    if not path:
        raise ValueError('the slide path is empty')
    return path


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
    """The associated images the slide has ("label", "preview" (also reachable
    as "macro"), "thumbnail", and whatever else its format names), read and
    decoded on first access."""

    def __init__(self, slide):
        self._slide = slide
        self._decoded = {}
        self._names = tuple(_ALIASES.get(n, n) for n in slide._native.associated_image_names)

    def __getitem__(self, name):
        name = _ALIASES.get(name, name)
        if name not in self._names:
            raise KeyError(name)
        if name not in self._decoded:
            pixels = self._slide._live().associated_image(_LIBRARY_NAMES.get(name, name))
            self._decoded[name] = Image.fromarray(pixels, 'RGB')
        return self._decoded[name]

    def __iter__(self):
        return iter(self._names)

    def __len__(self):
        return len(self._names)


class Slide:
    """An open slide. Reads release the interpreter lock and may run from many
    threads at once; results are fresh arrays or images owned by Python.
    A Slide pickles as its path and reopens on the other side."""

    def __init__(self, path):
        path = _path_text(path)
        if '://' not in path and not os.path.exists(path):
            raise FileNotFoundError(errno.ENOENT, 'no such file', path)
        self._path = path
        # Local names go as the bytes the system knows them by.
        self._native = _strata.Slide(path if '://' in path else os.fsencode(path))
        self._facts = self._native.facts
        self._levels = tuple(self._native.levels)
        self._scan_scale = self._facts['objective_power'] or 1.0
        self._downsamples = tuple(level[2] for level in self._levels)
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
        return tuple((level[0], level[1]) for level in self._levels)

    @property
    def level_downsamples(self):
        """Downsample of each stored level against level 0 (2.0, 4.0, ...)."""
        self._live()
        return self._downsamples

    @property
    def level_scales(self):
        """Magnification of each stored level (the scan scale at level 0)."""
        self._live()
        return tuple(self._scan_scale / d for d in self._downsamples)

    @property
    def level_tile_sizes(self):
        """(width, height) of the stored tiles of each level; (0, 0) for a
        level the format reads as a whole."""
        self._live()
        return tuple((level[3], level[4]) for level in self._levels)

    @property
    def scan_scale(self):
        """The objective power of level 0; 1.0 when the slide records none."""
        self._live()
        return float(self._scan_scale)

    @property
    def color_profile_bytes(self):
        """The slide's ICC profile as bytes, or None."""
        return self._live().icc_profile

    @property
    def properties(self):
        """Read-only mapping of text properties; keys in strata._properties."""
        live = self._live()
        if self._properties is None:
            self._properties = _properties.build(self._facts, self._levels, live.properties, live)
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
        if w == 0 or h == 0:
            pixels = np.zeros((h, w, 4), np.uint8)
            return pixels if as_array else Image.new('RGBA', (w, h))
        pixels = live.read_region(level, x, y, w, h)
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
        smallest = self._scan_scale / self._downsamples[-1]
        if not 0 < scale <= 0.75 * smallest:
            return live.read_scaled(scale, *values)
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
        pixels = live.read_scaled(smallest, left, top, right - left, bottom - top)
        image = Image.fromarray(pixels, 'RGB')
        box = (x * factor - left, y * factor - top, (x + w) * factor - left, (y + h) * factor - top)
        return np.asarray(image.resize((w, h), Image.BILINEAR, box=box, reducing_gap=None))

    def read_tile(self, level, column, row):
        """The tile at (column, row) of `level` as (h, w, 3) RGB, or None where
        the slide has none. Tiles at the level's right and bottom edges end
        there (the padding a format stores beyond is left out)."""
        column, row = _whole('column', column), _whole('row', row)
        if not (0 <= column < 2 ** 31 and 0 <= row < 2 ** 31):
            raise ValueError('tile column and row must be 0 .. 2^31-1, got %r' % ((column, row),))
        level = self._level(level)
        tile = self._live().read_tile(level, column, row)
        width, height, _, tile_width, tile_height = self._levels[level]
        if tile is None or tile_width <= 0:
            return tile
        return tile[:max(0, height - row * tile_height), :max(0, width - column * tile_width)]

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
