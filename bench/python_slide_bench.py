#!/usr/bin/env python3
"""The strata package next to the field's reader (python3-openslide) on the
same slide content, measured side by side in one run: read_region at levels
0, 1 and 2, reads at a scale between levels (the field's reader reads the
finer level and resizes with PIL), 1024 and 2048 pixel squares, one and two
threads; and Deep Zoom tiles per second.

The slide is written once with `strata synth` (ZTX); the TIFF holds the very
same JPEG tiles, copied out of the ZTX into a tiled pyramidal TIFF.

Then the drop-in (strata.openslide) against python3-openslide on one SVS
written by `strata synth-svs` (levels two times apart): read_region at levels
0 and 2, 1024 and 2048 pixel squares, one thread (--drop-in-only runs just
this part).

usage: python_slide_bench.py [--out BUILD/out] [--dir CACHE] [--seconds S] [--drop-in-only]
"""
import argparse
import os
import pathlib
import subprocess
import sys

from bench_timing import rate, region_reads

WIDTH, HEIGHT = 12288, 9216


def parse():
    here = pathlib.Path(__file__).resolve().parent
    p = argparse.ArgumentParser()
    p.add_argument('--out', default=str(here.parent / 'build' / 'release' / 'out'))
    p.add_argument('--dir', default=os.environ.get('STRATA_BENCH_DIR', '/tmp/strata-bench'))
    p.add_argument('--seconds', type=float, default=1.5, help='time per measurement')
    p.add_argument('--drop-in-only', action='store_true', help='only strata.openslide vs openslide')
    return p.parse_args()


