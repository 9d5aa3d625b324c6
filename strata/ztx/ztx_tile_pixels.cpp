#include "strata/ztx/ztx_tile_pixels.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "strata/model/image_buffer.h"
#include "strata/model/image_codec.h"
#include "strata/model/pixel_ops.h"
#include "strata/ztx/ztx_channel_streams.h"

namespace strata::ztx {

namespace {

// One grey plane from a channel stream (a colour stream gives its first
// component).
PixelBuffer DecodeGreyPlane(const unsigned char* stream, int length, const TileLimits& limits,
                            int& width, int& height) {
  int components = 0;
  PixelBuffer decoded(DecodeJpegComponentsWithin(stream, length, limits.width, limits.height, width,
                                                 height, components));
  if (decoded == nullptr || components == 1) return decoded;
  if (components != 3) return nullptr;
  const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  for (std::size_t p = 0; p < count; ++p) decoded[p] = decoded[p * 3];
  return decoded;
}

}  // namespace

TileLimits LimitsOfStoredTile(const TileInfo& tile, int blockSize) {
  TileLimits limits;
  if (blockSize <= 0 || tile.width <= 0 || tile.height <= 0) return limits;
  limits.width = std::min(tile.width, blockSize);
  limits.height = std::min(tile.height, blockSize);
  return limits;
}

TileLimits LimitsOfComposedTile() { return TileLimits{kComposedTileSize, kComposedTileSize}; }

// Colour pixels of a multi-channel tile: the channel in each place becomes
// red, green or blue. Planes whose size differs from the first decoded one
// count as absent. With no channel chosen the tile is black at its limits;
// when chosen channels exist but none decodes the tile fails.
PixelBuffer ComposeChannelPixels(const std::vector<unsigned char>& stored,
                                 const std::array<int, 3>& places, const TileLimits& limits,
                                 int& width, int& height) {
  width = height = 0;
  if (!PlausibleLimits(limits)) return nullptr;
  std::int32_t lengths[kChannelStreamCount];
  SplitChannelStreams(stored.data(), stored.size(), lengths);
  std::size_t starts[kChannelStreamCount] = {};
  for (int c = 1; c < kChannelStreamCount; ++c) {
    starts[c] = starts[c - 1] + static_cast<std::size_t>(lengths[c - 1]);
  }
  PixelBuffer planes[3];
  bool anyChosen = false;
  width = height = 0;
  for (int place = 0; place < 3; ++place) {
    const int channel = places[place];
    if (channel == 0) continue;
    anyChosen = true;
    if (lengths[channel - 1] == 0) continue;
    int planeWidth = 0;
    int planeHeight = 0;
    PixelBuffer plane = DecodeGreyPlane(stored.data() + starts[channel - 1], lengths[channel - 1],
                                        limits, planeWidth, planeHeight);
    if (plane == nullptr) continue;
    if (width == 0) {
      width = planeWidth;
      height = planeHeight;
    } else if (planeWidth != width || planeHeight != height) {
      continue;
    }
    planes[place] = std::move(plane);
  }
  if (width == 0) {
    if (anyChosen) return nullptr;
    width = limits.width;
    height = limits.height;
  }
  PixelBuffer pixels(
      InterleavePlanes(planes[0].get(), planes[1].get(), planes[2].get(), width, height));
  if (pixels == nullptr) width = height = 0;
  return pixels;
}

std::array<int, 3> PlacesFromFlags(bool c1, bool c2, bool c3, bool c4, bool c5, bool c6) {
  const bool flags[kChannelStreamCount] = {c1, c2, c3, c4, c5, c6};
  return SelectChannelPlaces(flags);
}

// Hands pixels out as they are or as a JPEG stream; false (nothing handed
// out) when encoding fails.
void ConsumeCallerBuffer(unsigned char** out) {
  if (out == nullptr) return;
  ReleaseBuffer(*out);
  *out = nullptr;
}

void AdjustTileStream(const std::vector<unsigned char>& stream, bool tilesAreBmp,
                      LookupTableCache& cache, const float params[kLookupParameterCount],
                      const bool keep[3], unsigned char** out, int& length,
                      const TileLimits& limits) {
  length = 0;
  if (IsNeutralAdjustment(params)) {
    if (*out == nullptr) *out = AllocateBuffer(stream.size());
    if (*out == nullptr) return;
    std::memcpy(*out, stream.data(), stream.size());
    length = static_cast<int>(stream.size());
    return;
  }
  ConsumeCallerBuffer(out);
  int width = 0;
  int height = 0;
  PixelBuffer pixels =
      DecodeTileStream(stream.data(), stream.size(), tilesAreBmp, limits, width, height);
  if (pixels == nullptr) return;
  int table[256][3];
  cache.Prepare(params, table);
  ApplyLookupTable(table, keep, pixels.get(),
                   static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  if (!HandOut(std::move(pixels), width, height, true, out, length)) length = 0;
}

}  // namespace strata::ztx
