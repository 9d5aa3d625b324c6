"""Deep Zoom tiles of a slide. Deep Zoom level 0 is one pixel; each level
doubles the previous one (sizes rounded up) until the last is the slide at
full size. A level is cut into tile_size squares, each grown by `overlap`
pixels on every side that has a neighbour."""
import math
from xml.etree import ElementTree

import numpy as np
from PIL import Image

_NAMESPACE = 'http://schemas.microsoft.com/deepzoom/2008'


class DeepZoomGenerator:
    """Deep Zoom tiles of `slide`, read from the best stored level for each
    Deep Zoom level. With limit_bounds the generator covers only the area the
    slide's strata.bounds-* properties name (the whole slide when absent)."""

    def __init__(self, slide, tile_size=254, overlap=1, limit_bounds=False):
        if tile_size <= 0:
            raise ValueError('tile_size must be positive')
        if overlap < 0:
            raise ValueError('overlap must not be negative')
        self._slide = slide
        self._tile_size = int(tile_size)
        self._overlap = int(overlap)
        props = slide.properties
        level0 = slide.dimensions
        if limit_bounds:
            self._offset = (int(props.get('strata.bounds-x', 0)),
                            int(props.get('strata.bounds-y', 0)))
            fraction = (int(props.get('strata.bounds-width', level0[0])) / level0[0],
                        int(props.get('strata.bounds-height', level0[1])) / level0[1])
            self._level_sizes = tuple(
                tuple(int(math.ceil(d * f)) for d, f in zip(dims, fraction))
                for dims in slide.level_dimensions)
        else:
            self._offset = (0, 0)
            self._level_sizes = slide.level_dimensions
        full = self._level_sizes[0]

        sizes = [full]
        while sizes[-1][0] > 1 or sizes[-1][1] > 1:
            w, h = sizes[-1]
            sizes.append((max(1, (w + 1) // 2), max(1, (h + 1) // 2)))
        self._z_sizes = tuple(reversed(sizes))
        self._tiles = tuple((-(-w // self._tile_size), -(-h // self._tile_size))
                            for w, h in self._z_sizes)

        # For each Deep Zoom level: the stored level to read, and how much
        # larger that level is than the Deep Zoom level.
        count = len(self._z_sizes)
        self._source = []
        for z in range(count):
            downsample = 2.0 ** (count - 1 - z)
            level = slide.get_best_level_for_downsample(downsample)
            self._source.append((level, downsample / slide.level_downsamples[level]))
        self._downsamples = slide.level_downsamples

    @property
    def level_count(self):
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
        return sum(c * r for c, r in self._tiles)

    def __repr__(self):
        return 'DeepZoomGenerator(%r, tile_size=%d, overlap=%d)' % (
            self._slide, self._tile_size, self._overlap)

    def _tile_info(self, level, address):
        if not isinstance(level, int) or not 0 <= level < self.level_count:
            raise ValueError('Invalid level')
        try:
            col, row = address
        except (TypeError, ValueError):
            raise ValueError('Invalid address') from None
        columns, rows = self._tiles[level]
        if not (isinstance(col, int) and isinstance(row, int)
                and 0 <= col < columns and 0 <= row < rows):
            raise ValueError('Invalid address')
        source, factor = self._source[level]
        z_width, z_height = self._z_sizes[level]

        def axis(index, last, extent, limit):
            before = self._overlap if index > 0 else 0
            after = self._overlap if index < last else 0
            start = self._tile_size * index
            z_size = min(self._tile_size, extent - start) + before + after
            level_start = factor * (start - before)
            level_size = min(int(math.ceil(factor * z_size)), limit - int(math.ceil(level_start)))
            return level_start, level_size, z_size

        level_width, level_height = self._level_sizes[source]
        lx, lw, zw = axis(col, columns - 1, z_width, level_width)
        ly, lh, zh = axis(row, rows - 1, z_height, level_height)
        downsample = self._downsamples[source]
        location = (int(downsample * lx + self._offset[0]), int(downsample * ly + self._offset[1]))
        return (location, source, (lw, lh)), (zw, zh)

    def get_tile_coordinates(self, level, address):
        """The read_region arguments ((x, y), level, (w, h)) behind a tile."""
        return self._tile_info(level, address)[0]

    def get_tile_dimensions(self, level, address):
        """(width, height) of a tile, overlap included."""
        return self._tile_info(level, address)[1]

    def get_tile(self, level, address):
        """The tile as an RGB PIL image on white."""
        (location, source, size), z_size = self._tile_info(level, address)
        rgba = self._slide.read_region(location, source, size, as_array=True)
        # Stored pixels are opaque; only outside the slide is transparent.
        rgb = np.where(rgba[:, :, 3:] == 0, np.uint8(255), rgba[:, :, :3])
        tile = Image.fromarray(np.ascontiguousarray(rgb), 'RGB')
        if tile.size != z_size:
            tile = tile.resize(z_size, Image.LANCZOS)
        return tile

    def get_dzi(self, format):
        """The DZI XML that describes this pyramid, for tiles in `format`
        ("jpeg" or "png")."""
        width, height = self._z_sizes[-1]
        image = ElementTree.Element('Image', Format=format, Overlap=str(self._overlap),
                                    TileSize=str(self._tile_size), xmlns=_NAMESPACE)
        ElementTree.SubElement(image, 'Size', Height=str(height), Width=str(width))
        return ('<?xml version="1.0" encoding="UTF-8"?>' +
                ElementTree.tostring(image, encoding='unicode'))
