#!/usr/bin/env python3
"""read_region of the strata package next to Debian's openslide-python on the
same SVS, measured side by side in one run, one thread: levels 0 and 2,
1024 and 2048 pixel squares at random whole-pixel places (target: strata at
least 3 times faster). Both return PIL RGBA images; one region of each case
is checked to be pixel for pixel the same first.

usage: svs_python_bench.py SVS [--out BUILD/out] [--seconds S]
"""
import argparse
import pathlib
import random
import sys

from bench_timing import rate, region_reads


def parse():
    here = pathlib.Path(__file__).resolve().parent
    p = argparse.ArgumentParser()
    p.add_argument('svs')
    p.add_argument('--out', default=str(here.parent / 'build' / 'release' / 'out'))
    p.add_argument('--seconds', type=float, default=3.0, help='time per measurement')
    return p.parse_args()


def main():
    args = parse()
    sys.path.insert(0, args.out)
    import openslide
    import strata

    ours, theirs = strata.open_slide(args.svs), openslide.OpenSlide(args.svs)
    assert ours.level_dimensions == theirs.level_dimensions, 'levels differ'
    print('%s: levels %s' % (args.svs, ours.level_dimensions[:3]))
    print('%-34s %10s %10s %7s' % ('read_region, 1 thread (Mpx/s)', 'strata', 'openslide', 'ratio'))

    for level in (0, 2):
        for size in (1024, 2048):
            probe = random.Random(3)
            ds = int(round(ours.level_downsamples[level]))
            x = probe.randrange(0, max(1, ours.level_dimensions[level][0] - size)) * ds
            assert (ours.read_region((x, 0), level, (size, size)).tobytes() ==
                    theirs.read_region((x, 0), level, (size, size)).tobytes()), 'pixels differ'
            a = rate(region_reads(ours, level, size), args.seconds) * size * size / 1e6
            b = rate(region_reads(theirs, level, size), args.seconds) * size * size / 1e6
            print('%-34s %10.1f %10.1f %6.2fx' % ('level %d, %d^2' % (level, size), a, b, a / b))


if __name__ == '__main__':
    main()
