"""The Python interface of OpenSlide (openslide-python), over Strata: a
script written for it runs unchanged on every format Strata opens (ZTX, also
over http://, and everything OpenSlide reads) once it imports

    import strata.openslide as openslide

Same names, results, errors and reprs: OpenSlide, ImageSlide (pictures PIL
reads; open_slide falls back to it), AbstractSlide, OpenSlideError and its
subclasses, OpenSlideCache, the PROPERTY_NAME_* keys, DeepZoomGenerator in
strata.openslide.deepzoom. Regions are RGBA as OpenSlide paints them,
properties are the format's own plus the common "openslide.*" keys, and a
slide that failed to read keeps failing with the same error. Calls on a
closed slide, and arguments of the wrong type, raise ctypes.ArgumentError.

OpenSlideError is a strata.SlideError; OpenSlideUnsupportedFormatError is
also a strata.UnsupportedFormatError.
"""
import collections.abc
import ctypes
import io
import numbers
import os

import numpy as np
from PIL import Image, ImageCms

from strata import _properties
from strata import _strata
from strata._strata import SlideError, UnsupportedFormatError
from strata._version import __version__

# The library under this module is Strata itself.
__library_version__ = __version__

PROPERTY_NAME_COMMENT = 'openslide.comment'
PROPERTY_NAME_VENDOR = 'openslide.vendor'
PROPERTY_NAME_QUICKHASH1 = 'openslide.quickhash-1'
PROPERTY_NAME_BACKGROUND_COLOR = 'openslide.background-color'
PROPERTY_NAME_OBJECTIVE_POWER = 'openslide.objective-power'
PROPERTY_NAME_MPP_X = 'openslide.mpp-x'
PROPERTY_NAME_MPP_Y = 'openslide.mpp-y'
PROPERTY_NAME_BOUNDS_X = 'openslide.bounds-x'
PROPERTY_NAME_BOUNDS_Y = 'openslide.bounds-y'
PROPERTY_NAME_BOUNDS_WIDTH = 'openslide.bounds-width'
PROPERTY_NAME_BOUNDS_HEIGHT = 'openslide.bounds-height'

__all__ = ['AbstractSlide', 'ImageSlide', 'OpenSlide', 'OpenSlideCache', 'OpenSlideError',
           'OpenSlideUnsupportedFormatError', 'OpenSlideVersionError', 'open_slide',
           'detect_format', '__version__', '__library_version__'] + \
    [name for name in dict(globals()) if name.startswith('PROPERTY_NAME_')]


class OpenSlideError(SlideError):
    """A slide that cannot be read, or a request it cannot answer."""


class OpenSlideUnsupportedFormatError(OpenSlideError, UnsupportedFormatError):
    """A file that is no slide this library opens (or no file at all)."""


class OpenSlideVersionError(OpenSlideError):
    """A feature the library underneath is too old for."""

    def __init__(self, minimum_version):
        super().__init__('library version %s or later required' % minimum_version)
        self.minimum_version = minimum_version


_CLOSED = 'argument 1: ValueError: Passing closed slide object'

# Positions beyond this are outside any slide (and beyond the native
# integers); such regions are transparent.
_FAR = 1 << 62


def _wrong_type(position):
    return ctypes.ArgumentError('argument %d: TypeError: wrong type' % position)


def _integer(value, position):
    """An integer argument, as a C integer parameter takes it."""
    if isinstance(value, numbers.Integral):
        return int(value)
    raise _wrong_type(position)


def _number(value, position):
    """A floating-point argument, as a C double parameter takes it."""
    if isinstance(value, numbers.Real):
        return float(value)
    raise _wrong_type(position)


def _file_name(filename):
    """str, bytes or PathLike as the bytes the system names the file with
    (URLs stay text); anything else is an argument of the wrong type."""
    if isinstance(filename, os.PathLike):
        filename = os.fspath(filename)
    if isinstance(filename, str):
        return filename if '://' in filename else os.fsencode(filename)
    if isinstance(filename, bytes):
        return filename
    raise ctypes.ArgumentError('argument 1: TypeError: Incorrect type')


def _open_native(filename):
    name = _file_name(filename)
    try:
        return _strata.Slide(name)
    except (UnsupportedFormatError, FileNotFoundError, IsADirectoryError, NotADirectoryError,
            PermissionError, ValueError) as e:
        reason = e.strerror if isinstance(e, OSError) and e.strerror else str(e)
        raise OpenSlideUnsupportedFormatError(reason) from None
    except SlideError as e:
        raise OpenSlideError(str(e)) from None


def _with_profile(image, profile):
    if profile:
        image.info['icc_profile'] = profile
    return image


def _profile_object(profile):
    return None if not profile else ImageCms.getOpenProfile(io.BytesIO(profile))


