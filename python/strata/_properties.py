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

Keys whose facts the slide lacks are absent.
"""
import datetime
import types

# Strata's names for the formats the library names as the field does.
_VENDORS = {'aperio': 'svs', 'generic-tiff': 'tiff', 'hamamatsu': 'ndpi', 'mirax': 'mrxs',
            'ventana': 'bif'}


def vendor_name(format_name):
    return _VENDORS.get(format_name, format_name)


def _number(value):
    return ('%.6f' % value).rstrip('0').rstrip('.')


def build(facts, levels, library):
    """facts: the library's facts; levels: (w, h, downsample, tile_w, tile_h)
    tuples; library: the properties the library reports."""
    p = dict(library)
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
