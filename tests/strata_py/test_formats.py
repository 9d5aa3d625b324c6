"""Every format the library opens, through both Python interfaces: the
package's own (strata.Slide) and the drop-in (strata.openslide). Where
OpenSlide reads the format, the drop-in's levels, properties, regions,
thumbnails, Deep Zoom tiles and associated images are Debian's
openslide-python's, exactly; elsewhere regions are the slide's own tiles
(or, for the OpenSlide stand-in, the pixels it is known to paint). The
zarr view and the tiles of `strata serve` show the same pixels."""
import contextlib
import dataclasses
import io
import re
import shutil
import subprocess
import urllib.parse
import urllib.request

import numpy as np
import pytest
from PIL import Image

import strata
import strata.openslide as dropin
from conftest import STRATA_TOOL
from strata.deepzoom import DeepZoomGenerator as NativeDeepZoom
from strata.openslide.deepzoom import DeepZoomGenerator

try:
    import openslide as reference  # Debian's python3-openslide
    from openslide.deepzoom import DeepZoomGenerator as ReferenceDeepZoom
except ImportError:
    reference = None


@dataclasses.dataclass
class Case:
    path: str
    vendor: str  # openslide.vendor
    detected: str  # what detect_format says, or None
    images: tuple  # the drop-in's associated image names
    by_openslide: bool = False  # Debian's OpenSlide reads it: the reference
    standin: object = None  # the OpenSlide stand-in, with `script`
    script: str = ''

    def _opened(self, opener):
        if self.standin is None:
            return opener(self.path)
        with self.standin.scripted(self.script):
            return opener(self.path)

    def dropin(self):
        return self._opened(dropin.OpenSlide)

    def native(self):
        return self._opened(strata.open_slide)

    def reopening(self):
        """Where slides are opened again by path (zarr stores)."""
        return self.standin.scripted(self.script) if self.standin else contextlib.nullcontext()

    def reference(self):
        if not self.by_openslide or reference is None:
            pytest.skip('no reference reader for this format')
        return reference.OpenSlide(self.path)


def standin_script(properties, levels, tile, images):
    """A stand-in script with the level keys OpenSlide gives every slide."""
    lines = ['prop.%s=%s' % item for item in properties.items()]
    lines.append('prop.openslide.level-count=%d' % len(levels))
    for n, (width, height, downsample) in enumerate(levels):
        lines.append('level=%d,%d,%g' % (width, height, downsample))
        for key, value in (('width', width), ('height', height), ('downsample', downsample),
                           ('tile-width', tile), ('tile-height', tile)):
            lines.append('prop.openslide.level[%d].%s=%g' % (n, key, value))
    lines += ['image.%s=%d,%d' % image for image in images]
    return '\n'.join(lines) + '\n'


# The stand-in's layouts of two OpenSlide formats: MRXS with the scanned
# bounds and a background colour, BIF with levels four times apart.
MRXS_SCRIPT = standin_script(
    {'openslide.vendor': 'mirax', 'openslide.objective-power': '20', 'openslide.mpp-x': '0.25',
     'openslide.mpp-y': '0.25', 'openslide.bounds-x': '100', 'openslide.bounds-y': '60',
     'openslide.bounds-width': '700', 'openslide.bounds-height': '500',
     'openslide.background-color': 'F0E0D0'},
    [(1000, 800, 1), (500, 400, 2), (250, 200, 4), (125, 100, 8)], 256,
    [('label', 60, 40), ('macro', 120, 80)])
BIF_SCRIPT = standin_script(
    {'openslide.vendor': 'ventana', 'openslide.objective-power': '40'},
    [(1200, 900, 1), (300, 225, 4), (75, 56, 16)], 128, [('thumbnail', 64, 48)])


ZTX_IMAGES = ('label', 'macro', 'thumbnail')
FORMATS = ['ztx-1.0', 'ztx-1.3', 'ztx-2.0', 'ztx-compressed-index', 'ztx-bmp', 'ztx-http', 'svs',
           'ndpi', 'generic-tiff', 'mrxs-standin', 'bif-standin', 'dmetrix', 'motic', 'tmap']


