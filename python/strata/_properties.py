"""The read-only property mapping of a slide: every key the library reports
for the slide's format ("ztx.*", "aperio.*", "tiff.*", "openslide.*", ...)
and these keys of Strata's own (values are strings):

    strata.vendor              format of the slide ("ztx", "svs", "tiff", "ndpi",
                               "mrxs", "bif", "tmap", "motic", "dmetrix", ...)
    strata.objective-power     objective power (magnification of level 0)
    strata.mpp-x, strata.mpp-y micrometres per pixel of level 0
    strata.scan-time           moment of the scan, ISO 8601 UTC
    strata.scan-duration       seconds the scan took
    strata.block-size          tile edge of level 0
    strata.version             format version
    strata.machine-serial      scanner serial number
    strata.channel-count       channels of a multi-channel slide
    strata.channel[N]          channel identifiers, N = 1..6
    strata.level-count         stored levels
    strata.level[N].width, .height, .downsample, .tile-width, .tile-height

Keys whose facts the slide lacks are absent. Every slide also has the
common "openslide.*" keys; "openslide.quickhash-1" is OpenSlide's where
OpenSlide reads the slide, else computed by quickhash() below.
"""
import datetime
import hashlib
import types

# Strata's names for the formats the library names as the field does.
_VENDORS = {'aperio': 'svs', 'generic-tiff': 'tiff', 'hamamatsu': 'ndpi', 'mirax': 'mrxs',
            'ventana': 'bif'}


def vendor_name(format_name):
    return _VENDORS.get(format_name, format_name)


def _number(value):
    return ('%.6f' % value).rstrip('0').rstrip('.')


def quickhash(native, levels, library):
    """A SHA-256 that names the slide's content, for slides whose reader
    gives none: the sorted properties (the header's facts and items, as
    "key NUL value NUL") and then the smallest level, tile by tile in rows
    (each tile's encoding and stored bytes; a missing tile counts as "none"),
    or its RGBA pixels where the level has no tiles. The same file always
    hashes the same; a change to its header or to its smallest level does
    not."""
    digest = hashlib.sha256()
    for key in sorted(library):
        if key != 'openslide.quickhash-1':
            digest.update(key.encode() + b'\0' + library[key].encode() + b'\0')
    level = len(levels) - 1
    width, height, _, tile_width, tile_height = levels[level]
    if tile_width <= 0 or tile_height <= 0:
        digest.update(native.read_region(level, 0, 0, width, height).tobytes())
        return digest.hexdigest()
    for row in range(-(-height // tile_height)):
        for column in range(-(-width // tile_width)):
            tile = native.read_tile_stream(level, column, row)
            if tile is None:
                digest.update(b'none')
            else:
                encoding, data, _, _ = tile
                digest.update(encoding.encode() + len(data).to_bytes(8, 'little') + data)
    return digest.hexdigest()


def build(facts, levels, library, native):
    """facts: the library's facts; levels: (w, h, downsample, tile_w, tile_h)
    tuples; library: the properties the library reports."""
    p = dict(library)
    if 'openslide.quickhash-1' not in p:
        p['openslide.quickhash-1'] = quickhash(native, levels, library)
    p['strata.vendor'] = vendor_name(facts['format'])
    if facts['objective_power'] > 0:
        p['strata.objective-power'] = _number(facts['objective_power'])
    if levels[0][3] > 0:
        p['strata.block-size'] = str(levels[0][3])
    p['strata.level-count'] = str(len(levels))
    if facts['mpp_x'] > 0:
        p['strata.mpp-x'] = _number(facts['mpp_x'])
    if facts['mpp_y'] > 0:
        p['strata.mpp-y'] = _number(facts['mpp_y'])
    if facts['scan_time'] is not None:
        moment = datetime.datetime.fromtimestamp(facts['scan_time'], datetime.timezone.utc)
        p['strata.scan-time'] = moment.isoformat()
    if facts['scan_duration'] > 0:
        p['strata.scan-duration'] = _number(facts['scan_duration'])
    if facts['version'] > 0:
        p['strata.version'] = _number(facts['version'])
    for source, key in (('ztx.machine-serial', 'strata.machine-serial'),
                        ('ztx.channel-count', 'strata.channel-count')):
        if source in library:
            p[key] = library[source]
    for n in range(1, 7):
        if 'ztx.channel[%d]' % n in library:
            p['strata.channel[%d]' % n] = library['ztx.channel[%d]' % n]
    for n, (width, height, downsample, tile_width, tile_height) in enumerate(levels):
        prefix = 'strata.level[%d].' % n
        p[prefix + 'width'] = str(width)
        p[prefix + 'height'] = str(height)
        p[prefix + 'downsample'] = _number(downsample)
        if tile_width > 0:
            p[prefix + 'tile-width'] = str(tile_width)
            p[prefix + 'tile-height'] = str(tile_height)
    return types.MappingProxyType(p)
