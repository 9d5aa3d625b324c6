#include "strata/model/tile_decoder.h"

#include <climits>
#include <cstdint>

#include "strata/model/image_codec.h"

namespace strata {
namespace {

// Grey or colour decoder output as RGB.
PixelBuffer ExpandToRgb(unsigned char* decoded, int width, int height, int components) {
  PixelBuffer owned(decoded);
  if (owned == nullptr || components == 3) return owned;
  if (components != 1) return nullptr;
  const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  PixelBuffer rgb(AllocateBuffer(count * 3));
  if (rgb == nullptr) return nullptr;
  for (std::size_t p = 0; p < count; ++p) {
    rgb[p * 3] = rgb[p * 3 + 1] = rgb[p * 3 + 2] = owned[p];
  }
  return rgb;
}

// The frame bounds handed to the JPEG decoder (0: the stream's own bound).
int DecoderBound(int limit) { return limit > 0 ? limit : 0; }

bool WithinLimits(const TileLimits& limits, int width, int height) {
  return limits.width < 0 || (width <= limits.width && height <= limits.height);
}

}  // namespace

bool PlausibleLimits(const TileLimits& limits) {
  return (limits.width > 0 && limits.height > 0) ||
         (limits.width == kAnyFrame.width && limits.height == kAnyFrame.height);
}

bool LooksLikeJpeg(const unsigned char* stream, std::size_t length) {
  return length >= 2 && stream[0] == 0xFF && stream[1] == 0xD8;
}

PixelBuffer DecodeTileStream(const unsigned char* stream, std::size_t length, bool tilesAreBmp,
                             const TileLimits& limits, int& width, int& height) {
  width = height = 0;
  if (stream == nullptr || length == 0 || length > static_cast<std::size_t>(INT_MAX) ||
      !PlausibleLimits(limits)) {
    return nullptr;
  }
  const int size = static_cast<int>(length);
  if (tilesAreBmp && !LooksLikeJpeg(stream, length)) {
    // A BMP's pixels are its stream, so only the frame size needs checking.
    PixelBuffer pixels(DecodeBmp24(stream, size, width, height));
    if (pixels == nullptr || !WithinLimits(limits, width, height)) {
      width = height = 0;
      return nullptr;
    }
    return pixels;
  }
  int components = 0;
  unsigned char* decoded =
      DecodeJpegComponentsWithin(stream, size, DecoderBound(limits.width),
                                 DecoderBound(limits.height), width, height, components);
  PixelBuffer pixels = ExpandToRgb(decoded, width, height, components);
  if (pixels == nullptr) width = height = 0;
  return pixels;
}

}  // namespace strata
