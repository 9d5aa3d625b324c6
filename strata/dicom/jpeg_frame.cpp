#include "strata/dicom/jpeg_frame.h"

#include <cstring>
#include <iterator>

namespace strata::dicom {
namespace {

constexpr unsigned char kMarker = 0xFF;
constexpr unsigned char kStartOfImage = 0xD8;
constexpr unsigned char kEndOfImage = 0xD9;
constexpr unsigned char kApp0 = 0xE0;
constexpr unsigned char kApp14 = 0xEE;

// A start-of-frame or start-of-scan marker ends the table segments.
bool EndsTables(unsigned char code) {
  return (code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC) ||
         code == 0xDA;
}

bool SegmentStartsWith(const std::vector<unsigned char>& stream, std::size_t payload,
                       std::size_t length, const char* text) {
  const std::size_t size = std::strlen(text);
  return length >= size + 2 && payload + size <= stream.size() &&
         std::memcmp(stream.data() + payload, text, size) == 0;
}

}  // namespace

std::string CheckJpegFrame(std::vector<unsigned char>& stream) {
  if (stream.size() < 4 || stream[0] != kMarker || stream[1] != kStartOfImage) {
    return "does not start like a JPEG stream";
  }
  std::size_t end = stream.size();
  while (end > 2 && stream[end - 1] == 0) --end;
  if (end < 4 || stream[end - 2] != kMarker || stream[end - 1] != kEndOfImage) {
    return "is cut short: its JPEG stream has no end-of-image marker";
  }
  stream.resize(end);
  return "";
}

void MarkJpegAsRgb(std::vector<unsigned char>& stream) {
  std::size_t at = 2;
  while (at + 4 <= stream.size() && stream[at] == kMarker) {
    const unsigned char code = stream[at + 1];
    if (EndsTables(code)) break;
    const std::size_t length = static_cast<std::size_t>(stream[at + 2]) << 8 | stream[at + 3];
    if (code == kApp0 && SegmentStartsWith(stream, at + 4, length, "JFIF")) return;
    if (code == kApp14 && SegmentStartsWith(stream, at + 4, length, "Adobe")) return;
    at += 2 + length;
  }
  // APP14 "Adobe": version 100, flags 0 and 0, transform 0 (RGB as is).
  static const unsigned char kAdobe[] = {kMarker, kApp14, 0x00, 0x0E, 'A',  'd',  'o',  'b',
                                         'e',     0x00,   0x64, 0x00, 0x00, 0x00, 0x00, 0x00};
  stream.insert(stream.begin() + 2, std::begin(kAdobe), std::end(kAdobe));
}

}  // namespace strata::dicom
