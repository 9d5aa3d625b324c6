#include "strata/tiff/tiff_jpeg_stream.h"

namespace strata::tiff {
namespace {

bool StartsWithImageStart(const unsigned char* bytes, std::size_t length) {
  return length >= 2 && bytes[0] == 0xFF && bytes[1] == 0xD8;
}

// APP14 "Adobe", version 100, no flags, transform 0: the samples are RGB.
constexpr unsigned char kAdobeRgbMarker[] = {0xFF, 0xEE, 0x00, 0x0E, 'A',  'd',  'o', 'b',
                                             'e',  0x00, 0x64, 0x00, 0x00, 0x00, 0x00, 0x00};

}  // namespace

Status WholeJpegStream(const std::string& tables, bool rgbSamples,
                       const std::vector<unsigned char>& tile, std::vector<unsigned char>* stream) {
  if (!StartsWithImageStart(tile.data(), tile.size())) {
    return Status::Damaged("a JPEG tile does not start with a start-of-image marker");
  }
  const auto* tableBytes = reinterpret_cast<const unsigned char*>(tables.data());
  std::size_t tableLength = tables.size();
  if (tableLength > 0) {
    if (!StartsWithImageStart(tableBytes, tableLength)) {
      return Status::Damaged("the JPEG tables do not start with a start-of-image marker");
    }
    // The tables go between the tile's start-of-image and the rest of it.
    tableBytes += 2;
    tableLength -= 2;
    if (tableLength >= 2 && tableBytes[tableLength - 2] == 0xFF &&
        tableBytes[tableLength - 1] == 0xD9) {
      tableLength -= 2;
    }
  }
  stream->reserve(stream->size() + tile.size() + tableLength + sizeof kAdobeRgbMarker);
  stream->insert(stream->end(), tile.begin(), tile.begin() + 2);
  if (rgbSamples) stream->insert(stream->end(), kAdobeRgbMarker, kAdobeRgbMarker + sizeof kAdobeRgbMarker);
  stream->insert(stream->end(), tableBytes, tableBytes + tableLength);
  stream->insert(stream->end(), tile.begin() + 2, tile.end());
  return Status::Ok();
}

}  // namespace strata::tiff
