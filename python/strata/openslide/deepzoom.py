"""Deep Zoom tiles of an OpenSlide or ImageSlide, cut as openslide-python
cuts them: the package's generator (strata.deepzoom), except that a tile
read from a level it does not divide evenly is shrunk as a PIL thumbnail,
keeping its aspect, so that it may come out a pixel narrower or shorter
than get_tile_dimensions says (as openslide-python's tiles do)."""
from PIL import Image

from strata import deepzoom as _deepzoom

__all__ = ['DeepZoomGenerator']


class DeepZoomGenerator(_deepzoom.DeepZoomGenerator):
    __doc__ = _deepzoom.DeepZoomGenerator.__doc__

    @staticmethod
    def _shrunk(tile, size):
        tile.thumbnail(size, Image.Resampling.LANCZOS)
        return tile
