// Tile pixels shared by regions and single-tile output: decoding stored
// streams (JPEG, BMP, or a multi-channel tile's grey streams) to RGB and
// handing results across the C interface.
#ifndef STRATA_ZTX_ZTX_TILE_PIXELS_H_
#define STRATA_ZTX_ZTX_TILE_PIXELS_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "strata/model/image_buffer.h"
#include "strata/model/lookup_table.h"
#include "strata/model/region_geometry.h"
#include "strata/model/tile_decoder.h"
#include "strata/ztx/tile_info.h"

namespace strata::ztx {

using strata::PixelBuffer;

// The largest frame a stored tile may decode to is bounded by its record and
// by the block size, whichever is smaller; composed tiles by the size they
// are composed at.
using strata::DecodeTileStream;
using strata::kAnyFrame;
using strata::TileLimits;
constexpr int kComposedTileSize = 256;
TileLimits LimitsOfStoredTile(const TileInfo& tile, int blockSize);
TileLimits LimitsOfComposedTile();

// Colour pixels of a multi-channel tile: the channel in each place becomes
// red, green or blue. Planes whose size differs from the first decoded one
// count as absent (0), as do planes beyond `limits`. With no channel chosen
// the tile is black at the size of `limits`; when chosen channels exist but
// none decodes, null.
PixelBuffer ComposeChannelPixels(const std::vector<unsigned char>& stored,
                                 const std::array<int, 3>& places, const TileLimits& limits,
                                 int& width, int& height);

std::array<int, 3> PlacesFromFlags(bool c1, bool c2, bool c3, bool c4, bool c5, bool c6);

using strata::HandOut;

// Releases the caller's buffer at *out (from AllocateBuffer) and clears it.
void ConsumeCallerBuffer(unsigned char** out);

// Adjusts one tile's encoded stream for the caller of a tile adjustment.
// Neutral parameters: the stream is copied unchanged into the caller's buffer
// at *out when one is given (it must hold the stream), else into a new one.
// Otherwise the caller's buffer is released and *out receives a new JPEG of
// the mapped pixels (channels whose `keep` flag is false become 0); a stream
// that does not decode leaves *out null and length 0.
void AdjustTileStream(const std::vector<unsigned char>& stream, bool tilesAreBmp,
                      LookupTableCache& cache, const float params[kLookupParameterCount],
                      const bool keep[3], unsigned char** out, int& length,
                      const TileLimits& limits = kAnyFrame);

}  // namespace strata::ztx

#endif  // STRATA_ZTX_ZTX_TILE_PIXELS_H_
