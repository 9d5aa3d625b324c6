// Multi-channel tiles: a tile's stored bytes are the channels' greyscale
// JPEG streams one after another, channel 1 first. The index carries no
// per-channel lengths, so each stream's extent is found by walking its JPEG
// segment structure up to its end-of-image marker.
#ifndef STRATA_ZTX_ZTX_CHANNEL_STREAMS_H_
#define STRATA_ZTX_ZTX_CHANNEL_STREAMS_H_

#include <array>
#include <cstddef>
#include <cstdint>

namespace strata::ztx {

constexpr int kChannelStreamCount = 6;

// The red, green and blue places filled from six channel flags: each set
// flag, in flag order, takes the next free place; flags 1-3 always find one,
// flags 4-6 only while a place is free. Entries are channel numbers 1-6, or 0
// for an empty place.
std::array<int, 3> SelectChannelPlaces(const bool flags[kChannelStreamCount]);

// Length of the JPEG stream at the start of `data` up to and including its
// end-of-image marker (0xFFD9), or 0 when the bytes do not hold one whole
// stream. Segments are skipped by their lengths and entropy-coded data is
// scanned with byte stuffing (0xFF00) and restart markers in mind, so 0xFFD9
// bytes inside a segment payload do not end the stream.
std::size_t JpegStreamLength(const unsigned char* data, std::size_t size);

// Fills `lengths` with the lengths of up to six streams laid one after
// another in `data` (0 for channels that are not there) and returns how many
// were found. Walking stops at the first byte that does not start a stream.
int SplitChannelStreams(const unsigned char* data, std::size_t size,
                        std::int32_t lengths[kChannelStreamCount]);

}  // namespace strata::ztx

#endif  // STRATA_ZTX_ZTX_CHANNEL_STREAMS_H_
