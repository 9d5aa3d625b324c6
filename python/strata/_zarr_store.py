"""A read-only zarr v2 store over one stored level: the array is (h, w, 3)
uint8 and each chunk is one stored tile, decoded when it is read."""
import functools
import json

import numpy as np
import zarr.storage

# Chunks outside the slide and tiles that are absent read as white, like the
# library's regions.
_FILL = 255


@functools.lru_cache(maxsize=16)
def _opened(path):
    # One open slide per path and process: stores unpickled for many dask
    # tasks on one worker share it.
    from strata._slide import Slide
    return Slide(path)


class SlideStore(zarr.storage.Store):
    def __init__(self, path, level):
        self._path = path
        self._level = level
        slide = self._slide()
        self._width, self._height = slide.level_dimensions[level]
        self._tile_width, self._tile_height = slide.level_tile_sizes[level]
        self._columns = -(-self._width // self._tile_width)
        self._rows = -(-self._height // self._tile_height)
        self._meta = json.dumps({
            'zarr_format': 2,
            'shape': [self._height, self._width, 3],
            'chunks': [self._tile_height, self._tile_width, 3],
            'dtype': '|u1',
            'compressor': None,
            'fill_value': _FILL,
            'order': 'C',
            'filters': None,
            'dimension_separator': '.',
        }).encode()

    def _slide(self):
        slide = _opened(self._path)
        if slide.closed:
            _opened.cache_clear()
            slide = _opened(self._path)
        return slide

    def __reduce__(self):
        return (SlideStore, (self._path, self._level))

    def __repr__(self):
        return 'strata.SlideStore(%r, level=%d)' % (self._path, self._level)

    def _chunk_address(self, key):
        parts = key.split('.')
        if len(parts) != 3 or parts[2] != '0' or not all(p.isdigit() for p in parts):
            return None
        row, column = int(parts[0]), int(parts[1])
        if row >= self._rows or column >= self._columns:
            return None
        return row, column

    def __getitem__(self, key):
        if key == '.zarray':
            return self._meta
        address = self._chunk_address(key)
        if address is None:
            raise KeyError(key)
        row, column = address
        tile = self._slide().read_tile(self._level, column, row)
        if tile is None:
            raise KeyError(key)
        chunk = np.full((self._tile_height, self._tile_width, 3), _FILL, np.uint8)
        h = min(tile.shape[0], self._tile_height)
        w = min(tile.shape[1], self._tile_width)
        chunk[:h, :w] = tile[:h, :w]
        return chunk.tobytes()

    def __contains__(self, key):
        return key == '.zarray' or self._chunk_address(key) is not None

    def keys(self):
        yield '.zarray'
        for row in range(self._rows):
            for column in range(self._columns):
                yield '%d.%d.0' % (row, column)

    def __iter__(self):
        return self.keys()

    def __len__(self):
        return 1 + self._rows * self._columns

    def __setitem__(self, key, value):
        raise PermissionError('a slide store is read-only')

    def __delitem__(self, key):
        raise PermissionError('a slide store is read-only')

    def is_writeable(self):
        return False
