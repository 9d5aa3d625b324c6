"""The usual Python Deep Zoom server, for comparison with strata serve: a
small Flask app over OpenSlide's DeepZoomGenerator serving one slide under
the same routes (/dz/<slide>.dzi, /dz/<slide>_files/<level>/<col>_<row>.jpeg).

    python3 serve_bench_flask.py SLIDE.tif PORT TILE_SIZE
"""
import io
import sys

from flask import Flask, abort, make_response
import openslide
from openslide.deepzoom import DeepZoomGenerator

slide_path, port, tile_size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
generator = DeepZoomGenerator(openslide.OpenSlide(slide_path), tile_size=tile_size,
                              overlap=0, limit_bounds=False)
app = Flask(__name__)


@app.route('/dz/<name>.dzi')
def descriptor(name):
    response = make_response(generator.get_dzi('jpeg'))
    response.mimetype = 'application/xml'
    return response


@app.route('/dz/<name>_files/<int:level>/<int:col>_<int:row>.jpeg')
def tile(name, level, col, row):
    try:
        image = generator.get_tile(level, (col, row))
    except ValueError:
        abort(404)
    buffer = io.BytesIO()
    image.save(buffer, 'jpeg', quality=75)
    response = make_response(buffer.getvalue())
    response.mimetype = 'image/jpeg'
    return response


if __name__ == '__main__':
    app.run(host='127.0.0.1', port=port, threaded=True)
