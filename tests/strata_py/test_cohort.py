"""Cohort jobs on a two-process LocalCluster: every good slide's output is
complete and right, a damaged slide fails alone with a clear message."""
import os
import pathlib
import shutil

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
        assert bad.error.count(bad.path) == 1 and '\n' not in bad.error
    assert 'no such file' in report[3].error
    assert sorted(os.listdir(tmp_path)) == ['tissue0.png', 'tissue1.png']


def test_outputs_never_collide_and_progress_is_reported(client, tissue_slides, tmp_path):
    # Two different slides named alike in two folders, and one path twice.
    twins = []
    for folder, source in zip(('a', 'b'), tissue_slides):
        (tmp_path / folder).mkdir()
        twins.append(str(tmp_path / folder / 'demo.ztx'))
        shutil.copy(source, twins[-1])
    paths = twins + [tissue_slides[0], tissue_slides[0]]
    calls = []
    report = strata.cohort.thumbnails(paths, tmp_path / 'out', client, size=(64, 64),
                                      progress=lambda *args: calls.append(args))
    assert all(r.ok for r in report)
    outputs = [r.output for r in report]
    assert len(set(outputs[:3])) == 3 and outputs[2] == outputs[3]
    assert all(os.path.basename(o).startswith(('demo-', 'tissue0.')) for o in outputs)
    for outcome in report[:3]:
        with strata.open_slide(outcome.path) as slide:
            np.testing.assert_array_equal(np.asarray(Image.open(outcome.output)),
                                          np.asarray(slide.get_thumbnail((64, 64))))
    # One call per slide read, as each finishes.
    assert [(done, total) for done, total, _ in calls] == [(1, 3), (2, 3), (3, 3)]
    assert sorted(outcome.path for _, _, outcome in calls) == sorted(set(paths))


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
