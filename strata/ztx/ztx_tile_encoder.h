// Encodes one square tile as it is stored in a ZTX file: a JPEG or 24-bit
// BMP stream, or for multi-channel slides one greyscale JPEG per channel,
// back to back.
#ifndef STRATA_ZTX_ZTX_TILE_ENCODER_H_
#define STRATA_ZTX_ZTX_TILE_ENCODER_H_

#include <vector>

#include "strata/ztx/ztx_writer.h"

namespace strata::ztx {

// Greatest number of channels a multi-channel slide holds.
constexpr int kMaxChannels = 6;

// The grey plane of channel 1-6 derived from RGB pixels: R, G, B, then the
// truncated means (R+G)/2, (G+B)/2, (R+B)/2.
std::vector<unsigned char> ChannelPlane(const unsigned char* rgb, int pixelCount, int channel);

class TileEncoder {
 public:
  TileEncoder(TileEncoding encoding, int jpegQuality, int channelCount)
      : encoding_(encoding), jpegQuality_(jpegQuality), channelCount_(channelCount) {}

  // Encodes a size x size RGB tile into *stream; false when the codec fails.
  bool Encode(const unsigned char* rgb, int size, std::vector<unsigned char>* stream) const;

 private:
  bool AppendJpeg(const unsigned char* pixels, int size, int components,
                  std::vector<unsigned char>* stream) const;
  bool AppendBmp(const unsigned char* rgb, int size, std::vector<unsigned char>* stream) const;

  TileEncoding encoding_;
  int jpegQuality_;
  int channelCount_;
};

}  // namespace strata::ztx

#endif  // STRATA_ZTX_ZTX_TILE_ENCODER_H_
