"""Cohort jobs on Dask distributed: one task per slide, each opening its
slide on the worker, so the same call runs on a LocalCluster or on the
scheduler of a cluster of many machines. A slide that fails (missing,
damaged) fails only its own task; the others finish.

    from dask.distributed import Client, LocalCluster
    client = Client(LocalCluster(n_workers=4, threads_per_worker=1))
    # or: client = Client('tcp://scheduler:8786')
    report = strata.cohort.thumbnails(paths, 'thumbs/', client)
    report = strata.cohort.tissue_tiles(paths, 10.0, 256, 'tiles/', client)
    for item in report:
        print(item.path, item.output if item.ok else item.error)

Outputs are written by the workers, so `out_dir` must be a folder every
worker can reach (shared storage on a real cluster). Each output is named
after its slide's file name; slides that share a file name (in different
folders) get a short hash of their whole path added, so no output is lost.
A path given twice is one slide, read once. `progress(done, total, outcome)`,
when given, is called as each slide finishes. A failure is one line that
names the slide once.
"""
import collections
import hashlib
import os
import pathlib
import uuid

import numpy as np

# One slide's outcome: the output (path, and for tiles the count) or the
# one-line error that stopped it.
SlideOutcome = collections.namedtuple('SlideOutcome', 'path output count error')
SlideOutcome.ok = property(lambda self: self.error is None)

# A pixel is tissue when its darkest channel is below this (glass is near white).
TISSUE_BELOW = 210


def _stem(path):
    name = path.rstrip('/').rsplit('/', 1)[-1]
    return name.split('.', 1)[0] or 'slide'


def output_names(paths):
    """The output name of each distinct path: the stem of its file name, and
    where different paths share a stem, that stem and a hash of the path."""
    stems = {path: _stem(path) for path in paths}
    shared = collections.Counter(stems.values())
    return {path: stem if shared[stem] == 1 else '%s-%s' % (
        stem, hashlib.sha256(os.fsencode(path)).hexdigest()[:10]) for path, stem in stems.items()}


def _one_line(path, error):
    """The error as one line that names the slide once."""
    if isinstance(error, OSError) and error.strerror:
        text = error.strerror
        if error.filename is not None and os.fsdecode(error.filename) != path:
            text += ': %s' % os.fsdecode(error.filename)  # an output that cannot be written
    else:
        text = str(error).strip()
        text = text.splitlines()[0] if text else type(error).__name__
    return text if path in text else '%s: %s' % (path, text)


def _reraise(path, error):
    from strata import SlideError
    raise SlideError(_one_line(path, error)) from None


def thumbnail_task(path, name, out_dir, size):
    """Worker side of thumbnails(): writes <name>.png, returns its path."""
    import strata
    try:
        with strata.open_slide(path) as slide:
            image = slide.get_thumbnail(size)
        target = os.path.join(out_dir, name + '.png')
        partial = target + '.part'
        image.save(partial, format='PNG')
        os.replace(partial, target)
        return target, 1
    except Exception as e:  # every failure of this slide, with its name in front
        _reraise(path, e)


def tissue_mask(rgb):
    """True where a thumbnail shows tissue."""
    return rgb.min(axis=2) < TISSUE_BELOW


def tissue_tile_task(path, name, scale, size, out_dir, min_tissue, layout):
    """Worker side of tissue_tiles(): finds tissue on a thumbnail, reads each
    size x size tile at `scale` that holds at least `min_tissue` of it, and
    writes them with their (x, y) at `scale`. Returns (output, tile count)."""
    import strata
    try:
        with strata.open_slide(path) as slide:
            positions = _tissue_positions(slide, scale, size, min_tissue)
            target = os.path.join(out_dir, name + ('.zarr' if layout == 'zarr' else ''))
            if layout == 'zarr':
                _write_zarr(slide, positions, scale, size, target)
            else:
                _write_folder(slide, positions, scale, size, target)
        return target, len(positions)
    except Exception as e:
        _reraise(path, e)


