"""zarr and dask views of the stored levels: chunks are the stored tiles."""
import pickle

import numpy as np
import pytest
import zarr

import strata
from conftest import level_from_tiles


@pytest.mark.parametrize('level', [0, 1, 2])
def test_zarr_chunks_are_the_stored_tiles(bmp_slide, library, level):
    with strata.open_slide(bmp_slide.path) as slide:
        store = slide.zarr_store(level)
        width, height = slide.level_dimensions[level]
    array = zarr.open_array(store, mode='r')
    assert array.shape == (height, width, 3) and array.chunks == (256, 256, 3)
    assert array.dtype == np.uint8
    whole = level_from_tiles(library, bmp_slide.path, 20.0 / 2 ** level, width, height)
    np.testing.assert_array_equal(array[:], whole[:, :, :3])
    # One chunk is one tile, padded to the full tile at the edges.
    last = np.frombuffer(store['%d.%d.0' % ((height - 1) // 256, (width - 1) // 256)], np.uint8)
    assert last.size == 256 * 256 * 3
    with pytest.raises(KeyError):
        store['9.9.0']
    with pytest.raises(PermissionError):
        store['0.0.0'] = b''


def test_dask_array_is_lazy_and_picklable(bmp_slide):
    with strata.open_slide(bmp_slide.path) as slide:
        lazy = slide.to_dask(1)
        expected = slide.read_region((0, 0), 1, slide.level_dimensions[1], as_array=True)
    assert lazy.chunksize == (256, 256, 3)
    again = pickle.loads(pickle.dumps(lazy))
    np.testing.assert_array_equal(again.compute(scheduler='threads'), expected[:, :, :3])
    np.testing.assert_array_equal(lazy[300:340, 200:260].compute(scheduler='sync'),
                                  expected[300:340, 200:260, :3])
