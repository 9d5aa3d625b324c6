#include "strata/ztx/ztx_channel_streams.h"

#include <limits>

namespace strata::ztx {
namespace {

constexpr unsigned char kMarkerPrefix = 0xFF;
constexpr unsigned char kStartOfImage = 0xD8;
constexpr unsigned char kEndOfImage = 0xD9;
constexpr unsigned char kStartOfScan = 0xDA;
constexpr unsigned char kTemporary = 0x01;

bool IsRestartMarker(unsigned char code) { return code >= 0xD0 && code <= 0xD7; }

// Markers that carry no length field.
bool IsStandalone(unsigned char code) { return code == kTemporary || IsRestartMarker(code); }

// Skips entropy-coded data from `position`; returns the position of the next
// real marker's 0xFF, or `size` when the data runs out.
std::size_t SkipEntropyData(const unsigned char* data, std::size_t size, std::size_t position) {
  while (position < size) {
    if (data[position] != kMarkerPrefix) {
      ++position;
      continue;
    }
    if (position + 1 >= size) return size;
    const unsigned char next = data[position + 1];
    if (next == 0x00 || IsRestartMarker(next)) {
      position += 2;  // stuffed 0xFF or restart marker: still scan data
    } else if (next == kMarkerPrefix) {
      ++position;  // fill byte before a marker
    } else {
      return position;
    }
  }
  return size;
}

}  // namespace

std::array<int, 3> SelectChannelPlaces(const bool flags[kChannelStreamCount]) {
  std::array<int, 3> places = {0, 0, 0};
  int taken = 0;
  for (int channel = 1; channel <= kChannelStreamCount; ++channel) {
    if (!flags[channel - 1] || taken >= 3) continue;
    places[taken++] = channel;
  }
  return places;
}

std::size_t JpegStreamLength(const unsigned char* data, std::size_t size) {
  if (data == nullptr || size < 4 || data[0] != kMarkerPrefix || data[1] != kStartOfImage) {
    return 0;
  }
  std::size_t position = 2;
  while (position < size) {
    if (data[position] != kMarkerPrefix) return 0;  // a marker must follow a segment
    while (position < size && data[position] == kMarkerPrefix) ++position;  // fill bytes
    if (position >= size) return 0;
    const unsigned char code = data[position++];
    if (code == kEndOfImage) return position;
    if (code == 0x00 || code == kStartOfImage) return 0;
    if (IsStandalone(code)) continue;
    if (position + 2 > size) return 0;
    const std::size_t segmentLength =
        (static_cast<std::size_t>(data[position]) << 8) | data[position + 1];
    if (segmentLength < 2 || segmentLength > size - position) return 0;
    position += segmentLength;
    if (code == kStartOfScan) position = SkipEntropyData(data, size, position);
  }
  return 0;
}

int SplitChannelStreams(const unsigned char* data, std::size_t size,
                        std::int32_t lengths[kChannelStreamCount]) {
  for (int c = 0; c < kChannelStreamCount; ++c) lengths[c] = 0;
  int found = 0;
  std::size_t position = 0;
  while (found < kChannelStreamCount && data != nullptr && position < size) {
    const std::size_t length = JpegStreamLength(data + position, size - position);
    if (length == 0 ||
        length > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
      break;
    }
    lengths[found++] = static_cast<std::int32_t>(length);
    position += length;
  }
  return found;
}

}  // namespace strata::ztx