def make_slides(out, folder):
    import strata
    import tifffile
    folder.mkdir(parents=True, exist_ok=True)
    ztx = folder / ('python-bench-%dx%d.ztx' % (WIDTH, HEIGHT))
    tif = folder / ('python-bench-%dx%d.tif' % (WIDTH, HEIGHT))
    if not ztx.exists():
        subprocess.run([str(pathlib.Path(out) / 'strata'), 'synth', str(ztx), '--width',
                        str(WIDTH), '--height', str(HEIGHT)], check=True)
    if not tif.exists():
        # The tiles go in already encoded; tifffile only wants to know that a
        # JPEG encoder exists (it needs imagecodecs for one, which it never
        # calls for encoded tiles).
        def refuse(*_args, **_kwargs):
            raise RuntimeError('tiles must arrive encoded')
        tifffile.TIFF.COMPRESSORS._codecs.setdefault(7, refuse)
        partial = tif.with_suffix('.part')
        with strata.open_slide(str(ztx)) as slide, tifffile.TiffWriter(partial, bigtiff=True) as writer:
            for level in range(slide.level_count):
                width, height = slide.level_dimensions[level]
                tile_w, tile_h = slide.level_tile_sizes[level]
                columns, rows = -(-width // tile_w), -(-height // tile_h)

                def tiles(level=level, columns=columns, rows=rows):
                    for row in range(rows):
                        for column in range(columns):
                            # (encoding, stored bytes, width, height)
                            yield slide._native.read_tile_stream(level, column, row)[1]
                writer.write(tiles(), shape=(height, width, 3), dtype='uint8',
                             tile=(tile_h, tile_w), compression='jpeg', photometric='ycbcr',
                             subfiletype=0 if level == 0 else 1, metadata=None)
        partial.rename(tif)
    return str(ztx), str(tif)


def drop_in_against_openslide(args):
    """strata.openslide.OpenSlide and openslide.OpenSlide on the same SVS."""
    import numpy as np
    import openslide
    sys.path.insert(0, str(pathlib.Path(args.out) / 'python'))
    import strata.openslide
    folder = pathlib.Path(args.dir)
    folder.mkdir(parents=True, exist_ok=True)
    svs = folder / ('python-bench-%dx%d.svs' % (WIDTH, HEIGHT))
    if not svs.exists():
        subprocess.run([str(pathlib.Path(args.out) / 'strata'), 'synth-svs', str(svs), '--width',
                        str(WIDTH), '--height', str(HEIGHT), '--level-factor', '2'], check=True)
    ours, theirs = strata.openslide.OpenSlide(str(svs)), openslide.OpenSlide(str(svs))
    assert ours.level_dimensions == theirs.level_dimensions, 'levels differ'
    print('SVS %d x %d, levels %s' % (WIDTH, HEIGHT, ours.level_dimensions[:3]))
    print('%-34s %10s %10s %7s' % ('read_region, 1 thread (Mpx/s)', 'drop-in', 'openslide',
                                   'ratio'))

    for level in (0, 2):
        for size in (1024, 2048):
            # The same pixels first: the speed of different results means nothing.
            location = (int(300 * ours.level_downsamples[level]),) * 2
            assert np.array_equal(np.asarray(ours.read_region(location, level, (size, size))),
                                  np.asarray(theirs.read_region(location, level, (size, size))))
            a = rate(region_reads(ours, level, size), args.seconds) * size * size / 1e6
            b = rate(region_reads(theirs, level, size), args.seconds) * size * size / 1e6
            print('%-34s %10.1f %10.1f %6.2fx' % ('level %d, %d^2' % (level, size), a, b, a / b))


def main():
    args = parse()
    if args.drop_in_only:
        drop_in_against_openslide(args)
        return
    sys.path.insert(0, args.out)
    import openslide
    import openslide.deepzoom
    from PIL import Image
    import strata
    import strata.deepzoom

    ztx, tif = make_slides(args.out, pathlib.Path(args.dir))
    ours, theirs = strata.open_slide(ztx), openslide.OpenSlide(tif)
    assert ours.level_dimensions[:3] == theirs.level_dimensions[:3], 'levels differ'
    print('slide %d x %d, levels %s' % (WIDTH, HEIGHT, ours.level_dimensions[:3]))
    print('%-34s %10s %10s %7s' % ('case (Mpx/s)', 'strata', 'openslide', 'ratio'))

    def ours_scaled(size, ds):
        scale = ours.scan_scale / ds

        def work(rng):
            x = rng.randrange(0, int(WIDTH / ds) - size)
            y = rng.randrange(0, int(HEIGHT / ds) - size)
            ours.read_scaled(x, y, size, size, scale)
        return work

    def theirs_scaled(size, ds):
        # The finer level (2) read and resized to the wanted scale.
        finer = ds / 2

        def work(rng):
            x = rng.randrange(0, int(WIDTH / ds) - size)
            y = rng.randrange(0, int(HEIGHT / ds) - size)
            side = int(size * finer + 0.5)
            region = theirs.read_region((int(x * ds), int(y * ds)), 1, (side, side))
            region.convert('RGB').resize((size, size), Image.BILINEAR)
        return work

    rows = []
    for threads in (1, 2):
        for size in (1024, 2048):
            for level in (0, 1, 2):
                a = rate(region_reads(ours, level, size), args.seconds, threads) * size * size / 1e6
                b = rate(region_reads(theirs, level, size), args.seconds, threads) * size * size / 1e6
                rows.append(('read_region L%d %d^2 %dT' % (level, size, threads), a, b))
            a = rate(ours_scaled(size, 3), args.seconds, threads) * size * size / 1e6
            b = rate(theirs_scaled(size, 3), args.seconds, threads) * size * size / 1e6
            rows.append(('read_scaled 1/3 %d^2 %dT' % (size, threads), a, b))
    for name, a, b in rows:
        print('%-34s %10.1f %10.1f %6.2fx' % (name, a, b, a / b))

    print('%-34s %10s %10s %7s' % ('case (tiles/s)', 'strata', 'openslide', 'ratio'))
    ours.close()
    ours = strata.open_slide(ztx)  # start with no tiles decoded
    for threads in (1, 2):
        dz_ours = strata.deepzoom.DeepZoomGenerator(ours)
        dz_theirs = openslide.deepzoom.DeepZoomGenerator(theirs)

        def tiles(dz):
            # As a viewer asks: the tiles of a 6 x 4 screen, screen after
            # screen at random places of the full-resolution level.
            level = dz.level_count - 1
            columns, rows_ = dz.level_tiles[level]
            screens = {}

            def work(rng):
                screen = screens.get(id(rng))
                if not screen:
                    left, top = rng.randrange(columns - 6), rng.randrange(rows_ - 4)
                    screen = [(left + c, top + r) for r in range(4) for c in range(6)]
                    screens[id(rng)] = screen
                dz.get_tile(level, screen.pop())
            return work
        a, b = rate(tiles(dz_ours), args.seconds, threads), rate(tiles(dz_theirs), args.seconds, threads)
        print('%-34s %10.1f %10.1f %6.2fx' % ('deepzoom get_tile %dT' % threads, a, b, a / b))

    # What two threads can gain on this machine right now, with work that
    # holds no lock at all: on a busy machine no reader can do better.
    import hashlib
    block = bytes(16 << 20)
    hashing = [rate(lambda rng: hashlib.sha256(block).digest(), args.seconds, t) for t in (1, 2)]
    print('two threads against one (strata); the machine gives %.2fx on hashing:'
          % (hashing[1] / hashing[0]))
    one = {name[:-3]: a for name, a, _ in rows if name.endswith('1T')}
    for name, a, _ in rows:
        if name.endswith('2T'):
            print('  %-32s %6.2fx' % (name[:-3], a / one[name[:-3]]))
    drop_in_against_openslide(args)


if __name__ == '__main__':
    main()
