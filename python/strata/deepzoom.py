"""Deep Zoom tiles of a slide (a strata.Slide or any strata.openslide slide),
cut as the field's Python reader cuts them. Deep Zoom level 0 is one pixel;
each level doubles the previous one (sizes rounded up) until the last is the
slide at full size. A level is cut into tile_size squares, each grown by
`overlap` pixels on every side that has a neighbour, and read from the
stored level nearest below its downsample."""
import math
from xml.etree import ElementTree

from PIL import Image

_NAMESPACE = 'http://schemas.microsoft.com/deepzoom/2008'
_BACKGROUND = 'openslide.background-color'
_BOUNDS = ('openslide.bounds-x', 'openslide.bounds-y', 'openslide.bounds-width',
           'openslide.bounds-height')


class DeepZoomGenerator:
    """Deep Zoom tiles of `slide`. With limit_bounds the pyramid covers only
    the scanned area that the slide's openslide.bounds-* properties name
    (the whole slide where they are absent)."""

    def __init__(self, osr, tile_size=254, overlap=1, limit_bounds=False):
        if tile_size <= 0:
            raise ValueError('tile_size must be positive')
        if overlap < 0:
            raise ValueError('overlap must not be negative')
        self._slide = osr
        self._tile_size = tile_size
        self._overlap = overlap
        self._limit_bounds = limit_bounds
        properties = osr.properties
        self._offset, self._level_sizes = self._covered_area(osr, properties, limit_bounds)

        sizes = [self._level_sizes[0]]
        while sizes[-1][0] > 1 or sizes[-1][1] > 1:
            sizes.append(tuple(max(1, int(math.ceil(side / 2))) for side in sizes[-1]))
        self._z_sizes = tuple(reversed(sizes))
        self._tiles = tuple(tuple(int(math.ceil(side / tile_size)) for side in size)
                            for size in self._z_sizes)

        # For each Deep Zoom level: the stored level it is read from, and how
        # many pixels of that level make one of its pixels.
        count = len(self._z_sizes)
        self._sources = []
        downsamples = osr.level_downsamples
        for z in range(count):
            downsample = 2 ** (count - z - 1)
            level = osr.get_best_level_for_downsample(downsample)
            self._sources.append((level, downsample / downsamples[level]))
        self._downsamples = downsamples
        self._background = '#' + properties.get(_BACKGROUND, 'ffffff')

    @staticmethod
    def _covered_area(osr, properties, limit_bounds):
        """Level-0 offset of the covered area and its size at every level."""
        if not limit_bounds:
            return (0, 0), osr.level_dimensions
        width, height = osr.dimensions
        left, top = int(properties.get(_BOUNDS[0], 0)), int(properties.get(_BOUNDS[1], 0))
        fraction = (int(properties.get(_BOUNDS[2], width)) / width,
                    int(properties.get(_BOUNDS[3], height)) / height)
        sizes = tuple(tuple(int(math.ceil(side * part)) for side, part in zip(size, fraction))
                      for size in osr.level_dimensions)
        return (left, top), sizes

    def __repr__(self):
        return '%s(%r, tile_size=%r, overlap=%r, limit_bounds=%r)' % (
            self.__class__.__name__, self._slide, self._tile_size, self._overlap,
            self._limit_bounds)

    @property
    def level_count(self):
        """The number of Deep Zoom levels."""
        return len(self._z_sizes)

    @property
    def level_tiles(self):
        """(columns, rows) of each Deep Zoom level."""
        return self._tiles

    @property
    def level_dimensions(self):
        """(width, height) of each Deep Zoom level."""
        return self._z_sizes

    @property
    def tile_count(self):
        """The number of tiles of all levels."""
        return sum(columns * rows for columns, rows in self._tiles)

    def _tile_info(self, level, address):
        """(read_region arguments, tile size) of a tile."""
        if not 0 <= level < len(self._z_sizes):
            raise ValueError('Invalid level')
        try:
            column, row = address
        except (TypeError, ValueError):
            raise ValueError('Invalid address') from None
        columns, rows = self._tiles[level]
        if not (0 <= column < columns and 0 <= row < rows):
            raise ValueError('Invalid address')
        source, factor = self._sources[level]
        downsample = self._downsamples[source]
        level_size = self._level_sizes[source]
        location, read, tile = [], [], []
        for axis, (index, count) in enumerate(((column, columns), (row, rows))):
            before = self._overlap if index != 0 else 0
            after = self._overlap if index != count - 1 else 0
            start = self._tile_size * index
            side = min(self._tile_size, self._z_sizes[level][axis] - start) + before + after
            level_start = factor * (start - before)
            location.append(int(downsample * level_start + self._offset[axis]))
            read.append(int(min(math.ceil(factor * side),
                                level_size[axis] - math.ceil(level_start))))
            tile.append(side)
        return (tuple(location), source, tuple(read)), tuple(tile)

    def get_tile_coordinates(self, level, address):
        """The read_region arguments ((x, y), level, (w, h)) behind a tile."""
        return self._tile_info(level, address)[0]

    def get_tile_dimensions(self, level, address):
        """(width, height) of a tile, overlap included."""
        return self._tile_info(level, address)[1]

    def get_tile(self, level, address):
        """The tile as an RGB picture on the slide's background colour."""
        arguments, size = self._tile_info(level, address)
        region = self._slide.read_region(*arguments)
        profile = region.info.get('icc_profile')
        tile = Image.new('RGB', region.size, self._background)
        tile.paste(region, None, region)
        if tile.size != size:
            tile = self._shrunk(tile, size)
        if profile:
            tile.info['icc_profile'] = profile
        return tile

    @staticmethod
    def _shrunk(tile, size):
        # Lanczos with the same two-step reduction as PIL's thumbnails, to
        # exactly the tile's size.
        return tile.resize(size, Image.Resampling.LANCZOS, reducing_gap=2.0)

    def get_dzi(self, format):
        """The DZI XML that describes this pyramid, for tiles in `format`
        ("jpeg" or "png")."""
        width, height = self._level_sizes[0]
        image = ElementTree.Element('Image', TileSize=str(self._tile_size),
                                    Overlap=str(self._overlap), Format=format, xmlns=_NAMESPACE)
        ElementTree.SubElement(image, 'Size', Width=str(width), Height=str(height))
        return ElementTree.tostring(image, encoding='unicode')
