#include "strata/tiff/tiff_jpeg_stream.h"

namespace strata::tiff {
namespace {

// APP14 "Adobe", version 100, no flags, transform 0: the samples are RGB.
constexpr unsigned char kAdobeRgbMarker[] = {0xFF, 0xEE, 0x00, 0x0E, 'A',  'd',  'o', 'b',
                                             'e',  0x00, 0x64, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr unsigned char kImageStart[] = {0xFF, 0xD8};

}  // namespace

bool StartsLikeJpeg(const unsigned char* tile, std::size_t length) {
  return length >= 2 && tile[0] == kImageStart[0] && tile[1] == kImageStart[1];
}

Status JpegStreamPrefix(const std::string& tables, bool rgbSamples,
                        std::vector<unsigned char>* prefix) {
  prefix->assign(kImageStart, kImageStart + 2);
  if (rgbSamples) prefix->insert(prefix->end(), kAdobeRgbMarker, kAdobeRgbMarker + sizeof kAdobeRgbMarker);
  if (tables.empty()) return Status::Ok();
  const auto* bytes = reinterpret_cast<const unsigned char*>(tables.data());
  std::size_t length = tables.size();
  if (!StartsLikeJpeg(bytes, length)) {
    return Status::Damaged("the JPEG tables do not start with a start-of-image marker");
  }
  bytes += 2;
  length -= 2;
  if (length >= 2 && bytes[length - 2] == 0xFF && bytes[length - 1] == 0xD9) length -= 2;
  prefix->insert(prefix->end(), bytes, bytes + length);
  return Status::Ok();
}

}  // namespace strata::tiff
