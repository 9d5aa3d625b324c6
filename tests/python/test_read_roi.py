"""ReadRoi: exact pixels at the scan scale, white padding outside the slide,
scaled reads, whole and block mode agreeing, and the degenerate requests."""
import math
import pathlib

import numpy as np
import pytest

import ztxReader
from conftest import read

WHITE = 255

REGIONS = [
    (0, 0, 256, 256),        # one whole tile
    (100, 50, 300, 200),     # crosses tile edges
    (0, 0, 1000, 700),       # the whole slide
    (700, 500, 300, 200),    # bottom-right corner, partial edge tiles
    (255, 255, 2, 2),        # four tiles meet
    (999, 699, 1, 1),        # last pixel
]

OUTSIDE = [
    (-30, 0, 100, 50),       # left
    (950, 10, 100, 40),      # right
    (10, -20, 64, 64),       # top
    (10, 680, 64, 64),       # bottom
    (-5, -7, 1010, 714),     # around the whole slide
]

FAR_OUTSIDE = [
    (1000, 0, 50, 40),
    (0, 700, 50, 40),
    (-100, 0, 100, 10),
    (0, -64, 10, 64),
    (5000, 5000, 8, 8),
]


def bilinear(image, width, height):
    """cv::resize with INTER_LINEAR, computed in floating point."""
    src_h, src_w = image.shape[:2]

    def axis(count, source):
        scale = source / count
        pos = (np.arange(count) + 0.5) * scale - 0.5
        low = np.floor(pos).astype(int)
        frac = pos - low
        frac[low < 0] = 0
        low[low < 0] = 0
        edge = low >= source - 1
        low[edge] = source - 1
        frac[edge] = 0
        high = np.minimum(low + 1, source - 1)
        return low, high, frac

    xl, xh, fx = axis(width, src_w)
    yl, yh, fy = axis(height, src_h)
    img = image.astype(np.float64)
    top = img[yl][:, xl] * (1 - fx)[None, :, None] + img[yl][:, xh] * fx[None, :, None]
    bottom = img[yh][:, xl] * (1 - fx)[None, :, None] + img[yh][:, xh] * fx[None, :, None]
    out = top * (1 - fy)[:, None, None] + bottom * fy[:, None, None]
    return out


def expected_scaled(slide, x, y, w, h, scale, scan_scale=20):
    """A region inside the slide read at `scale`: the full-resolution region
    mapped with the reader's single-precision arithmetic, resized bilinearly,
    its last row and column repeated where truncation left it short."""
    k = np.float32(scan_scale / scale)
    x0, y0 = int(np.float32(x) * k), int(np.float32(y) * k)
    x1, y1 = int(np.float32(x + w) * k), int(np.float32(y + h) * k)
    wr, hr = int(np.float32(x1 - x0) / k), int(np.float32(y1 - y0) / k)
    scaled = bilinear(slide.bgr[y0:y1, x0:x1], wr, hr)[:h, :w]
    return np.pad(scaled, ((0, h - scaled.shape[0]), (0, w - scaled.shape[1]), (0, 0)),
                  mode='edge')


@pytest.fixture(params=[False, True], ids=['block', 'whole'])
def mode(request):
    return request.param


@pytest.mark.parametrize('x,y,w,h', REGIONS)
def test_scan_scale_region_is_the_stored_pixels(reader, bmp_slide, mode, x, y, w, h):
    assert reader.ReadInfo(bmp_slide.path, 20.0, mode)
    np.testing.assert_array_equal(read(reader, x, y, w, h, 20.0), bmp_slide.region(x, y, w, h))


@pytest.mark.parametrize('x,y,w,h', OUTSIDE)
def test_parts_outside_the_slide_are_white(reader, bmp_slide, mode, x, y, w, h):
    assert reader.ReadInfo(bmp_slide.path, 0.0, mode)
    got = read(reader, x, y, w, h, 20.0)
    np.testing.assert_array_equal(got, bmp_slide.region(x, y, w, h))
    # The stated border widths: min(w, -x) columns on the left and so on.
    left, top = min(w, max(0, -x)), min(h, max(0, -y))
    right, bottom = min(w, max(0, x + w - 1000)), min(h, max(0, y + h - 700))
    assert (got[:, :left] == WHITE).all() and (got[:top] == WHITE).all()
    assert (got[:, w - right:] == WHITE).all() and (got[h - bottom:] == WHITE).all()
    inner = got[top:h - bottom, left:w - right]
    assert inner.size > 0 and (inner != WHITE).any(axis=2).all()