@pytest.fixture(scope='session')
def cases(make_slide, make_tiff, jpeg_slide, bmp_slide, folder, http_base, openslide_standin):
    def compressed():
        path = folder / 'compressed.ztx'
        if not path.exists():
            shutil.copy(jpeg_slide.path, path)
            subprocess.run([STRATA_TOOL, 'compress-index', str(path)], check=True,
                           stdout=subprocess.DEVNULL)
        return str(path)

    def bridge(name):
        path = folder / name
        path.touch()
        return str(path)

    makers = {
        'ztx-1.0': lambda: Case(make_slide('v10.ztx', 900, 620, '--version', '1.0').path, 'ztx',
                                'ztx', ZTX_IMAGES),
        'ztx-1.3': lambda: Case(jpeg_slide.path, 'ztx', 'ztx', ZTX_IMAGES),
        'ztx-2.0': lambda: Case(make_slide('v20.ztx', 900, 620, '--version', '2.0').path, 'ztx',
                                'ztx', ZTX_IMAGES),
        'ztx-compressed-index': lambda: Case(compressed(), 'ztx', 'ztx', ZTX_IMAGES),
        'ztx-bmp': lambda: Case(bmp_slide.path, 'ztx', 'ztx', ZTX_IMAGES),
        'ztx-http': lambda: Case(http_base + 'jpeg.ztx', 'ztx', 'ztx', ZTX_IMAGES),
        'svs': lambda: Case(make_tiff('svs', 'matrix.svs', 1900, 1300, '--images'), 'aperio',
                            'aperio', ('label', 'macro', 'thumbnail'), by_openslide=True),
        'ndpi': lambda: Case(make_tiff('ndpi', 'matrix.ndpi', 1600, 1200), 'hamamatsu',
                             'hamamatsu', (), by_openslide=True),
        'generic-tiff': lambda: Case(make_tiff('tiff', 'matrix.tiff', 1500, 1100,
                                               '--level-factor', '2'),
                                     'generic-tiff', 'generic-tiff', (), by_openslide=True),
        'mrxs-standin': lambda: Case(openslide_standin.path('standin.mrxs'), 'mirax', None,
                                     ('label', 'macro'), standin=openslide_standin,
                                     script=MRXS_SCRIPT),
        'bif-standin': lambda: Case(openslide_standin.path('standin.bif'), 'ventana', None,
                                    ('thumbnail',), standin=openslide_standin,
                                    script=BIF_SCRIPT),
        'dmetrix': lambda: Case(bridge('case.dmetrix'), 'dmetrix', None, ZTX_IMAGES),
        'motic': lambda: Case(bridge('case.mds'), 'motic', None, ZTX_IMAGES),
        'tmap': lambda: Case(bridge('case.TMAP'), 'tmap', None, ()),
    }
    made = {}

    def case(name):
        if name not in made:
            made[name] = makers[name]()
        return made[name]
    return case


@pytest.fixture(params=FORMATS)
def case(request, cases):
    return cases(request.param)


@pytest.mark.xfail(strict=True, reason='the TMAP adapter reads one fixed window for every tile')
def test_tmap_tiles_are_the_sdk_pixels(cases):
    # The stand-in SDK paints (2 (left + i), 2 (top + j), i + j) for the
    # window it is asked for; the TMAP adapter asks it for one fixed
    # 100 x 100 window, whatever the tile.
    slide = cases('tmap').native()
    tile = slide.read_tile(0, 1, 0)
    i, j = np.meshgrid(np.arange(256), np.arange(256))
    expected = np.dstack([(2 * (256 + i)) % 256, (2 * j) % 256, (i + j) % 256]).astype(np.uint8)
    assert tile.shape == expected.shape
    assert np.abs(tile.astype(int) - expected).mean() < 3  # JPEG


def rgba(image):
    return np.asarray(image.convert('RGBA') if image.mode != 'RGBA' else image)


