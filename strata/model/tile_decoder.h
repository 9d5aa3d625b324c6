// The one decoder of stored tile streams: JPEG (colour or grey) or an
// unpadded 24-bit BMP to RGB pixels, refusing frames larger than the tile
// may be. Every format and the façade decode tiles here.
#ifndef STRATA_MODEL_TILE_DECODER_H_
#define STRATA_MODEL_TILE_DECODER_H_

#include <cstddef>

#include "strata/model/image_buffer.h"

namespace strata {

// The largest frame one tile may decode to.
struct TileLimits {
  int width = 0;
  int height = 0;
};
// For tiles that carry no record of their size: any frame their stream can
// describe.
constexpr TileLimits kAnyFrame{-1, -1};

// True for positive limits or kAnyFrame.
bool PlausibleLimits(const TileLimits& limits);

// A stored stream to RGB pixels (grey JPEGs are widened). BMP when
// `tilesAreBmp`, except that a stream starting like a JPEG is decoded as one
// (composed tiles are JPEG on every slide). Null with zero sizes when the
// stream does not decode or its frame exceeds `limits`.
PixelBuffer DecodeTileStream(const unsigned char* stream, std::size_t length, bool tilesAreBmp,
                             const TileLimits& limits, int& width, int& height);

// True when the stream starts with a JPEG start-of-image marker.
bool LooksLikeJpeg(const unsigned char* stream, std::size_t length);

}  // namespace strata

#endif  // STRATA_MODEL_TILE_DECODER_H_
