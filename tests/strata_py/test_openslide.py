"""strata.openslide as a drop-in for openslide-python: paths, errors (and
that they stick), closed slides, arguments, the cache, ImageSlide; compared
with Debian's python3-openslide where it reads the same file."""
import ctypes
import math
import os
import pathlib
import shutil

import numpy as np
import pytest
from PIL import Image, ImageCms

import strata
import strata.openslide as openslide

try:
    import openslide as reference  # Debian's python3-openslide
except ImportError:
    reference = None


@pytest.fixture(scope='module')
def svs(make_tiff):
    """1900 x 1300, levels 4 and 16 times smaller, label and macro."""
    return make_tiff('svs', 'matrix.svs', 1900, 1300, '--images')


@pytest.fixture(scope='module')
def unreadable_svs(make_tiff):
    """An SVS whose fourth tile of level 0 does not decode."""
    return make_tiff('svs', 'unreadable.svs', 1200, 900, '--damage-tile', '3')


@pytest.fixture(scope='module')
def picture(folder):
    """A PNG with an ICC profile."""
    path = folder / 'picture.png'
    profile = ImageCms.ImageCmsProfile(ImageCms.createProfile('sRGB')).tobytes()
    pixels = np.random.default_rng(5).integers(0, 256, (53, 71, 3), np.uint8)
    Image.fromarray(pixels).save(path, icc_profile=profile)
    return str(path)


def both(path):
    """(ours, Debian's) on one file; Debian's is None without the package."""
    return openslide.OpenSlide(path), reference.OpenSlide(path) if reference else None


@pytest.mark.parametrize('name', ['plain.ztx', 'Präparat 片 №7.ztx', b'raw-\xff\xfe.ztx'])
@pytest.mark.parametrize('kind', [str, bytes, pathlib.Path])
def test_paths(jpeg_slide, folder, name, kind):
    target = os.path.join(os.fsencode(folder), name if isinstance(name, bytes) else name.encode())
    if not os.path.exists(target):
        shutil.copy(jpeg_slide.path, target)
    path = kind(os.fsdecode(target)) if kind is not bytes else target
    with openslide.OpenSlide(path) as slide:
        assert repr(slide) == 'OpenSlide(%r)' % (path,)
        assert slide.dimensions == (1000, 700)
        assert openslide.OpenSlide.detect_format(path) == 'ztx'
    assert type(openslide.open_slide(path)) is openslide.OpenSlide


@pytest.mark.parametrize('make_path, error, detected', [
    (lambda folder: str(folder / 'absent.svs'), openslide.OpenSlideUnsupportedFormatError, None),
    (lambda folder: str(folder), openslide.OpenSlideUnsupportedFormatError, None),
    (lambda folder: str(folder / 'notes.txt'), openslide.OpenSlideUnsupportedFormatError, None),
    (lambda folder: '', openslide.OpenSlideUnsupportedFormatError, None),
    (lambda folder: str(folder / 'damaged.ztx'), openslide.OpenSlideError, 'ztx'),
    (lambda folder: None, ctypes.ArgumentError, None),
    (lambda folder: 3, ctypes.ArgumentError, None),
])
def test_slides_that_do_not_open(folder, damaged_slide, make_path, error, detected):
    (folder / 'notes.txt').write_text('not a slide')
    with pytest.raises(error) as raised:
        openslide.OpenSlide(make_path(folder))
    if error is openslide.OpenSlideUnsupportedFormatError:
        assert isinstance(raised.value, strata.UnsupportedFormatError)
    if error is openslide.OpenSlideError:
        assert not isinstance(raised.value, openslide.OpenSlideUnsupportedFormatError)
    assert str(raised.value) and '\n' not in str(raised.value)
    assert openslide.OpenSlide.detect_format(make_path(folder)) == detected


