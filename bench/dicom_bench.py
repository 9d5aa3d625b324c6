#!/usr/bin/env python3
"""read_region on a DICOM whole-slide series next to the same tiles in ZTX,
measured side by side in one run through the strata package: regions of
512 and 2048 pixels at levels 0, 1 and 2, and opening the slide.

The ZTX is written once with `strata synth`; the DICOM series holds its very
same JPEG tiles, one instance a level (TILED_FULL, JPEG baseline frames,
basic offset table), written by this script byte by byte.

usage: dicom_bench.py [--out BUILD/out] [--dir CACHE] [--seconds S]
"""
import argparse
import os
import pathlib
import struct
import subprocess
import sys

from bench_timing import rate, region_reads

WIDTH, HEIGHT = 12288, 9216
WHOLE_SLIDE = '1.2.840.10008.5.1.4.1.1.77.1.6'
JPEG_BASELINE = '1.2.840.10008.1.2.4.50'
ROOT_UID = '1.2.826.0.1.3680043.10.1137.5'
LONG_FORMS = {'OB', 'OD', 'OF', 'OL', 'OV', 'OW', 'SQ', 'SV', 'UC', 'UN', 'UR', 'UT', 'UV'}


def parse():
    here = pathlib.Path(__file__).resolve().parent
    p = argparse.ArgumentParser()
    p.add_argument('--out', default=str(here.parent / 'build' / 'release' / 'out'))
    p.add_argument('--dir', default=os.environ.get('STRATA_BENCH_DIR', '/tmp/strata-bench'))
    p.add_argument('--seconds', type=float, default=1.5, help='time per measurement')
    return p.parse_args()


def element(group, number, vr, value):
    if isinstance(value, str):
        value = value.encode('ascii')
    if len(value) % 2:
        value += b'\0' if vr in ('UI', 'OB') else b' '
    head = struct.pack('<HH', group, number) + vr.encode('ascii')
    if vr in LONG_FORMS:
        return head + struct.pack('<HI', 0, len(value)) + value
    return head + struct.pack('<H', len(value)) + value


def sequence(group, number, items):
    body = b''.join(struct.pack('<HHI', 0xFFFE, 0xE000, len(item)) + item for item in items)
    return element(group, number, 'SQ', body)


def encapsulated(frames):
    padded = [frame + b'\0' * (len(frame) % 2) for frame in frames]
    offsets, at = [], 0
    for frame in padded:
        offsets.append(at)
        at += 8 + len(frame)
    table = struct.pack('<%dI' % len(offsets), *offsets)
    items = struct.pack('<HHI', 0xFFFE, 0xE000, len(table)) + table
    items += b''.join(struct.pack('<HHI', 0xFFFE, 0xE000, len(f)) + f for f in padded)
    delimiter = struct.pack('<HHI', 0xFFFE, 0xE0DD, 0)
    return struct.pack('<HH', 0x7FE0, 0x0010) + b'OB\0\0' + b'\xff' * 4 + items + delimiter