def _tissue_positions(slide, scale, size, min_tissue):
    width, height = slide.dimensions
    factor = scale / slide.scan_scale
    columns = -(-int(width * factor + 0.5) // size)
    rows = -(-int(height * factor + 0.5) // size)
    # A mask with a few pixels per tile is enough to decide.
    per_tile = min(4, size)
    mask_scale = per_tile * scale / size
    mask_w, mask_h = columns * per_tile, rows * per_tile
    mask = tissue_mask(slide.read_scaled(0, 0, mask_w, mask_h, mask_scale))
    cover = mask[:rows * per_tile, :columns * per_tile].reshape(
        rows, per_tile, columns, per_tile).mean(axis=(1, 3))
    return [(c * size, r * size) for r, c in zip(*np.nonzero(cover >= min_tissue))]


def _write_zarr(slide, positions, scale, size, target):
    import zarr
    group = zarr.open_group(target, mode='w')
    tiles = group.zeros('tiles', shape=(len(positions), size, size, 3),
                        chunks=(1, size, size, 3), dtype='u1')
    group.array('coords', np.array(positions, dtype=np.int64).reshape(-1, 2))
    group.attrs.update(slide=slide.path, scale=scale, size=size)
    for n, (x, y) in enumerate(positions):
        tiles[n] = slide.read_scaled(x, y, size, size, scale)


def _write_folder(slide, positions, scale, size, target):
    from PIL import Image
    pathlib.Path(target).mkdir(parents=True, exist_ok=True)
    for x, y in positions:
        Image.fromarray(slide.read_scaled(x, y, size, size, scale)).save(
            os.path.join(target, '%d_%d.png' % (x, y)))


def _outcome(path, future):
    if future.status == 'finished':
        output, count = future.result()
        return SlideOutcome(path, output, count, None)
    return SlideOutcome(path, None, 0, _one_line(path, future.exception()))


def _run(client, task, paths, progress, *arguments):
    from distributed import as_completed
    paths = [os.fspath(p) for p in paths]
    names = output_names(paths)
    run = uuid.uuid4().hex[:12]
    futures = {}
    for n, path in enumerate(names):
        futures[path] = client.submit(task, path, names[path], *arguments, pure=False, retries=0,
                                      key='strata-%s-%s-%d' % (task.__name__, run, n))
    slides = {future.key: path for path, future in futures.items()}
    outcomes = {}
    for future in as_completed(list(futures.values())):
        path = slides[future.key]
        outcomes[path] = _outcome(path, future)
        if progress is not None:
            progress(len(outcomes), len(futures), outcomes[path])
    return [outcomes[path] for path in paths]


def thumbnails(paths, out_dir, client, size=(512, 512), progress=None):
    """Writes a PNG thumbnail (fitting `size`) of each slide into out_dir.
    Returns one SlideOutcome per path, in order."""
    os.makedirs(out_dir, exist_ok=True)
    return _run(client, thumbnail_task, paths, progress, os.fspath(out_dir), tuple(size))


def tissue_tiles(paths, scale, size, out, client, min_tissue=0.25, layout='zarr', progress=None):
    """Cuts every size x size tile at magnification `scale` that holds tissue
    and writes it with its (x, y) (pixels at `scale`): layout "zarr" makes
    <out>/<stem>.zarr with arrays "tiles" (n, size, size, 3) and "coords"
    (n, 2); layout "folder" makes <out>/<stem>/<x>_<y>.png (stems made unique as the
    module says).
    Returns one SlideOutcome per path (count = tiles written)."""
    if layout not in ('zarr', 'folder'):
        raise ValueError('layout must be "zarr" or "folder"')
    if not size > 0 or not scale > 0:
        raise ValueError('scale and size must be positive')
    os.makedirs(out, exist_ok=True)
    return _run(client, tissue_tile_task, paths, progress, float(scale), int(size),
                os.fspath(out), float(min_tissue), layout)
