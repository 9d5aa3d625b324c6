#!/usr/bin/python3
"""Reads regions of a pyramidal JPEG TIFF over HTTP the way the field's
Python readers do: tifffile over an fsspec HTTP file, regions sliced from the
zarr view of the base level. JPEG tiles are decoded with Pillow (tifffile
would use imagecodecs, which Debian does not ship).

usage: tifffile_regions.py URL REGIONS_FILE
REGIONS_FILE: one "x y width height" per line. Prints, per line, the
seconds the region took, then "open SECONDS" for opening the file first.
"""
import io
import sys
import time

import fsspec
import numpy
import tifffile
import zarr
from PIL import Image


def decode_jpeg(data, *args, tables=None, header=None, out=None, **kwargs):
    if header:
        data = header + data
    if tables:
        # Abbreviated streams: the shared tables go in front, without the
        # tables' end marker and the tile's start marker.
        data = tables[:-2] + data[2:]
    return numpy.asarray(Image.open(io.BytesIO(data)).convert('RGB'))


def main():
    url, regions_file = sys.argv[1], sys.argv[2]
    tifffile.tifffile.imagecodecs.jpeg_decode = decode_jpeg
    regions = [tuple(int(v) for v in line.split()) for line in open(regions_file) if line.strip()]
    start = time.perf_counter()
    # fsspec's default read-ahead block cache, as the field uses it.
    remote = fsspec.open(url, 'rb').open()
    tiff = tifffile.TiffFile(remote)
    base = zarr.open(tiff.series[0].aszarr(level=0), mode='r')
    print('open %.6f' % (time.perf_counter() - start), flush=True)
    for x, y, w, h in regions:
        start = time.perf_counter()
        pixels = base[y:y + h, x:x + w]
        assert pixels.shape[:2] == (h, w)
        print('%.6f' % (time.perf_counter() - start), flush=True)
    tiff.close()
    remote.close()


if __name__ == '__main__':
    main()