def test_errors_stick_once_a_read_failed(unreadable_svs):
    ours, theirs = both(unreadable_svs)
    readers = [(ours, openslide.OpenSlideError)]
    if theirs is not None:
        readers.append((theirs, reference.OpenSlideError))
    for slide, error in readers:
        assert slide.properties['openslide.vendor'] == 'aperio'
        slide.read_region((0, 0), 0, (256, 256))  # an intact tile
        with pytest.raises(error):
            slide.read_region((768, 0), 0, (256, 256))
    with pytest.raises(openslide.OpenSlideError) as first:
        ours.read_region((0, 0), 0, (10, 10))
    for use in (lambda: ours.level_count, lambda: ours.level_dimensions,
                lambda: ours.properties, lambda: ours.associated_images,
                lambda: ours.get_best_level_for_downsample(2),
                lambda: ours.get_thumbnail((50, 50)), lambda: ours.color_profile):
        with pytest.raises(openslide.OpenSlideError) as again:
            use()
        assert str(again.value) == str(first.value)
    assert ours.read_region((0, 0), 0, (5, 0)).size == (5, 0)
    with pytest.raises(openslide.OpenSlideError, match='negative width'):
        ours.read_region((0, 0), 0, (-1, 5))
    ours.close()


def test_closed_slides_raise_argument_errors(svs):
    slide = openslide.OpenSlide(svs)
    properties, images = slide.properties, slide.associated_images
    with slide:
        pass
    uses = [lambda: slide.close(), lambda: slide.level_count, lambda: slide.dimensions,
            lambda: slide.level_downsamples, lambda: slide.properties,
            lambda: properties['openslide.vendor'], lambda: len(properties),
            lambda: images['label'], lambda: list(images), lambda: slide.color_profile,
            lambda: slide.read_region((0, 0), 0, (10, 10)),
            lambda: slide.get_best_level_for_downsample(2),
            lambda: slide.get_thumbnail((10, 10)),
            lambda: slide.set_cache(openslide.OpenSlideCache(10))]
    for use in uses:
        with pytest.raises(ctypes.ArgumentError, match='closed'):
            use()
    assert repr(slide) == 'OpenSlide(%r)' % svs


@pytest.mark.parametrize('location, level, size', [
    ((-100, -50), 0, (300, 200)),       # over the top-left corner
    ((1800, 1200), 0, (300, 200)),      # over the bottom-right corner
    ((5000, 5000), 0, (10, 10)),        # outside
    ((100, 100), 3, (50, 50)),          # no such level: transparent
    ((100, 100), -1, (50, 50)),
    ((2 ** 62, 0), 1, (8, 8)),
    ((123, 77), 1, (400, 0)),
    ((4, 8), 2, (118, 81)),             # the whole smallest level
])
def test_read_region_as_openslide_reads_it(svs, location, level, size):
    ours, theirs = both(svs)
    region = ours.read_region(location, level, size)
    assert region.mode == 'RGBA' and region.size == size
    if theirs is not None:
        np.testing.assert_array_equal(np.asarray(region),
                                      np.asarray(theirs.read_region(location, level, size)))
    if level not in (0, 1, 2):
        assert not np.asarray(region).any()


@pytest.mark.parametrize('call, error', [
    (lambda s: s.read_region((0.5, 0), 0, (4, 4)), ctypes.ArgumentError),
    (lambda s: s.read_region(('0', 0), 0, (4, 4)), ctypes.ArgumentError),
    (lambda s: s.read_region((0, 0), 0.0, (4, 4)), ctypes.ArgumentError),
    (lambda s: s.read_region((0, 0), 0, (4.0, 4)), TypeError),
    (lambda s: s.read_region((0, 0), 0, (4, -4)), openslide.OpenSlideError),
    (lambda s: s.get_best_level_for_downsample('2'), ctypes.ArgumentError),
    (lambda s: s.set_cache(None), TypeError),
    (lambda s: s.set_cache(3), TypeError),
])
def test_bad_arguments(svs, call, error):
    with openslide.OpenSlide(svs) as slide:
        with pytest.raises(error):
            call(slide)
        # Arguments are no read failure: the slide reads on.
        assert slide.read_region((0, 0), 0, (4, 4)).size == (4, 4)


