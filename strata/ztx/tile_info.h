// One tile of a ZTX slide as filed in the slide's tile map.
#ifndef STRATA_ZTX_TILE_INFO_H_
#define STRATA_ZTX_TILE_INFO_H_

#include <cstdint>

struct TileInfo {
  std::int32_t x = 0;       // left pixel position at the tile's scale
  std::int32_t y = 0;       // top pixel position at the tile's scale
  std::int32_t width = 0;   // pixels
  std::int32_t height = 0;  // pixels
  float scale = 0.0f;
  std::int32_t length = 0;  // bytes of the stored stream
  std::int64_t offset = 0;  // stream position relative to the index offset
  std::int32_t channelLengths[6] = {0, 0, 0, 0, 0, 0};  // multi-channel slides
};

#endif  // STRATA_ZTX_TILE_INFO_H_