def on_white(region):
    """RGB of an RGBA array composed over white."""
    alpha = region[:, :, 3:].astype(np.uint32)
    return ((region[:, :, :3] * alpha + 255 * (255 - alpha) + 127) // 255).astype(np.uint8)


def assembled_level(slide, level):
    """A whole level from strata.Slide.read_tile, RGBA: opaque where a tile is."""
    width, height = slide.level_dimensions[level]
    tile_w, tile_h = slide.level_tile_sizes[level]
    columns, rows = -(-width // tile_w), -(-height // tile_h)
    canvas = np.zeros((rows * tile_h, columns * tile_w, 4), np.uint8)
    for row in range(rows):
        for column in range(columns):
            tile = slide.read_tile(level, column, row)
            if tile is not None:
                h, w = tile.shape[:2]
                canvas[row * tile_h:row * tile_h + h, column * tile_w:column * tile_w + w] = \
                    np.dstack([tile, np.full((h, w), 255, np.uint8)])
    return canvas[:height, :width]


def standin_region(level, downsample, x, y, width, height):
    """What the OpenSlide stand-in paints: colours from level-0 position."""
    column = x + (np.arange(width) * downsample).astype(np.int64)
    row = y + (np.arange(height) * downsample).astype(np.int64)
    X, Y = np.meshgrid(column, row)
    region = np.empty((height, width, 4), np.uint8)
    region[:, :, 0] = (3 * X + Y) % 251
    region[:, :, 1] = (X + 5 * Y) % 253
    region[:, :, 2] = 40 * level + 7
    region[:, :, 3] = 255
    return region


def window(whole, left, top, width, height):
    """A window of a level array; transparent where it leaves the level."""
    out = np.zeros((height, width, 4), np.uint8)
    h, w = whole.shape[:2]
    x0, y0, x1, y1 = max(left, 0), max(top, 0), min(left + width, w), min(top + height, h)
    if x1 > x0 and y1 > y0:
        out[y0 - top:y1 - top, x0 - left:x1 - left] = whole[y0:y1, x0:x1]
    return out


def test_levels_and_properties(case):
    slide, native = case.dropin(), case.native()
    levels = slide.level_dimensions
    assert native.level_dimensions == levels and native.level_downsamples == slide.level_downsamples
    props = dict(slide.properties)
    assert props['openslide.vendor'] == case.vendor
    assert int(props['openslide.level-count']) == len(levels)
    for n, (width, height) in enumerate(levels):
        assert (int(props['openslide.level[%d].width' % n]),
                int(props['openslide.level[%d].height' % n])) == (width, height)
    assert re.fullmatch('[0-9a-f]{64}', props['openslide.quickhash-1'])
    # The same file hashes the same in another open, and in the package's API.
    assert dict(case.dropin().properties)['openslide.quickhash-1'] == \
        native.properties['openslide.quickhash-1'] == props['openslide.quickhash-1']
    assert set(props) <= set(native.properties)
    assert dropin.OpenSlide.detect_format(case.path) == case.detected
    if case.by_openslide:
        theirs = case.reference()
        assert levels == theirs.level_dimensions
        assert slide.level_downsamples == theirs.level_downsamples
        assert props == dict(theirs.properties)
    assert tuple(slide.associated_images) == case.images


def test_read_region_at_every_level(case):
    slide, native = case.dropin(), case.native()
    theirs = case.reference() if case.by_openslide else None
    for level, (width, height) in enumerate(slide.level_dimensions):
        downsample = slide.level_downsamples[level]
        # The whole level and a margin around it: every edge and the outside
        # (the stand-in paints no negative positions).
        left, top = (0, 0) if case.standin else (-20, -16)
        w, h = width + 40, height + 32
        location = (round(left * downsample), round(top * downsample))
        ours = rgba(slide.read_region(location, level, (w, h)))
        if theirs is not None:
            expected = rgba(theirs.read_region(location, level, (w, h)))
        elif case.standin is not None:
            expected = standin_region(level, downsample, *location, w, h)
        else:
            expected = window(assembled_level(native, level), left, top, w, h)
        np.testing.assert_array_equal(ours, expected, 'level %d' % level)
        np.testing.assert_array_equal(native.read_region(location, level, (w, h), as_array=True),
                                      expected)


def test_tiles_are_the_region(case):
    if case.vendor == 'tmap':
        pytest.skip('TMAP tiles: test_tmap_tiles_are_the_sdk_pixels')
    slide, native = case.dropin(), case.native()
    for level, (width, height) in enumerate(native.level_dimensions):
        tile_w, tile_h = native.level_tile_sizes[level]
        columns, rows = -(-width // tile_w), -(-height // tile_h)
        downsample = native.level_downsamples[level]
        for column, row in {(0, 0), (columns - 1, rows - 1), (columns // 2, rows - 1)}:
            tile = native.read_tile(level, column, row)
            h, w = tile.shape[:2]
            assert (w, h) == (min(tile_w, width - column * tile_w),
                              min(tile_h, height - row * tile_h))
            location = (round(column * tile_w * downsample), round(row * tile_h * downsample))
            region = rgba(slide.read_region(location, level, (w, h)))
            np.testing.assert_array_equal(tile, region[:, :, :3])
        assert native.read_tile(level, columns, 0) is None
        assert native.read_tile(level, 0, rows) is None


def test_read_scaled(case):
    native = case.native()
    width, height = native.dimensions
    x, y, w, h = width // 3, height // 3, 300, 200
    at_scan_scale = native.read_scaled(x, y, w, h, native.scan_scale)
    region = native.read_region((x, y), 0, (w, h), as_array=True)
    np.testing.assert_array_equal(at_scan_scale, on_white(region))
    # Below the smallest level: the whole slide, shrunk, and not blank.
    scale = native.scan_scale / native.level_downsamples[-1] / 3
    small = native.read_scaled(0, 0, int(width * scale / native.scan_scale),
                               int(height * scale / native.scan_scale), scale)
    assert small.shape[:2] == (int(height * scale / native.scan_scale),
                               int(width * scale / native.scan_scale))
    assert small.std() > 2


def test_thumbnails(case):
    slide, native = case.dropin(), case.native()
    ours = slide.get_thumbnail((200, 150))
    assert ours.mode == 'RGB' and max(ours.size[0] - 200, ours.size[1] - 150) <= 0
    if case.by_openslide:
        np.testing.assert_array_equal(np.asarray(ours),
                                      np.asarray(case.reference().get_thumbnail((200, 150))))
    # The package's own thumbnail shows the same picture (the stand-in
    # paints each level in its own blue).
    own = native.get_thumbnail((200, 150))
    if case.standin:
        return
    assert abs(own.size[0] - ours.size[0]) <= 1 and abs(own.size[1] - ours.size[1]) <= 1
    difference = np.abs(np.asarray(own.resize(ours.size), int) - np.asarray(ours, int))
    assert difference.mean() < 12


def test_deep_zoom_tiles(case):
    slide, native = case.dropin(), case.native()
    for limit_bounds in (False, True):
        ours = DeepZoomGenerator(slide, 254, 1, limit_bounds)
        own = NativeDeepZoom(native, 254, 1, limit_bounds)
        assert own.level_tiles == ours.level_tiles
        theirs = None
        if case.by_openslide:
            theirs = ReferenceDeepZoom(case.reference(), 254, 1, limit_bounds)
            assert ours.get_dzi('jpeg') == theirs.get_dzi('jpeg')
            assert ours.level_tiles == theirs.level_tiles
        for level in range(ours.level_count):
            columns, rows = ours.level_tiles[level]
            for address in {(0, 0), (columns - 1, rows - 1)}:
                tile = ours.get_tile(level, address)
                if theirs is not None:
                    assert ours.get_tile_coordinates(level, address) == \
                        theirs.get_tile_coordinates(level, address)
                    np.testing.assert_array_equal(np.asarray(tile),
                                                  np.asarray(theirs.get_tile(level, address)))
                # The package's tiles have exactly the size they announce.
                size = own.get_tile_dimensions(level, address)
                assert own.get_tile(level, address).size == size
    # At full resolution a tile is the region on the background.
    full = DeepZoomGenerator(slide)
    location, level, size = full.get_tile_coordinates(full.level_count - 1, (1, 1))
    background = dict(slide.properties).get('openslide.background-color', 'ffffff')
    expected = Image.new('RGB', size, '#' + background)
    region = slide.read_region(location, level, size)
    expected.paste(region, None, region)
    np.testing.assert_array_equal(np.asarray(full.get_tile(full.level_count - 1, (1, 1))),
                                  np.asarray(expected))


def test_zarr_and_dask_views(case):
    native = case.native()
    for level in (0, native.level_count - 1):
        width, height = native.level_dimensions[level]
        region = native.read_region((0, 0), level, (width, height), as_array=True)
        with case.reopening():
            lazy = native.to_dask(level)
            assert lazy.shape == (height, width, 3)
            np.testing.assert_array_equal(lazy.compute(scheduler='sync'), on_white(region))


def test_associated_images(case):
    slide, native = case.dropin(), case.native()
    theirs = case.reference() if case.by_openslide else None
    for name in case.images:
        image = slide.associated_images[name]
        assert image.mode == 'RGBA' and np.asarray(image)[:, :, 3].min() == 255
        if theirs is not None:
            np.testing.assert_array_equal(rgba(image), rgba(theirs.associated_images[name]))
        own = native.associated_images[name]
        np.testing.assert_array_equal(np.asarray(own), np.asarray(image)[:, :, :3])
    with pytest.raises(KeyError):
        slide.associated_images['overview']


def test_thumbnail_reads_the_best_level_only(openslide_standin):
    # A 20,000 x 16,016 slide: no thumbnail may read its level 0 whole.
    script = ('prop.openslide.objective-power=20\nlevel=20000,16016,1\nlevel=5000,4004,4\n'
              'level=1250,1001,16\n')
    path = openslide_standin.path('large.svs')
    with openslide_standin.scripted(script):
        slide, native = dropin.OpenSlide(path), strata.open_slide(path)
    assert slide.get_thumbnail((512, 512)).size == (512, 410)
    assert openslide_standin.last_read() == (0, 0, 2, 1250, 1001)
    assert native.get_thumbnail((512, 512)).size == (512, 410)
    x, y, level, w, h = openslide_standin.last_read()
    assert level == 2 and w * h <= 1250 * 1001


def test_icc_profile_of_tiff_slides(make_tiff, folder):
    from PIL import ImageCms
    profile = ImageCms.ImageCmsProfile(ImageCms.createProfile('sRGB')).tobytes()
    (folder / 'srgb.icc').write_bytes(profile)
    for kind, name in (('svs', 'icc.svs'), ('tiff', 'icc.tiff')):
        path = make_tiff(kind, name, 700, 500, '--icc', str(folder / 'srgb.icc'))
        with dropin.OpenSlide(path) as slide:
            assert slide.color_profile.profile.device_class == 'mntr'
            for image in (slide.read_region((0, 0), 0, (30, 20)), slide.get_thumbnail((50, 50)),
                          DeepZoomGenerator(slide).get_tile(5, (0, 0))):
                assert image.info['icc_profile'] == profile
            if kind == 'svs':
                assert slide.associated_images['thumbnail'].info['icc_profile'] == profile
        with strata.open_slide(path) as slide:
            assert slide.color_profile_bytes == profile
        if reference is not None:  # the profile leaves OpenSlide's reading as it was
            np.testing.assert_array_equal(
                rgba(reference.OpenSlide(path).read_region((0, 0), 1, (175, 125))),
                rgba(dropin.OpenSlide(path).read_region((0, 0), 1, (175, 125))))
    with dropin.OpenSlide(make_tiff('svs', 'matrix.svs', 1900, 1300, '--images')) as plain:
        assert plain.color_profile is None
        assert 'icc_profile' not in plain.read_region((0, 0), 0, (4, 4)).info


def test_generic_tiff_without_objective_power_opens(cases):
    path = cases('generic-tiff').path
    with strata.open_slide(path) as slide:
        assert slide.scan_scale == 1.0 and 'openslide.objective-power' not in slide.properties
        np.testing.assert_array_equal(slide.read_scaled(30, 20, 50, 40, 1.0),
                                      slide.read_region((30, 20), 0, (50, 40), as_array=True)[:, :, :3])


@contextlib.contextmanager
def serving(location):
    """`strata serve` of one slide on a free loopback port, stopped after."""
    process = subprocess.Popen([STRATA_TOOL, 'serve', '--port', '0', location],
                               stdout=subprocess.PIPE, text=True)
    try:
        line = process.stdout.readline()
        match = re.search(r'http://127\.0\.0\.1:(\d+)/', line)
        assert match, line
        yield 'http://127.0.0.1:%s' % match.group(1)
    finally:
        process.terminate()
        process.wait(timeout=10)
        process.stdout.close()


def fetch(url):
    opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
    with opener.open(url, timeout=30) as reply:
        return reply.read()


def test_server_tiles(case):
    if case.standin is not None:
        pytest.skip('the server runs apart: the stand-in is scripted in this process only')
    native = case.native()
    name = urllib.parse.quote(case.path.rsplit('/', 1)[-1])
    width, height = native.dimensions
    with serving(case.path) as base:
        dzi = fetch('%s/dz/%s.dzi' % (base, name)).decode()
        size = int(re.search(r'TileSize="(\d+)"', dzi).group(1))
        assert re.search(r'Width="(\d+)" Height="(\d+)"', dzi).groups() == (str(width),
                                                                           str(height))
        top = (max(width, height) - 1).bit_length()  # the full-resolution level
        # Full resolution: the region on white; one level down: the scaled read.
        for level, scale in ((top, 1), (top - 1, 2)):
            w_level, h_level = -(-width // scale), -(-height // scale)
            columns, rows = -(-w_level // size), -(-h_level // size)
            for column, row in {(0, 0), (columns - 1, rows - 1)}:
                x, y = column * size, row * size
                w, h = min(size, w_level - x), min(size, h_level - y)
                tile = np.asarray(Image.open(io.BytesIO(fetch('%s/dz/%s_files/%d/%d_%d.jpeg' % (
                    base, name, level, column, row)))).convert('RGB'))
                assert tile.shape == (h, w, 3), (level, column, row)
                if scale == 1:
                    expected = on_white(native.read_region((x, y), 0, (w, h), as_array=True))
                else:
                    expected = native.read_scaled(x, y, w, h, native.scan_scale / scale)
                difference = np.abs(tile.astype(int) - expected.astype(int)).mean()
                assert difference < 3 * scale, (level, column, row, difference)
