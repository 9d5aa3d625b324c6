"""Whole-slide images from Python: the slide API of the field's standard
reader (open_slide, read_region, level_dimensions, properties, associated
images, a Deep Zoom generator) over every format Strata opens, plus
any-scale reads, zarr/dask views of the stored levels and cohort jobs on
Dask distributed (strata.cohort).

    import strata
    with strata.open_slide('slide.ztx') as slide:
        print(slide.level_dimensions)
        region = slide.read_region((1000, 2000), 1, (512, 512))   # PIL RGBA
        pixels = slide.read_scaled(0, 0, 800, 600, 2.5)          # (600, 800, 3)

Scripts written for openslide-python run on it after
`import strata.openslide as openslide`.
"""
from strata._strata import SlideError, UnsupportedFormatError
from strata._slide import Slide, open_slide
from strata._version import __version__

__all__ = ['Slide', 'SlideError', 'UnsupportedFormatError', 'open_slide', '__version__']
