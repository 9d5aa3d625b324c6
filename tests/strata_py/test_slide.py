"""strata.Slide: attributes against the header, pixels against the stored
tiles and the library's regions, errors, pickling, threads."""
import concurrent.futures
import math
import pathlib
import pickle
import threading

import numpy as np
import pytest
from PIL import Image

import strata
from conftest import level_from_tiles


def halvings(width, height, count):
    sizes = [(width, height)]
    for _ in range(count - 1):
        w, h = sizes[-1]
        sizes.append(((w + 1) // 2, (h + 1) // 2))
    return tuple(sizes)


def test_attributes_follow_the_header(bmp_slide, library):
    handle = library.open(bmp_slide.path)
    header = library.header(handle)
    library.close(handle)
    with strata.open_slide(bmp_slide.path) as slide:
        assert slide.dimensions == (header['width'], header['height']) == (1001, 703)
        # Levels halve (rounding up) until the level fits in one 256 tile.
        assert slide.level_count == 3
        assert slide.level_dimensions == halvings(1001, 703, 3)
        assert slide.level_dimensions == ((1001, 703), (501, 352), (251, 176))
        assert slide.level_downsamples == (1.0, 2.0, 4.0)
        props = slide.properties
        assert props['strata.objective-power'] == str(header['scale']) == '20'
        assert props['strata.block-size'] == str(header['block'])
        assert props['strata.vendor'] == 'ztx'
        assert props['strata.version'] == '1.3'
        assert props['strata.level-count'] == '3'
        assert props['strata.level[2].width'] == '251'
        assert props['strata.level[2].downsample'] == '4'
        assert all(isinstance(v, str) for v in props.values())
        with pytest.raises(TypeError):
            props['strata.vendor'] = 'x'
        assert [slide.get_best_level_for_downsample(d) for d in (0.5, 1, 1.9, 2, 3.99, 4, 100)] == \
            [0, 0, 0, 1, 1, 2, 2]


def test_properties_carry_the_header_facts_and_items(make_slide):
    facts = make_slide('facts.ztx', 600, 400, '--facts')
    with strata.open_slide(facts.path) as slide:
        props = slide.properties
    assert props['strata.scan-time'] == '2023-11-14T22:13:20+00:00'
    assert props['strata.scan-duration'] == '3723.456'
    assert props['strata.mpp-x'] == props['strata.mpp-y'] == '0.25'
    assert props['strata.machine-serial'] == props['ztx.item.29'] == 'SN-4711'
    assert (props['ztx.item.31'], props['ztx.item.32']) == ('7', '3')
    assert props['ztx.item.60'] == 'stain H&E'


def test_levels_left_out_by_the_level_mode(make_slide, library):
    # Mode 1 stores the scan level and a quarter, not the half.
    sparse = make_slide('sparse.ztx', 1001, 703, '--bmp', '--level-mode', '1')
    with strata.open_slide(sparse.path) as slide:
        assert slide.level_dimensions == ((1001, 703), (251, 176))
        assert slide.level_downsamples == (1.0, 4.0)
        assert slide.get_best_level_for_downsample(2.5) == 0
        got = slide.read_region((0, 0), 1, (251, 176), as_array=True)
        half = slide.read_scaled(0, 0, 300, 200, 10.0)
    np.testing.assert_array_equal(got, level_from_tiles(library, sparse.path, 5.0, 251, 176))
    handle = library.open(sparse.path)
    np.testing.assert_array_equal(half, library.region(handle, 10.0, 0, 0, 300, 200))
    library.close(handle)


def test_associated_images_are_the_stored_pictures(bmp_slide):
    preview = bmp_slide.images[:96 * 60 * 3].reshape(60, 96, 3)
    label = bmp_slide.images[96 * 60 * 3:].reshape(40, 72, 3)
    with strata.open_slide(bmp_slide.path) as slide:
        images = slide.associated_images
        assert set(images) == {'label', 'preview', 'thumbnail'}
        np.testing.assert_array_equal(np.asarray(images['preview']), preview)
        np.testing.assert_array_equal(np.asarray(images['label']), label)
        assert images['thumbnail'].mode == 'RGB'
        assert images['macro'] is images['preview']
        with pytest.raises(KeyError):
            images['overview']


def test_missing_associated_images_are_absent(make_slide):
    bare = make_slide('bare.ztx', 300, 200, '--no-label', '--no-preview')
    with strata.open_slide(bare.path) as slide:
        assert 'label' not in slide.associated_images
        assert 'preview' not in slide.associated_images


# (x, y, w, h) in level pixels: inside, across tiles, over the right and bottom
# edges, before the origin, wholly outside.
RECTS = [(0, 0, 256, 256), (100, 37, 300, 230), (180, 120, 400, 300), (-30, -20, 90, 70),
         (2000, 2000, 10, 10), (5, 3, 1, 1)]


@pytest.fixture(scope='module')
def shared_bmp(bmp_slide):
    """One open slide for many reads, so that they meet tiles decoded before."""
    with strata.open_slide(bmp_slide.path) as slide:
        yield slide


@pytest.mark.parametrize('level', [0, 1, 2])
@pytest.mark.parametrize('rect', RECTS)
def test_read_region_is_the_stored_tiles(bmp_slide, shared_bmp, library, level, rect):
    x, y, w, h = rect
    slide = shared_bmp
    width, height = slide.level_dimensions[level]
    scale = 20.0 / 2 ** level
    whole = level_from_tiles(library, bmp_slide.path, scale, width, height)
    expected = np.zeros((h, w, 4), np.uint8)
    x0, y0, x1, y1 = max(x, 0), max(y, 0), min(x + w, width), min(y + h, height)
    if x1 > x0 and y1 > y0:
        expected[y0 - y:y1 - y, x0 - x:x1 - x] = whole[y0:y1, x0:x1]
    ds = 2 ** level
    got = slide.read_region((x * ds, y * ds), level, (w, h), as_array=True)
    assert got.shape == (h, w, 4) and got.dtype == np.uint8
    np.testing.assert_array_equal(got, expected)
    image = slide.read_region((x * ds, y * ds), level, (w, h))
    assert image.mode == 'RGBA' and image.size == (w, h)
    np.testing.assert_array_equal(np.asarray(image), expected)


def test_read_region_at_level_zero_is_the_written_pixels(bmp_slide):
    with strata.open_slide(bmp_slide.path) as slide:
        got = slide.read_region((0, 0), 0, (1001, 703), as_array=True)
    assert (got[:, :, 3] == 255).all()
    np.testing.assert_array_equal(got[:, :, :3], bmp_slide.rgb)


@pytest.mark.parametrize('level', [0, 1, 2])
def test_read_region_agrees_with_library_regions(jpeg_slide, library, level):
    scale = 20.0 / 2 ** level
    handle = library.open(jpeg_slide.path)
    with strata.open_slide(jpeg_slide.path) as slide:
        width, height = slide.level_dimensions[level]
        for x, y, w, h in [(0, 0, width, height), (70, 90, 200, 150)]:
            theirs = library.region(handle, scale, x, y, w, h)
            ours = slide.read_region((x * 2 ** level, y * 2 ** level), level, (w, h), as_array=True)
            # The library clips a level at round(size * scale) pixels.
            cw = min(w, int(1000 * scale / 20 + 0.5) - x)
            ch = min(h, int(700 * scale / 20 + 0.5) - y)
            np.testing.assert_array_equal(ours[:ch, :cw, :3], theirs[:ch, :cw])
    library.close(handle)


@pytest.mark.parametrize('scale', [20.0, 40.0, 13.7, 10.0, 7.5, 4.0])
@pytest.mark.parametrize('rect', [(0, 0, 300, 200), (-15, 40, 120, 90), (150, 100, 400, 300)])
def test_read_scaled_is_the_library_region(jpeg_slide, library, scale, rect):
    handle = library.open(jpeg_slide.path)
    expected = library.region(handle, scale, *rect)
    library.close(handle)
    with strata.open_slide(jpeg_slide.path) as slide:
        got = slide.read_scaled(*rect, scale)
    assert got.shape == (rect[3], rect[2], 3) and got.dtype == np.uint8
    if expected is None:  # the library refuses rectangles that miss the slide
        assert (got == 255).all()
    else:
        np.testing.assert_array_equal(got, expected)


def test_read_scaled_outside_the_slide_is_white(jpeg_slide):
    with strata.open_slide(jpeg_slide.path) as slide:
        assert (slide.read_scaled(5000, 10, 20, 30, 20.0) == 255).all()
        assert (slide.read_scaled(-100, -100, 50, 50, 5.0) == 255).all()


def test_thumbnail_fits_and_shows_the_slide(jpeg_slide):
    with strata.open_slide(jpeg_slide.path) as slide:
        thumb = slide.get_thumbnail((100, 100))
        assert thumb.mode == 'RGB' and thumb.size == (100, 70)
        expected = slide.read_scaled(0, 0, 100, 70, 2.0)
    np.testing.assert_array_equal(np.asarray(thumb), expected)


def test_results_are_owned_by_python(jpeg_slide):
    slide = strata.open_slide(jpeg_slide.path)
    first = slide.read_region((0, 0), 0, (64, 64), as_array=True)
    copy = first.copy()
    slide.read_region((0, 0), 0, (64, 64), as_array=True)[:] = 0
    slide.close()
    np.testing.assert_array_equal(first, copy)
    assert first.flags.owndata or first.base is not None


def one_line(error):
    text = str(error.value)
    return text and '\n' not in text


@pytest.mark.parametrize('make_path, kind', [
    (lambda folder: str(folder / 'absent.ztx'), FileNotFoundError),
    (lambda folder: str(folder / 'notes.txt'), strata.UnsupportedFormatError),
    (lambda folder: str(folder / 'damaged.ztx'), strata.SlideError),
    (lambda folder: str(folder / 'empty.ztx'), strata.SlideError),
    (lambda folder: 'https://127.0.0.1:9/slide.ztx', strata.SlideError),
    (lambda folder: '', ValueError),
    (lambda folder: 42, ValueError),
])
def test_paths_that_do_not_open(folder, damaged_slide, make_path, kind):
    (folder / 'notes.txt').write_text('not a slide')
    (folder / 'empty.ztx').write_bytes(b'')
    with pytest.raises(kind) as raised:
        strata.open_slide(make_path(folder))
    assert one_line(raised)


@pytest.mark.parametrize('call, kind', [
    (lambda s: s.read_region((0, 0), 3, (10, 10)), ValueError),
    (lambda s: s.read_region((0, 0), -1, (10, 10)), ValueError),
    (lambda s: s.read_region((0, 0), 0, (-1, 10)), ValueError),
    (lambda s: s.read_region((0, 0), 0, (10,)), ValueError),
    (lambda s: s.read_region((0.5, 0), 0, (10, 10)), ValueError),
    (lambda s: s.read_region((2 ** 70, 0), 0, (10, 10)), ValueError),
    (lambda s: s.read_region((0, 0), 0, (20000, 20000)), strata.SlideError),
    (lambda s: s.read_region((0, 0), 0, (2 ** 33, 1)), strata.SlideError),
    (lambda s: s.read_scaled(2 ** 33, 0, 10, 10, 20.0), ValueError),
    (lambda s: s.read_scaled(0, 0, 0, 10, 20.0), ValueError),
    (lambda s: s.read_scaled(0, 0, 10, 10, 0.0), ValueError),
    (lambda s: s.read_scaled(0, 0, 10, 10, float('nan')), ValueError),
    (lambda s: s.read_scaled(0, 0, 20000, 20000, 20.0), strata.SlideError),
    (lambda s: s.get_thumbnail((0, 10)), ValueError),
    (lambda s: s.read_tile(0, 2 ** 33, 0), ValueError),
    (lambda s: s.read_tile(0, -1, 0), ValueError),
])
def test_bad_requests(jpeg_slide, call, kind):
    with strata.open_slide(jpeg_slide.path) as slide:
        with pytest.raises(kind) as raised:
            call(slide)
        assert one_line(raised)
        assert slide.read_region((0, 0), 0, (4, 4), as_array=True).shape == (4, 4, 4)


def test_closed_slide_refuses_every_use(jpeg_slide):
    slide = strata.open_slide(jpeg_slide.path)
    with slide:
        pass
    assert slide.closed
    slide.close()  # idempotent
    for use in (lambda: slide.dimensions, lambda: slide.properties,
                lambda: slide.read_region((0, 0), 0, (4, 4)),
                lambda: slide.read_scaled(0, 0, 4, 4, 20.0),
                lambda: slide.associated_images['label'], lambda: slide.zarr_store(0)):
        with pytest.raises(strata.SlideError, match='closed'):
            use()


def test_pickles_as_its_path(jpeg_slide):
    with strata.open_slide(pathlib.Path(jpeg_slide.path)) as slide:
        data = pickle.dumps(slide)
        assert len(data) < 300
        region = slide.read_region((100, 100), 1, (64, 64), as_array=True)
    other = pickle.loads(data)
    assert other.path == jpeg_slide.path and not other.closed
    np.testing.assert_array_equal(other.read_region((100, 100), 1, (64, 64), as_array=True), region)
    other.close()


def test_eight_threads_on_one_slide(jpeg_slide):
    rng = np.random.default_rng(7)
    requests = [(int(rng.integers(-50, 900)), int(rng.integers(-50, 600)), int(rng.integers(0, 3)),
                 int(rng.integers(1, 300)), int(rng.integers(1, 300))) for _ in range(96)]
    with strata.open_slide(jpeg_slide.path) as slide:
        def read(request):
            x, y, level, w, h = request
            return (slide.read_region((x, y), level, (w, h), as_array=True),
                    slide.read_scaled(x, y, w, h, 20.0 / (level + 1.3)))
        alone = [read(r) for r in requests]
        with concurrent.futures.ThreadPoolExecutor(8) as pool:
            together = list(pool.map(read, requests))
    for (a1, a2), (b1, b2) in zip(alone, together):
        np.testing.assert_array_equal(a1, b1)
        np.testing.assert_array_equal(a2, b2)


def test_close_while_threads_read(jpeg_slide):
    slide = strata.open_slide(jpeg_slide.path)
    started = threading.Barrier(5)
    outcomes = []

    def read():
        started.wait()
        for n in range(200):
            try:
                slide.read_region((n, n), n % 3, (128, 128), as_array=True)
            except strata.SlideError as e:
                outcomes.append(str(e))
                return
        outcomes.append('finished')

    threads = [threading.Thread(target=read) for _ in range(4)]
    for t in threads:
        t.start()
    started.wait()
    slide.close()
    for t in threads:
        t.join(timeout=60)
    assert len(outcomes) == 4
    assert all(o == 'finished' or 'closed' in o for o in outcomes)


def test_version_is_the_build_version():
    assert strata.__version__ and strata.__version__[0].isdigit()


@pytest.mark.parametrize('scale', [1.0, 0.5])
def test_read_scaled_below_the_smallest_level_shrinks_it(bmp_slide, scale):
    with strata.open_slide(bmp_slide.path) as slide:
        w, h = int(1001 * scale / 20 + 0.5), int(703 * scale / 20 + 0.5)
        got = slide.read_scaled(0, 0, w, h, scale)
        smallest = slide.read_region((0, 0), 2, slide.level_dimensions[2], as_array=True)
    expected = np.asarray(Image.fromarray(smallest[:, :, :3]).resize((w, h), Image.BILINEAR))
    assert got.shape == (h, w, 3)
    # Same picture as shrinking the smallest level (not the white the
    # library gives below its levels), up to where the edges round.
    assert np.abs(got.astype(int) - expected).mean() < 8
    assert got.min() < 200