class AbstractSlide:
    """What every slide offers: levels, properties, associated images,
    regions, thumbnails. Use as a context manager to close it."""

    def __enter__(self):
        return self

    def __exit__(self, exc_type, exc, traceback):
        self.close()
        return False

    @classmethod
    def detect_format(cls, filename):
        """The format of the file, or None when this class cannot open it."""
        raise NotImplementedError

    def close(self):
        raise NotImplementedError

    @property
    def level_count(self):
        raise NotImplementedError

    @property
    def level_dimensions(self):
        raise NotImplementedError

    @property
    def level_downsamples(self):
        raise NotImplementedError

    @property
    def dimensions(self):
        """(width, height) of level 0."""
        return self.level_dimensions[0]

    @property
    def properties(self):
        raise NotImplementedError

    @property
    def associated_images(self):
        raise NotImplementedError

    @property
    def color_profile(self):
        raise NotImplementedError

    def get_best_level_for_downsample(self, downsample):
        raise NotImplementedError

    def read_region(self, location, level, size):
        raise NotImplementedError

    def set_cache(self, cache):
        raise NotImplementedError

    def get_thumbnail(self, size):
        """An RGB picture of the whole slide that fits in size (w, h): the
        level nearest below the wanted downsample, read whole, laid on the
        slide's background colour and shrunk with Lanczos filtering."""
        downsample = max(full / wanted for full, wanted in zip(self.dimensions, size))
        level = self.get_best_level_for_downsample(downsample)
        region = self.read_region((0, 0), level, self.level_dimensions[level])
        background = '#' + self.properties.get(PROPERTY_NAME_BACKGROUND_COLOR, 'ffffff')
        thumbnail = Image.new('RGB', region.size, background)
        thumbnail.paste(region, None, region)
        thumbnail.thumbnail(size, Image.Resampling.LANCZOS)
        return _with_profile(thumbnail, region.info.get('icc_profile'))


class _OpenSlideMap(collections.abc.Mapping):
    """A read-only view that asks its slide on every use, so that it fails
    as the slide does once that is closed or has failed."""

    def __init__(self, slide):
        self._slide = slide

    def __repr__(self):
        return '<%s %r>' % (self.__class__.__name__, dict(self))

    def __iter__(self):
        return iter(self._keys())

    def __len__(self):
        return len(self._keys())


class _PropertyMap(_OpenSlideMap):
    def _keys(self):
        return self._slide._property_values()

    def __getitem__(self, key):
        return self._slide._property_values()[key]


class _AssociatedImageMap(_OpenSlideMap):
    def _keys(self):
        return self._slide._associated_names()

    def __getitem__(self, key):
        if key not in self._keys():
            raise KeyError(key)
        return self._slide._associated_image(key)


