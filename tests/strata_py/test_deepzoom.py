"""Deep Zoom geometry against hand-computed expectations for odd sizes."""
import numpy as np
import pytest

import strata
import strata.openslide
import strata.openslide.deepzoom
from strata.deepzoom import DeepZoomGenerator


@pytest.fixture(scope='module')
def slide(bmp_slide):
    with strata.open_slide(bmp_slide.path) as s:  # 1001 x 703, levels 501 x 352, 251 x 176
        yield s


def test_levels_and_tiles(slide):
    dz = DeepZoomGenerator(slide)
    assert dz.level_count == 11
    assert dz.level_dimensions == ((1, 1), (2, 2), (4, 3), (8, 6), (16, 11), (32, 22), (63, 44),
                                   (126, 88), (251, 176), (501, 352), (1001, 703))
    assert dz.level_tiles[-3:] == ((1, 1), (2, 2), (4, 3))
    assert dz.level_tiles[:8] == ((1, 1),) * 8
    assert dz.tile_count == 8 + 1 + 4 + 12


@pytest.mark.parametrize('level, address, dimensions, coordinates', [
    # Full size: the inner tile has overlap on all four sides, the corner tiles
    # only inward; the last column is what is left of 1001 after 3 x 254.
    (10, (0, 0), (255, 255), ((0, 0), 0, (255, 255))),
    (10, (1, 1), (256, 256), ((253, 253), 0, (256, 256))),
    (10, (3, 2), (240, 196), ((761, 507), 0, (240, 196))),
    # Half size reads stored level 1 (501 x 352) one to one.
    (9, (1, 0), (248, 255), ((506, 0), 1, (248, 255))),
    (9, (1, 1), (248, 99), ((506, 506), 1, (248, 99))),
    # An eighth reads level 2 (a quarter) and halves it: 2 x 126 = 252 > 251.
    (7, (0, 0), (126, 88), ((0, 0), 2, (251, 176))),
    (0, (0, 0), (1, 1), ((0, 0), 2, (251, 176))),
])
def test_tile_geometry(slide, level, address, dimensions, coordinates):
    dz = DeepZoomGenerator(slide)
    assert dz.get_tile_dimensions(level, address) == dimensions
    assert dz.get_tile_coordinates(level, address) == coordinates
    assert dz.get_tile(level, address).size == dimensions


def test_other_tile_size_and_no_overlap(slide):
    dz = DeepZoomGenerator(slide, tile_size=100, overlap=0)
    assert dz.level_tiles[-1] == (11, 8)
    assert dz.get_tile_dimensions(10, (10, 7)) == (1, 3)
    assert dz.get_tile_coordinates(10, (10, 7)) == ((1000, 700), 0, (1, 3))


def test_tile_pixels_are_the_region_on_white(slide, bmp_slide):
    dz = DeepZoomGenerator(slide)
    tile = np.asarray(dz.get_tile(10, (1, 1)))
    np.testing.assert_array_equal(tile, bmp_slide.rgb[253:509, 253:509])
    corner = np.asarray(dz.get_tile(9, (1, 1)))
    region = slide.read_region((506, 506), 1, (248, 99), as_array=True)
    np.testing.assert_array_equal(corner, region[:, :, :3])


def test_dzi(slide):
    assert DeepZoomGenerator(slide).get_dzi('jpeg') == (
        '<Image TileSize="254" Overlap="1" Format="jpeg" '
        'xmlns="http://schemas.microsoft.com/deepzoom/2008">'
        '<Size Width="1001" Height="703" /></Image>')
    assert 'TileSize="510" Overlap="0" Format="png"' in \
        DeepZoomGenerator(slide, 510, 0).get_dzi('png')


def test_drop_in_shrinks_tiles_as_thumbnails(bmp_slide):
    # 251 x 176 of level 2 make the 126 x 88 tile of Deep Zoom level 7: the
    # package's generator gives that size, the drop-in keeps the aspect as
    # openslide-python does (125 x 88).
    with strata.openslide.OpenSlide(bmp_slide.path) as slide:
        dz = strata.openslide.deepzoom.DeepZoomGenerator(slide)
        assert dz.get_tile_dimensions(7, (0, 0)) == (126, 88)
        assert dz.get_tile(7, (0, 0)).size == (125, 88)
        assert dz.get_tile(8, (0, 0)).size == dz.get_tile_dimensions(8, (0, 0))


@pytest.mark.parametrize('level, address', [(11, (0, 0)), (-1, (0, 0)), (10, (4, 0)),
                                            (10, (0, 3)), (10, (-1, 0)), (10, (0,)),
                                            (0, (1, 0))])
def test_invalid_tiles(slide, level, address):
    dz = DeepZoomGenerator(slide)
    with pytest.raises(ValueError):
        dz.get_tile(level, address)
    with pytest.raises(ValueError):
        dz.get_tile_coordinates(level, address)
