// Single tiles of a ZTX slide after the lookup-table adjustment, and colour
// tiles built from the channels of a multi-channel slide.
//
// The lookup table is shared by the slide (LookupTableCache), so adjustments
// may run beside regions and tile reads and beside each other.
//
// The caller's buffer at *out is consumed (released and replaced, or cleared)
// unless the unchanged stored stream is copied into it.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#include "strata/model/image_buffer.h"
#include "strata/model/lookup_table.h"
#include "strata/ztx/ztx_data_file.h"
#include "strata/ztx/ztx_header.h"
#include "strata/ztx/ztx_tile_pixels.h"

using strata::ztx::ConsumeCallerBuffer;
using strata::ztx::HandOut;
using strata::ztx::PixelBuffer;

namespace {

// The tile's stream: composed for a level the file does not store, else as
// stored, with the largest frame it may decode to. False when there is no
// such tile or it cannot be read.
bool FetchTileStream(CZTXDataFile& slide, float scale, int x, int y,
                     std::vector<unsigned char>& stream, strata::ztx::TileLimits& limits) {
  unsigned char* composed = nullptr;
  int composedLength = 0;
  if (slide.ComposeMissingLevelTile(scale, x, y, composedLength, &composed)) {
    PixelBuffer owned(composed);
    if (owned == nullptr || composedLength <= 0) return false;
    stream.assign(owned.get(), owned.get() + composedLength);
    limits = strata::ztx::LimitsOfComposedTile();
    return true;
  }
  strata::ReleaseBuffer(composed);
  const TileInfo* tile = slide.FindTile(scale, x, y);
  if (tile == nullptr || slide.GetZtxHeader() == nullptr) return false;
  limits = strata::ztx::LimitsOfStoredTile(*tile, slide.GetZtxHeader()->GetBlockSize());
  return slide.ReadStoredTile(*tile, stream);
}

}  // namespace

unsigned char* CZTXDataFile::ReadTileAdjusted(float scale, int x, int y, int& length,
                                              unsigned char** out, float p1, float p2, float p3,
                                              float p4, float p5, float p6) {
  const float params[strata::kLookupParameterCount] = {p1, p2, p3, p4, p5, p6};
  const bool keep[3] = {true, true, true};
  return AdjustTile(scale, x, y, length, out, params, keep);
}

unsigned char* CZTXDataFile::ReadTileAdjustedChannels(float scale, int x, int y, int& length,
                                                      unsigned char** out, float p1, float p2,
                                                      float p3, float p4, float p5, float p6,
                                                      bool c1, bool c2, bool c3, bool, bool, bool) {
  const float params[strata::kLookupParameterCount] = {p1, p2, p3, p4, p5, p6};
  const bool keep[3] = {c1, c2, c3};
  return AdjustTile(scale, x, y, length, out, params, keep);
}

unsigned char* CZTXDataFile::AdjustTile(float scale, int x, int y, int& length, unsigned char** out,
                                        const float params[6], const bool keep[3]) {
  length = 0;
  if (out == nullptr) return nullptr;
  std::vector<unsigned char> stream;
  strata::ztx::TileLimits limits;
  if (!FetchTileStream(*this, scale, x, y, stream, limits)) {
    ConsumeCallerBuffer(out);
    return nullptr;
  }
  strata::ztx::AdjustTileStream(stream, TilesAreBmp(), lookupTable_, params, keep, out, length,
                                limits);
  return nullptr;
}

unsigned char* CZTXDataFile::ReadTileChannels(float scale, int x, int y, int& length,
                                              unsigned char** out, bool c1, bool c2, bool c3,
                                              bool c4, bool c5, bool c6) {
  length = 0;
  if (out == nullptr) return nullptr;
  ConsumeCallerBuffer(out);
  unsigned char* composed = nullptr;
  int composedLength = 0;
  if (ComposeMissingLevelTile(scale, x, y, composedLength, &composed)) {
    // A level the file does not store comes back as the composed colour tile.
    *out = composed;
    length = composed != nullptr ? composedLength : 0;
    return nullptr;
  }
  strata::ReleaseBuffer(composed);
  const TileInfo* tile = FindTile(scale, x, y);
  std::vector<unsigned char> stored;
  if (tile == nullptr || header_ == nullptr || !ReadStoredTile(*tile, stored)) return nullptr;
  int width = 0;
  int height = 0;
  PixelBuffer pixels = strata::ztx::ComposeChannelPixels(
      stored, strata::ztx::PlacesFromFlags(c1, c2, c3, c4, c5, c6),
      strata::ztx::LimitsOfStoredTile(*tile, header_->GetBlockSize()), width, height);
  if (!HandOut(std::move(pixels), width, height, true, out, length)) length = 0;
  return nullptr;
}
