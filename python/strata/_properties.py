"""The read-only property mapping of a slide. Keys (values are strings):

    strata.vendor              format of the slide ("ztx", "svs", "ndpi", ...)
    strata.objective-power     scan scale (magnification of level 0)
    strata.mpp-x, strata.mpp-y capture resolution as the header stores it
    strata.scan-time           moment of the scan, ISO 8601 UTC
    strata.scan-duration       seconds the scan took
    strata.block-size          tile edge of the stored levels
    strata.version             format version
    strata.machine-serial      scanner serial number
    strata.channel-count       channels of a multi-channel slide
    strata.channel[N]          channel identifiers, N = 1..6
    strata.level-count         stored levels
    strata.level[N].width, .height, .downsample, .tile-width, .tile-height
    ztx.item.N                 every property item of a ZTX slide, by number

Keys whose facts the slide lacks are absent.
"""
import datetime
import types

# Substrings of the path that name the format, in the library's order.
_FORMATS = (('.ztx', 'ztx'), ('.ndpi', 'ndpi'), ('.vms', 'ndpi'), ('.vmu', 'ndpi'),
            ('.svs', 'svs'), ('.tif', 'svs'), ('.mrxs', 'mrxs'), ('.bif', 'bif'),
            ('.TMAP', 'tmap'), ('.mds', 'motic'), ('.dmetrix', 'dmetrix'))


def vendor_of(path):
    for marker, vendor in _FORMATS:
        if marker in path:
            return vendor
    return 'unknown'


def item_text(value):
    """Printable text as text, a four-byte value as the integer it holds,
    anything else as hex."""
    text = value.rstrip(b'\0')
    if text and all(32 <= b < 127 for b in text):
        return text.decode('ascii')
    if len(value) == 4:
        return str(int.from_bytes(value, 'little', signed=True))
    return value.hex()


def _number(value):
    return ('%.6f' % value).rstrip('0').rstrip('.')


def build(path, facts, levels, items):
    p = {'strata.vendor': vendor_of(path),
         'strata.objective-power': str(facts['scan_scale']),
         'strata.block-size': str(facts['block_size']),
         'strata.level-count': str(len(levels))}
    if facts['capture_resolution'] > 0:
        p['strata.mpp-x'] = p['strata.mpp-y'] = _number(facts['capture_resolution'])
    if facts['scan_time'] > 0:
        moment = datetime.datetime.fromtimestamp(facts['scan_time'], datetime.timezone.utc)
        p['strata.scan-time'] = moment.isoformat()
    if facts['spend_time_ms'] > 0:
        p['strata.scan-duration'] = _number(facts['spend_time_ms'] / 1000.0)
    if facts['version'] > 0:
        p['strata.version'] = _number(facts['version'])
    if facts['serial']:
        p['strata.machine-serial'] = facts['serial']
    if facts['channel_count'] > 0:
        p['strata.channel-count'] = str(facts['channel_count'])
        for n, name in enumerate(facts['channels'], 1):
            if name:
                p['strata.channel[%d]' % n] = name
    for n, (width, height, downsample, tile_width, tile_height) in enumerate(levels):
        prefix = 'strata.level[%d].' % n
        p[prefix + 'width'] = str(width)
        p[prefix + 'height'] = str(height)
        p[prefix + 'downsample'] = _number(downsample)
        p[prefix + 'tile-width'] = str(tile_width)
        p[prefix + 'tile-height'] = str(tile_height)
    for identifier, value in items:
        p.setdefault('ztx.item.%d' % identifier, item_text(value))
    return types.MappingProxyType(p)
