#include "strata/ztx/ztx_tile_encoder.h"

#include <memory>

#include "strata/model/image_buffer.h"
#include "strata/model/image_codec.h"

namespace strata::ztx {
namespace {

using CodecBuffer = OwnedBuffer;

void Append(const CodecBuffer& buffer, int length, std::vector<unsigned char>* stream) {
  stream->insert(stream->end(), buffer.get(), buffer.get() + length);
}

}  // namespace

std::vector<unsigned char> ChannelPlane(const unsigned char* rgb, int pixelCount, int channel) {
  std::vector<unsigned char> plane(static_cast<std::size_t>(pixelCount));
  for (std::size_t i = 0; i < plane.size(); ++i) {
    const unsigned r = rgb[3 * i];
    const unsigned g = rgb[3 * i + 1];
    const unsigned b = rgb[3 * i + 2];
    unsigned value = 0;
    switch (channel) {
      case 1: value = r; break;
      case 2: value = g; break;
      case 3: value = b; break;
      case 4: value = (r + g) / 2; break;
      case 5: value = (g + b) / 2; break;
      default: value = (r + b) / 2; break;
    }
    plane[i] = static_cast<unsigned char>(value);
  }
  return plane;
}

bool TileEncoder::Encode(const unsigned char* rgb, int size,
                         std::vector<unsigned char>* stream) const {
  stream->clear();
  if (channelCount_ > 0) {
    for (int channel = 1; channel <= channelCount_; ++channel) {
      const std::vector<unsigned char> plane = ChannelPlane(rgb, size * size, channel);
      if (!AppendJpeg(plane.data(), size, 1, stream)) return false;
    }
    return true;
  }
  if (encoding_ == TileEncoding::kBmp) return AppendBmp(rgb, size, stream);
  return AppendJpeg(rgb, size, 3, stream);
}

bool TileEncoder::AppendJpeg(const unsigned char* pixels, int size, int components,
                             std::vector<unsigned char>* stream) const {
  unsigned char* raw = nullptr;
  int length = 0;
  const bool encoded =
      EncodeJpegWithQuality(pixels, size, size, components, jpegQuality_, &raw, length);
  CodecBuffer buffer(raw);
  if (!encoded || buffer == nullptr || length <= 0) return false;
  Append(buffer, length, stream);
  return true;
}

bool TileEncoder::AppendBmp(const unsigned char* rgb, int size,
                            std::vector<unsigned char>* stream) const {
  unsigned char* raw = nullptr;
  int length = 0;
  const bool encoded = EncodeBmp24(rgb, size, size, &raw, length);
  CodecBuffer buffer(raw);
  if (!encoded || buffer == nullptr || length <= 0) return false;
  Append(buffer, length, stream);
  return true;
}

}  // namespace strata::ztx
