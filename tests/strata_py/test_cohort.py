"""Cohort jobs on a two-process LocalCluster: every good slide's output is
complete and right, a damaged slide fails alone with a clear message."""
import os
import pathlib

import numpy as np
import pytest
import zarr
from PIL import Image

import strata
import strata.cohort


@pytest.fixture(scope='module')
def client():
    distributed = pytest.importorskip('distributed')
    import dask
    with dask.config.set({'distributed.comm.timeouts.connect': '20s',
                          'distributed.scheduler.allowed-failures': 0}):
        cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                           host='127.0.0.1', dashboard_address=None,
                                           worker_dashboard_address=None, silence_logs=40,
                                           death_timeout=60)
        with distributed.Client(cluster, timeout=60) as c:
            yield c
        cluster.close(timeout=30)


@pytest.fixture(scope='module')
def cohort(tissue_slides, damaged_slide, folder):
    return tissue_slides + [damaged_slide, str(folder / 'gone.ztx')]


def test_thumbnails(client, cohort, tmp_path):
    report = strata.cohort.thumbnails(cohort, tmp_path, client, size=(200, 200))
    assert [r.path for r in report] == cohort
    for good in report[:2]:
        assert good.ok and pathlib.Path(good.output).exists()
        with strata.open_slide(good.path) as slide:
            expected = np.asarray(slide.get_thumbnail((200, 200)))
        np.testing.assert_array_equal(np.asarray(Image.open(good.output)), expected)
    for bad in report[2:]:
        assert not bad.ok and bad.output is None
        assert bad.path in bad.error and '\n' not in bad.error
    assert sorted(os.listdir(tmp_path)) == ['tissue0.png', 'tissue1.png']


@pytest.mark.parametrize('layout', ['zarr', 'folder'])
def test_tissue_tiles(client, cohort, tmp_path, layout):
    report = strata.cohort.tissue_tiles(cohort, 10.0, 128, tmp_path, client, layout=layout)
    assert [r.ok for r in report] == [True, True, False, False]
    for good in report[:2]:
        with strata.open_slide(good.path) as slide:
            columns = -(-slide.dimensions[0] // 2 // 128)
            rows = -(-slide.dimensions[1] // 2 // 128)
            if layout == 'zarr':
                group = zarr.open_group(good.output, mode='r')
                coords = group['coords'][:]
                tiles = group['tiles']
                assert group.attrs['scale'] == 10.0 and group.attrs['size'] == 128
            else:
                files = sorted(pathlib.Path(good.output).iterdir())
                coords = np.array([[int(v) for v in f.stem.split('_')] for f in files])
                tiles = [np.asarray(Image.open(f)) for f in files]
            # Some but not all tiles of the grid hold tissue.
            assert 0 < good.count == len(coords) < columns * rows
            for (x, y), tile in zip(coords, tiles):
                assert x % 128 == 0 and y % 128 == 0
                pixels = slide.read_scaled(int(x), int(y), 128, 128, 10.0)
                np.testing.assert_array_equal(np.asarray(tile), pixels)
                assert strata.cohort.tissue_mask(pixels).mean() > 0.05
    assert 'gone.ztx' in report[3].error and 'damaged.ztx' in report[2].error
