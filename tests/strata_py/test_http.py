"""A slide given as an http URL, served on loopback with range requests."""
import os
import pickle

import numpy as np

import strata


def test_url_reads_like_the_file(http_base, jpeg_slide):
    served = http_base + os.path.basename(jpeg_slide.path)
    with strata.open_slide(jpeg_slide.path) as local, strata.open_slide(served) as remote:
        assert remote.level_dimensions == local.level_dimensions
        assert remote.properties['strata.objective-power'] == '20'
        assert remote.properties['openslide.quickhash-1'] == local.properties['openslide.quickhash-1']
        np.testing.assert_array_equal(
            remote.read_region((300, 200), 1, (200, 150), as_array=True),
            local.read_region((300, 200), 1, (200, 150), as_array=True))
        np.testing.assert_array_equal(remote.read_scaled(10, 20, 90, 60, 6.0),
                                      local.read_scaled(10, 20, 90, 60, 6.0))
        again = pickle.loads(pickle.dumps(remote))
    assert again.path == served and again.dimensions == (1000, 700)
    again.close()
