"""A slide given as an http URL, served on loopback with range requests."""
import http.server
import os
import pickle
import re
import threading

import numpy as np
import pytest

import strata


class RangeHandler(http.server.BaseHTTPRequestHandler):
    folder = None

    def do_GET(self):
        path = os.path.join(self.folder, os.path.basename(self.path))
        if not os.path.isfile(path):
            self.send_error(404)
            return
        size = os.path.getsize(path)
        match = re.fullmatch(r'bytes=(\d+)-(\d*)', self.headers.get('Range', ''))
        first = int(match.group(1)) if match else 0
        last = min(int(match.group(2)), size - 1) if match and match.group(2) else size - 1
        if first >= size:
            self.send_response(416)
            self.send_header('Content-Range', 'bytes */%d' % size)
            self.end_headers()
            return
        with open(path, 'rb') as f:
            f.seek(first)
            body = f.read(last - first + 1)
        self.send_response(206 if match else 200)
        self.send_header('Content-Length', str(len(body)))
        self.send_header('Content-Range', 'bytes %d-%d/%d' % (first, last, size))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


@pytest.fixture(scope='module')
def served(jpeg_slide):
    RangeHandler.folder = os.path.dirname(jpeg_slide.path)
    server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), RangeHandler)
    server.timeout = 5
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    yield 'http://127.0.0.1:%d/%s' % (server.server_port, os.path.basename(jpeg_slide.path))
    server.shutdown()
    server.server_close()


def test_url_reads_like_the_file(served, jpeg_slide):
    with strata.open_slide(jpeg_slide.path) as local, strata.open_slide(served) as remote:
        assert remote.level_dimensions == local.level_dimensions
        assert remote.properties['strata.objective-power'] == '20'
        np.testing.assert_array_equal(
            remote.read_region((300, 200), 1, (200, 150), as_array=True),
            local.read_region((300, 200), 1, (200, 150), as_array=True))
        np.testing.assert_array_equal(remote.read_scaled(10, 20, 90, 60, 6.0),
                                      local.read_scaled(10, 20, 90, 60, 6.0))
        again = pickle.loads(pickle.dumps(remote))
    assert again.path == served and again.dimensions == (1000, 700)
    again.close()
