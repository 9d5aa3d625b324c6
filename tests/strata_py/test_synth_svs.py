"""`strata synth-svs` writes the layout real Aperio files have, as other
readers (tifffile, Debian's OpenSlide) see it."""
import subprocess

import openslide
import tifffile

from conftest import STRATA_TOOL


def test_synth_svs_reads_as_an_aperio_slide_elsewhere(tmp_path):
    path = tmp_path / 'synth.svs'
    subprocess.run([STRATA_TOOL, 'synth-svs', str(path), '--width', '3000', '--height', '2000'],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with tifffile.TiffFile(path) as tiff:
        assert [series.name for series in tiff.series] == ['Baseline', 'Thumbnail', 'Label',
                                                           'Macro']
        assert [level.shape[:2] for level in tiff.series[0].levels] == [(2000, 3000), (500, 750),
                                                                         (125, 187)]
        label, macro = tiff.series[2].pages[0], tiff.series[3].pages[0]
        assert (label.shape[:2], macro.shape[:2]) == ((200, 400), (200, 600))
        assert label.description.splitlines()[1] == 'label 400x200'
        assert macro.description.splitlines()[1] == 'macro 600x200'
        reduced = tiff.pages[2].description.splitlines()[1]
        assert reduced.startswith('3000x2000 [0,0 3000x2000] (256x256) -> 750x500 JPEG')
    with openslide.OpenSlide(str(path)) as slide:
        assert slide.level_dimensions == ((3000, 2000), (750, 500), (187, 125))
        assert set(slide.associated_images) == {'label', 'macro', 'thumbnail'}
        assert slide.associated_images['label'].size == (400, 200)