def write_instance(path, level, size, tile, frames, mpp):
    """One level as a DICOM file: explicit VR little endian, JPEG frames."""
    sop = '%s.%d' % (ROOT_UID, level + 1)
    meta = (element(0x0002, 0x0001, 'OB', b'\0\1') + element(0x0002, 0x0002, 'UI', WHOLE_SLIDE) +
            element(0x0002, 0x0003, 'UI', sop) + element(0x0002, 0x0010, 'UI', JPEG_BASELINE))
    meta = element(0x0002, 0x0000, 'UL', struct.pack('<I', len(meta))) + meta
    measures = element(0x0028, 0x0030, 'DS', '%.6g\\%.6g' % (mpp / 1000, mpp / 1000))
    shared = sequence(0x0028, 0x9110, [measures])
    path_item = element(0x0048, 0x0106, 'SH', '1') + element(0x0048, 0x0112, 'DS', '20')
    data = b''.join([
        element(0x0008, 0x0008, 'CS', 'DERIVED\\PRIMARY\\VOLUME\\NONE'),
        element(0x0008, 0x0016, 'UI', WHOLE_SLIDE),
        element(0x0008, 0x0018, 'UI', sop),
        element(0x0008, 0x0060, 'CS', 'SM'),
        element(0x0020, 0x000D, 'UI', ROOT_UID + '.100'),
        element(0x0020, 0x000E, 'UI', ROOT_UID + '.200'),
        element(0x0020, 0x9311, 'CS', 'TILED_FULL'),
        element(0x0028, 0x0002, 'US', struct.pack('<H', 3)),
        element(0x0028, 0x0004, 'CS', 'YBR_FULL_422'),
        element(0x0028, 0x0006, 'US', struct.pack('<H', 0)),
        element(0x0028, 0x0008, 'IS', str(len(frames))),
        element(0x0028, 0x0010, 'US', struct.pack('<H', tile[1])),
        element(0x0028, 0x0011, 'US', struct.pack('<H', tile[0])),
        element(0x0028, 0x0100, 'US', struct.pack('<H', 8)),
        element(0x0028, 0x0101, 'US', struct.pack('<H', 8)),
        element(0x0028, 0x0102, 'US', struct.pack('<H', 7)),
        element(0x0028, 0x0103, 'US', struct.pack('<H', 0)),
        element(0x0048, 0x0006, 'UL', struct.pack('<I', size[0])),
        element(0x0048, 0x0007, 'UL', struct.pack('<I', size[1])),
        sequence(0x0048, 0x0105, [path_item]),
        sequence(0x5200, 0x9229, [shared]),
    ])
    partial = path.with_suffix('.part')
    with open(partial, 'wb') as out:
        out.write(b'\0' * 128 + b'DICM' + meta + data + encapsulated(frames))
    partial.rename(path)


def make_slides(out, folder):
    import strata
    folder.mkdir(parents=True, exist_ok=True)
    ztx = folder / ('dicom-bench-%dx%d.ztx' % (WIDTH, HEIGHT))
    series = folder / ('dicom-bench-%dx%d' % (WIDTH, HEIGHT))
    if not ztx.exists():
        subprocess.run([str(pathlib.Path(out) / 'strata'), 'synth', str(ztx), '--width',
                        str(WIDTH), '--height', str(HEIGHT)], check=True)
    series.mkdir(exist_ok=True)
    with strata.open_slide(str(ztx)) as slide:
        mpp = float(slide.properties.get('openslide.mpp-x', '0.25'))
        for level in range(slide.level_count):
            path = series / ('level-%d.dcm' % level)
            if path.exists():
                continue
            width, height = slide.level_dimensions[level]
            tile_w, tile_h = slide.level_tile_sizes[level]
            frames = []
            for row in range(-(-height // tile_h)):
                for column in range(-(-width // tile_w)):
                    encoding, stream, _, _ = slide._native.read_tile_stream(level, column, row)
                    assert encoding == 'jpeg', 'the ZTX holds %s tiles' % encoding
                    frames.append(stream)
            write_instance(path, level, (width, height), (tile_w, tile_h), frames,
                           mpp * slide.level_downsamples[level])
    return str(ztx), str(series / 'level-0.dcm')


def main():
    args = parse()
    sys.path.insert(0, args.out)
    import strata

    ztx, dicom = make_slides(args.out, pathlib.Path(args.dir))
    ours, theirs = strata.open_slide(dicom), strata.open_slide(ztx)
    assert ours.level_dimensions[:3] == theirs.level_dimensions[:3], 'levels differ'
    print('slide %d x %d, levels %s' % (WIDTH, HEIGHT, ours.level_dimensions[:3]))
    print('%-30s %10s %10s %7s' % ('case (Mpx/s)', 'dicom', 'ztx', 'ratio'))

    def open_case(path):
        def work(_rng):
            strata.open_slide(path).close()
        return work

    for size in (512, 2048):
        for level in (0, 1, 2):
            a = rate(region_reads(ours, level, size, as_array=True), args.seconds) * size * size / 1e6
            b = rate(region_reads(theirs, level, size, as_array=True), args.seconds) * size * size / 1e6
            print('%-30s %10.1f %10.1f %6.2fx' % ('read_region L%d %d^2' % (level, size), a, b,
                                                 a / b))
    a, b = rate(open_case(dicom), args.seconds), rate(open_case(ztx), args.seconds)
    print('%-30s %10.1f %10.1f %6.2fx' % ('open (1/s)', a, b, a / b))


if __name__ == '__main__':
    main()