@pytest.mark.parametrize('x,y,w,h', FAR_OUTSIDE)
def test_region_wholly_outside_is_all_white(reader, bmp_slide, mode, x, y, w, h):
    assert reader.ReadInfo(bmp_slide.path, 0.0, mode)
    got = reader.ReadRoi(x, y, w, h, 20.0)
    assert got.size == w * h * 3 and (got == WHITE).all()


@pytest.mark.parametrize('slide_name,scale', [
    ('bmp_slide', 20.0), ('bmp_slide', 15.0), ('bmp_slide', 12.5),
    ('jpeg_slide', 20.0), ('jpeg_slide', 10.0), ('jpeg_slide', 5.0),
])
def test_whole_and_block_mode_read_the_same(request, slide_name, scale):
    slide = request.getfixturevalue(slide_name)
    whole, block = ztxReader.reader(), ztxReader.reader()
    assert whole.ReadInfo(slide.path, scale, True)
    assert block.ReadInfo(slide.path, scale, False)
    assert (whole.getWidth(), whole.getHeight()) == (block.getWidth(), block.getHeight())
    w_, h_ = whole.getWidth(), whole.getHeight()
    for x, y, w, h in REGIONS[1:2] + REGIONS[3:] + OUTSIDE[:4] + [
            (-3, -3, w_ + 6, h_ + 6), (w_ // 3, h_ // 5, w_ // 2, h_ // 2)]:
        a = whole.ReadRoi(x, y, w, h, scale)
        b = block.ReadRoi(x, y, w, h, scale)
        assert a.size == w * h * 3
        np.testing.assert_array_equal(a, b, err_msg=f'region {(x, y, w, h)} at {scale}')


def test_jpeg_tiles_decode_close_to_the_source(reader, jpeg_slide):
    assert reader.ReadInfo(jpeg_slide.path, 20.0, True)
    got = read(reader, 0, 0, 1000, 700, 20.0).astype(int)
    assert np.abs(got - jpeg_slide.bgr.astype(int)).mean() < 3


def test_half_scale_is_sized_and_scaled_as_stated(reader, bmp_slide, mode):
    assert reader.ReadInfo(bmp_slide.path, 10.0, mode)
    assert (reader.getWidth(), reader.getHeight()) == (500, 350)
    got = read(reader, 0, 0, 500, 350, 10.0).astype(int)
    # Halving with INTER_LINEAR averages each 2 x 2 block.
    blocks = bmp_slide.bgr.astype(int).reshape(350, 2, 500, 2, 3).mean(axis=(1, 3))
    assert np.abs(got - blocks).max() <= 1


@pytest.mark.parametrize('scale,x,y,w,h', [
    (10.0, 37, 21, 123, 77),
    (15.0, 0, 0, 100, 100),
    (15.0, 11, 13, 333, 171),
    (7.0, 3, 5, 200, 150),
    (13.3, 17, 1, 97, 61),
])
def test_scaled_region_inside_the_slide(reader, bmp_slide, mode, scale, x, y, w, h):
    assert reader.ReadInfo(bmp_slide.path, scale, mode)
    got = read(reader, x, y, w, h, scale).astype(int)
    assert np.abs(got - expected_scaled(bmp_slide, x, y, w, h, scale)).max() <= 1


@pytest.mark.parametrize('scale', [15.0, 13.3, 7.0, 3.0, 30.0])
def test_uneven_scale_reads_exactly_w_by_h_everywhere(reader, bmp_slide, mode, scale):
    assert reader.ReadInfo(bmp_slide.path, scale, mode)
    W, H = reader.getWidth(), reader.getHeight()
    for x, y, w, h in [(-7, -3, 50, 40), (W - 33, H - 17, 61, 29), (0, 0, W, H),
                       (-1, -1, W + 2, H + 2), (W // 2, 0, 1, H), (1, 1, 3, 3)]:
        got = read(reader, x, y, w, h, scale)
        if x < 0:
            assert (got[:, :-x] == WHITE).all()
        if y < 0:
            assert (got[:-y] == WHITE).all()


@pytest.mark.parametrize('w,h', [(0, 0), (0, 10), (10, 0)])
def test_empty_region_gives_no_bytes(reader, bmp_slide, w, h):
    assert reader.ReadInfo(bmp_slide.path)
    got = reader.ReadRoi(5, 5, w, h, 20.0)
    assert got.dtype == np.uint8 and got.size == 0


@pytest.mark.parametrize('scale', [0.0, -20.0, math.nan, -math.inf])
def test_unusable_scale_gives_white(reader, bmp_slide, scale):
    assert reader.ReadInfo(bmp_slide.path)
    got = reader.ReadRoi(0, 0, 30, 20, scale)
    assert got.size == 30 * 20 * 3 and (got == WHITE).all()


def test_negative_size_is_refused(reader, bmp_slide):
    assert reader.ReadInfo(bmp_slide.path)
    with pytest.raises(ValueError):
        reader.ReadRoi(0, 0, -4, -4, 20.0)
    with pytest.raises(ValueError):
        reader.ReadRoi(0, 0, 4, -1, 20.0)


def test_oversized_result_is_refused(reader, bmp_slide):
    assert reader.ReadInfo(bmp_slide.path)
    with pytest.raises(ValueError):
        reader.ReadRoi(0, 0, 50000, 50000, 20.0)


def test_block_mode_slide_gone_gives_white_and_says_so(tmp_path, capfd):
    from conftest import write_slide
    slide = write_slide(tmp_path / 'gone.ztx', 300, 300, '--bmp')
    r = ztxReader.reader()
    assert r.ReadInfo(slide.path)
    pathlib.Path(slide.path).unlink()
    capfd.readouterr()
    got = r.ReadRoi(0, 0, 16, 8, 20.0)
    assert got.size == 16 * 8 * 3 and (got == WHITE).all()
    assert 'Empty ztx pointer' in capfd.readouterr().out


def test_whole_mode_after_clear_gives_white_and_says_so(bmp_slide, capfd):
    r = ztxReader.reader()
    assert r.ReadInfo(bmp_slide.path, 0.0, True)
    assert r.clear() == 0
    capfd.readouterr()
    got = r.ReadRoi(10, 10, 16, 8, 20.0)
    assert got.size == 16 * 8 * 3 and (got == WHITE).all()
    assert 'Empty ztx pointer' in capfd.readouterr().out


def test_read_before_any_read_info_gives_white():
    r = ztxReader.reader()
    got = r.ReadRoi(0, 0, 8, 8, 20.0)
    assert got.size == 192 and (got == WHITE).all()


def test_damaged_tile_stays_white_and_is_reported(tmp_path, capfd, mode):
    from conftest import write_slide
    slide = write_slide(tmp_path / 'damaged.ztx', 600, 300, '--bmp')
    tile = next(t for t in slide.layout['tiles'] if (t['x'], t['y']) == (256, 0)
                and t['scale'] == 20)
    with open(slide.path, 'r+b') as f:
        f.seek(slide.layout['index_offset'] + tile['offset'])
        f.write(b'XX')  # no longer a BMP signature
    r = ztxReader.reader()
    assert r.ReadInfo(slide.path, 0.0, mode)
    capfd.readouterr()
    got = read(r, 200, 10, 200, 100, 20.0)
    err = capfd.readouterr().err
    assert slide.path in err and f'{200:>8}{10:>8}' in err and f'{1:>8}{0:>8}' in err
    assert (got[:, 56:] == WHITE).all()
    np.testing.assert_array_equal(got[:, :56], slide.region(200, 10, 56, 100))


def test_large_regions_across_many_tiles(slides, mode):
    slide = slides('wide.ztx', 1800, 1300, '--bmp')
    r = ztxReader.reader()
    assert r.ReadInfo(slide.path, 20.0, mode)
    for x, y, w, h in [(129, 257, 1500, 1000), (-50, -50, 1900, 1400)]:
        np.testing.assert_array_equal(read(r, x, y, w, h, 20.0), slide.region(x, y, w, h))


# Block mode with tiles smaller than 256 is left out: the library's block
# open counts 256-pixel tiles and stops reading the index early.
@pytest.mark.parametrize('block,mode', [(128, True), (512, False), (512, True)])
def test_other_block_sizes(slides, block, mode):
    slide = slides(f'block{block}.ztx', 900, 650, '--bmp', '--block', str(block))
    r = ztxReader.reader()
    assert r.ReadInfo(slide.path, 0.0, mode)
    for x, y, w, h in [(0, 0, 900, 650), (100, 333, 517, 300), (-10, 600, 40, 100)]:
        np.testing.assert_array_equal(read(r, x, y, w, h, 20.0), slide.region(x, y, w, h))


def test_switching_slides_reads_the_new_one(reader, slides, bmp_slide, mode):
    other = slides('other.ztx', 700, 500, '--bmp')
    assert reader.ReadInfo(bmp_slide.path, 0.0, mode)
    np.testing.assert_array_equal(read(reader, 0, 0, 64, 64, 20.0), bmp_slide.region(0, 0, 64, 64))
    assert reader.ReadInfo(other.path, 0.0, mode)
    assert (reader.getWidth(), reader.getHeight()) == (700, 500)
    np.testing.assert_array_equal(read(reader, 650, 450, 64, 64, 20.0),
                                  other.region(650, 450, 64, 64))


def test_tiles_that_can_no_longer_be_read_stay_white(tmp_path):
    """A whole-mode slide cut short after opening: the lost tiles must not
    show the bytes of tiles read before them."""
    from conftest import write_slide
    slide = write_slide(tmp_path / 'cut.ztx', 768, 512, '--bmp')
    r = ztxReader.reader()
    assert r.ReadInfo(slide.path, 0.0, True)
    tiles = {(t['x'], t['y']): t for t in slide.layout['tiles'] if t['scale'] == 20}
    cut = slide.layout['index_offset'] + tiles[(512, 256)]['offset']
    assert all(slide.layout['index_offset'] + t['offset'] < cut
               for xy, t in tiles.items() if xy != (512, 256))
    with open(slide.path, 'r+b') as f:
        f.truncate(cut)
    got = read(r, 0, 0, 768, 512, 20.0)
    np.testing.assert_array_equal(got[:, :512], slide.region(0, 0, 512, 512))
    np.testing.assert_array_equal(got[:256, 512:], slide.region(512, 0, 256, 256))
    assert (got[256:, 512:] == WHITE).all()


@pytest.mark.parametrize('length', [50_000_000, 2**31 - 1, 196_663 + 200_000])
def test_tile_record_longer_than_a_tile_is_refused(tmp_path, capfd, mode, length):
    """A damaged index entry claiming a huge tile: nothing is allocated for
    it or read past any buffer; that tile stays white."""
    import struct
    from conftest import write_slide
    slide = write_slide(tmp_path / 'long.ztx', 600, 300, '--bmp')
    index = [i for i, t in enumerate(slide.layout['tiles'])
             if (t['x'], t['y'], t['scale']) == (256, 0, 20)]
    with open(slide.path, 'r+b') as f:
        f.seek(slide.layout['index_offset'] + index[0] * 64 + 32)
        f.write(struct.pack('<i', length))
    r = ztxReader.reader()
    assert r.ReadInfo(slide.path, 0.0, mode)
    capfd.readouterr()
    got = read(r, 0, 0, 600, 256, 20.0)
    np.testing.assert_array_equal(got[:, :256], slide.region(0, 0, 256, 256))
    np.testing.assert_array_equal(got[:, 512:], slide.region(512, 0, 88, 256))
    assert (got[:, 256:512] == WHITE).all()