class OpenSlide(AbstractSlide):
    """A whole-slide image: any format Strata opens, by path (str, bytes or
    PathLike) or http:// URL."""

    def __init__(self, filename):
        self._filename = filename
        self._native = _open_native(filename)
        self._levels = tuple(self._native.levels)
        self._profile = self._native.icc_profile
        self._values = None
        # The first read failure's message; every later use fails with it.
        self._failure = None

    def __repr__(self):
        return '%s(%r)' % (self.__class__.__name__, self._filename)

    @classmethod
    def detect_format(cls, filename):
        """The format the file's content shows ("aperio", "generic-tiff",
        "hamamatsu", "ztx", ...), or None."""
        try:
            name = _file_name(filename)
        except ctypes.ArgumentError:
            return None
        return _strata.detect_format(name)

    def _live(self):
        native = self._native
        if native is None:
            raise ctypes.ArgumentError(_CLOSED)
        if self._failure is not None:
            raise OpenSlideError(self._failure)
        return native

    def _reading(self, read, *arguments):
        try:
            return read(*arguments)
        except SlideError as e:
            self._failure = str(e)
            raise OpenSlideError(self._failure) from None

    def close(self):
        if self._native is None:
            raise ctypes.ArgumentError(_CLOSED)
        native, self._native = self._native, None
        native.close()

    @property
    def level_count(self):
        self._live()
        return len(self._levels)

    @property
    def level_dimensions(self):
        self._live()
        return tuple((level[0], level[1]) for level in self._levels)

    @property
    def level_downsamples(self):
        self._live()
        return tuple(level[2] for level in self._levels)

    @property
    def properties(self):
        self._live()
        return _PropertyMap(self)

    @property
    def associated_images(self):
        self._live()
        return _AssociatedImageMap(self)

    @property
    def color_profile(self):
        """The slide's ICC profile as a PIL.ImageCms profile, or None."""
        self._live()
        return _profile_object(self._profile)

    def _property_values(self):
        native = self._live()
        if self._values is None:
            values = dict(native.properties)
            if PROPERTY_NAME_QUICKHASH1 not in values:
                values[PROPERTY_NAME_QUICKHASH1] = self._reading(
                    _properties.quickhash, native, self._levels, values)
            self._values = values
        return self._values

    def _associated_names(self):
        return tuple(self._live().associated_image_names)

    def _associated_image(self, name):
        pixels = self._reading(self._live().associated_image, name)
        return _with_profile(Image.fromarray(pixels, 'RGB').convert('RGBA'), self._profile)

    def get_best_level_for_downsample(self, downsample):
        """The level with the largest downsample not above `downsample`."""
        downsample = _number(downsample, 2)
        self._live()
        best = 0
        for level, (_, _, level_downsample, _, _) in enumerate(self._levels):
            if downsample < level_downsample:
                break
            best = level
        return best

    def read_region(self, location, level, size):
        """An RGBA picture of size (w, h) pixels of `level` whose top-left is
        `location` (x, y) in level-0 pixels; transparent outside the slide
        and at levels the slide does not have."""
        x, y = _integer(location[0], 3), _integer(location[1], 4)
        level = _integer(level, 5)
        width, height = size[0], size[1]
        if not isinstance(width, numbers.Integral) or not isinstance(height, numbers.Integral):
            raise TypeError('the size must be two integers, not %r' % (size,))
        if width < 0 or height < 0:
            raise OpenSlideError('negative width (%d) or negative height (%d) not allowed'
                                 % (width, height))
        if width == 0 or height == 0:
            return _with_profile(Image.new('RGBA', (width, height)), self._profile)
        native = self._live()
        pixels = self._region_pixels(native, level, x, y, int(width), int(height))
        return _with_profile(Image.fromarray(pixels, 'RGBA'), self._profile)

    def _region_pixels(self, native, level, x, y, width, height):
        if not 0 <= level < len(self._levels) or abs(x) >= _FAR or abs(y) >= _FAR:
            return np.zeros((height, width, 4), np.uint8)
        # One native read is bounded by the read budget; larger regions are
        # read in bands of whole rows.
        rows = max(1, _strata.READ_BUDGET_BYTES // (width * 4))
        if rows >= height:
            return self._reading(native.read_region, level, x, y, width, height)
        pixels = np.empty((height, width, 4), np.uint8)
        downsample = self._levels[level][2]
        for top in range(0, height, rows):
            band = min(rows, height - top)
            pixels[top:top + band] = self._reading(
                native.read_region, level, x, y + round(top * downsample), width, band)
        return pixels

    def set_cache(self, cache):
        """Keeps this slide's decoded tiles in `cache` (an OpenSlideCache),
        which other slides may share."""
        if not isinstance(cache, OpenSlideCache):
            raise TypeError('Not a cache object')
        if self._native is None:
            raise ctypes.ArgumentError(_CLOSED)
        self._native.set_cache(cache._cache)


class OpenSlideCache:
    """A cache of decoded tiles of at most `capacity` bytes, for any number
    of slides (OpenSlide.set_cache); 0 keeps nothing."""

    def __init__(self, capacity):
        if not isinstance(capacity, numbers.Integral):
            raise _wrong_type(1)
        if not 0 <= capacity < 1 << 64:
            raise ctypes.ArgumentError('argument 1: ValueError: capacity %d is not a size'
                                       % capacity)
        self._capacity = int(capacity)
        self._cache = _strata.TileCache(self._capacity)

    def __repr__(self):
        return '%s(%d)' % (self.__class__.__name__, self._capacity)


class ImageSlide(AbstractSlide):
    """A picture PIL reads (or a PIL image) as a slide of one level."""

    def __init__(self, file):
        self._file_arg = file
        if isinstance(file, Image.Image):
            self._close = False
            self._image = file
        else:
            self._close = True
            self._image = Image.open(file)
        self._profile = self._image.info.get('icc_profile')

    def __repr__(self):
        return '%s(%r)' % (self.__class__.__name__, self._file_arg)

    @classmethod
    def detect_format(cls, filename):
        """PIL's name for the picture's format ("PNG", "JPEG", ...), or None."""
        try:
            with Image.open(filename) as image:
                return image.format
        except (OSError, ValueError):
            return None

    def _open_image(self):
        if self._image is None:
            raise ValueError('Passing closed slide object')
        return self._image

    def close(self):
        """Closes the picture unless it was handed in as a PIL image."""
        if self._close:
            self._image.close()
            self._close = False
        self._image = None

    @property
    def level_count(self):
        return 1

    @property
    def level_dimensions(self):
        return (self._open_image().size,)

    @property
    def level_downsamples(self):
        return (1.0,)

    @property
    def properties(self):
        return {}

    @property
    def associated_images(self):
        return {}

    @property
    def color_profile(self):
        self._open_image()
        return _profile_object(self._profile)

    def get_best_level_for_downsample(self, downsample):
        return 0

    def read_region(self, location, level, size):
        image = self._open_image()
        if level != 0:
            raise OpenSlideError('Invalid level')
        if any(side < 0 for side in size):
            raise OpenSlideError('Size %s must be non-negative' % (size,))
        region = Image.new('RGBA', size, (0, 0, 0, 0))
        left, top = location
        box = (max(left, 0), max(top, 0),
               min(left + size[0], image.size[0]), min(top + size[1], image.size[1]))
        if box[0] < box[2] and box[1] < box[3]:
            region.paste(image.crop(box).convert('RGBA'), (box[0] - left, box[1] - top))
        return _with_profile(region, self._profile)

    def set_cache(self, cache):
        """Pictures are read whole; there is nothing to cache."""


def open_slide(filename):
    """An OpenSlide for a slide, an ImageSlide for a picture PIL reads."""
    try:
        return OpenSlide(filename)
    except OpenSlideUnsupportedFormatError:
        return ImageSlide(filename)


detect_format = OpenSlide.detect_format