def test_best_level_for_downsample(svs):
    ours, theirs = both(svs)
    downsamples = ours.level_downsamples
    # Level 2 is 118 x 81 of 1900 x 1300: a downsample of about 16.07.
    values = [0.5, 1, 1.5, 3.99, 4, 4.01, 16, 16.1, 1e9, -3, math.nan] + list(downsamples)
    chosen = [ours.get_best_level_for_downsample(v) for v in values]
    assert chosen[:10] == [0, 0, 0, 0, 1, 1, 1, 2, 2, 0]
    if theirs is not None:
        assert chosen == [theirs.get_best_level_for_downsample(v) for v in values]


def test_regions_larger_than_one_read(svs, monkeypatch):
    with openslide.OpenSlide(svs) as slide:
        whole = [np.asarray(slide.read_region((-8, -4), level, (500, 333))) for level in (0, 1)]
        # Reads above the budget go in bands of rows.
        monkeypatch.setattr(strata._strata, 'READ_BUDGET_BYTES', 500 * 4 * 40)
        for level in (0, 1):
            np.testing.assert_array_equal(
                np.asarray(slide.read_region((-8, -4), level, (500, 333))), whole[level])


def test_cache(svs, jpeg_slide):
    for capacity in (0, 7, 3 << 20):
        assert repr(openslide.OpenSlideCache(capacity)) == 'OpenSlideCache(%d)' % capacity
    for capacity in (-2, 2.5, '1', None, 1 << 64):
        with pytest.raises(ctypes.ArgumentError):
            openslide.OpenSlideCache(capacity)
    shared = openslide.OpenSlideCache(8 << 20)
    with openslide.OpenSlide(jpeg_slide.path) as a, openslide.OpenSlide(svs) as b:
        before = [np.asarray(s.read_region((100, 100), 0, (300, 300))) for s in (a, b)]
        for slide in (a, b):
            slide.set_cache(shared)
        for slide, pixels in zip((a, b), before):
            for _ in range(2):
                np.testing.assert_array_equal(
                    np.asarray(slide.read_region((100, 100), 0, (300, 300))), pixels)
    assert 0 < shared._cache.used_bytes <= 8 << 20  # ZTX tiles were kept in it


def test_image_slide(picture):
    slide = openslide.open_slide(picture)
    assert type(slide) is openslide.ImageSlide and repr(slide) == 'ImageSlide(%r)' % picture
    assert openslide.ImageSlide.detect_format(picture) == 'PNG'
    assert openslide.OpenSlide.detect_format(picture) is None
    assert slide.level_dimensions == ((71, 53),) and slide.properties == {}
    assert slide.color_profile.profile.device_class == 'mntr'
    theirs = reference.ImageSlide(picture) if reference else None
    for location, size in (((-10, -5), (40, 30)), ((60, 40), (30, 30)), ((100, 0), (5, 5))):
        region = slide.read_region(location, 0, size)
        assert region.info['icc_profile'] == slide._profile
        if theirs is not None:
            np.testing.assert_array_equal(np.asarray(region),
                                          np.asarray(theirs.read_region(location, 0, size)))
    with pytest.raises(openslide.OpenSlideError):
        slide.read_region((0, 0), 1, (5, 5))
    slide.close()
    for use in (lambda: slide.read_region((0, 0), 0, (5, 5)), lambda: slide.level_dimensions):
        with pytest.raises(ValueError):
            use()
    with Image.open(picture) as image:
        given = openslide.ImageSlide(image)
        given.close()
        assert image.getpixel((0, 0))  # still open: the caller's to close


def test_module_names():
    if reference is not None:
        names = [n for n in dir(reference) if n.startswith('PROPERTY_NAME_')]
        assert {n: getattr(openslide, n) for n in names} == \
            {n: getattr(reference, n) for n in names}
    assert openslide.__version__ == strata.__version__ == openslide.__library_version__
    assert issubclass(openslide.OpenSlideError, strata.SlideError)
    assert issubclass(openslide.OpenSlideUnsupportedFormatError, openslide.OpenSlideError)
    assert openslide.OpenSlideVersionError('4.0.0').minimum_version == '4.0.0'
    assert issubclass(openslide.OpenSlide, openslide.AbstractSlide)
