// Regions and the scan-scale mosaic of a ZTX slide, composed by the shared
// region composer from the slide's stored tiles.
//
// Regions only read the slide (tile map, header, reader), so they may run on
// several threads at once and beside tile reads.
#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "strata/model/image_buffer.h"
#include "strata/model/region_composer.h"
#include "strata/model/region_geometry.h"
#include "strata/model/slide_format.h"
#include "strata/ztx/ztx_channel_streams.h"
#include "strata/ztx/ztx_data_file.h"
#include "strata/ztx/ztx_header.h"
#include "strata/ztx/ztx_region.h"
#include "strata/ztx/ztx_tile_pixels.h"

namespace {

using strata::ztx::PixelBuffer;
using strata::ztx::RegionTileSource;

using strata::FitsRegionMemoryBudget;
using strata::IsUsableScale;
using strata::TruncateIfFits;

// The facts of the header that the mosaic needs.
struct SlideGeometry {
  float scanScale = 0.0f;
  int width = 0;
  int height = 0;
  int blockSize = 0;
};

bool ReadGeometry(CDataHeader* header, SlideGeometry& geometry) {
  if (header == nullptr) return false;
  geometry.scanScale = static_cast<float>(header->GetScanScale());
  geometry.width = header->GetWidth();
  geometry.height = header->GetHeight();
  geometry.blockSize = header->GetBlockSize();
  return geometry.scanScale > 0.0f && geometry.width > 0 && geometry.height > 0 &&
         geometry.blockSize > 0;
}

// The scan-scale rectangle of the mosaic, whole tiles from (left, top).
struct MosaicPlan {
  std::int64_t left = 0;
  std::int64_t top = 0;
  int width = 0;
  int height = 0;
};

// The scan-scale mosaic rectangle of ReadRegionMax and CanReadRegionMax.
bool PlanMosaic(const SlideGeometry& geometry, float scale, int x, int y, int width, int height,
                MosaicPlan& mosaic, std::uint64_t& canvasBytes) {
  if (!IsUsableScale(scale) || width <= 0 || height <= 0) return false;
  const float scan = geometry.scanScale;
  int xs = 0, ys = 0, ws = 0, hs = 0;
  if (!TruncateIfFits(static_cast<float>(x) * scan / scale, xs) ||
      !TruncateIfFits(static_cast<float>(y) * scan / scale, ys) ||
      !TruncateIfFits(static_cast<float>(width) * scan / scale, ws) ||
      !TruncateIfFits(static_cast<float>(height) * scan / scale, hs)) {
    return false;
  }
  // A rectangle wholly outside the slide yields no mosaic, even where the
  // tile-aligned rectangle below would still reach an edge tile.
  if (xs >= geometry.width || ys >= geometry.height || static_cast<std::int64_t>(xs) + ws <= 0 ||
      static_cast<std::int64_t>(ys) + hs <= 0) {
    return false;
  }
  const std::int64_t b = geometry.blockSize;
  std::int64_t left = xs - xs % b;
  std::int64_t top = ys - ys % b;
  std::int64_t right = b * ((static_cast<std::int64_t>(xs) + ws) / b + 1);
  std::int64_t bottom = b * ((static_cast<std::int64_t>(ys) + hs) / b + 1);
  if (left > geometry.width || top > geometry.height || right < 0 || bottom < 0 || left >= right ||
      top >= bottom) {
    return false;
  }
  if (left < 0) {
    right = left + ws;
    left = 0;
  }
  if (top < 0) {
    bottom = top + hs;
    top = 0;
  }
  right = std::min<std::int64_t>(right, geometry.width);
  bottom = std::min<std::int64_t>(bottom, geometry.height);
  if (left >= right || top >= bottom) return false;
  const std::int64_t canvasWidth = (right - left + b - 1) / b * b;
  const std::int64_t canvasHeight = (bottom - top + b - 1) / b * b;
  std::size_t bytes = 0;
  if (canvasWidth > INT_MAX || canvasHeight > INT_MAX ||
      !strata::CheckedPixelBytes(canvasWidth, canvasHeight, 3, bytes)) {
    canvasBytes = UINT64_MAX;
    return true;  // planned, but over every budget
  }
  mosaic.left = left;
  mosaic.top = top;
  mosaic.width = static_cast<int>(canvasWidth);
  mosaic.height = static_cast<int>(canvasHeight);
  canvasBytes = bytes;
  return true;
}

}  // namespace

namespace strata::ztx {

float SelectSourceScale(float scanScale, int levelMode, float scale) {
  if (!IsUsableScale(scale)) return 0.0f;
  if (scale > scanScale) return scanScale;
  const float ratio = scanScale / scale;
  // Levels halve (mode 0) or, while near the scan level, step by 4 (mode 1)
  // or 16 (mode 2); listed down to the first one at or below the request.
  // lower reaches 0 for any positive scale, so this ends.
  std::vector<float> levels{scanScale};
  while (levels.back() > scale) {
    float lower = levels.back() * 0.5f;
    if (ratio < 16.0f) {
      if (levelMode == 1) lower *= 0.5f;
      if (levelMode == 2) lower *= 0.125f;
    }
    levels.push_back(lower);
  }
  return levels[static_cast<std::size_t>(strata::ChooseSourceLevel(levels, scale))];
}

bool RegionTileSource::Geometry(int& width, int& height, float& scanScale) {
  SlideGeometry geometry;
  if (!ReadGeometry(RegionHeader(), geometry)) return false;
  width = geometry.width;
  height = geometry.height;
  scanScale = geometry.scanScale;
  return true;
}

int RegionTileSource::BlockSize() {
  CDataHeader* header = RegionHeader();
  return header == nullptr ? 0 : header->GetBlockSize();
}

int ComposeRegion(RegionTileSource& source, float scale, int x, int y, int width, int height,
                  unsigned char** out, int& length, bool encode) {
  if (out == nullptr) return 0;
  *out = nullptr;
  PixelBuffer region = strata::ComposeScaledRegion(source, scale, x, y, width, height);
  if (region == nullptr) return 0;
  return HandOut(std::move(region), width, height, encode, out, length) ? 1 : 0;
}

int ComposeMosaic(RegionTileSource& source, float scale, int x, int y, int width, int height,
                  unsigned char** out, int& length, bool encode) {
  if (out == nullptr) return 0;
  *out = nullptr;
  length = 0;
  SlideGeometry geometry;
  if (!ReadGeometry(source.RegionHeader(), geometry)) return 0;
  MosaicPlan mosaic;
  std::uint64_t canvasBytes = 0;
  if (!PlanMosaic(geometry, scale, x, y, width, height, mosaic, canvasBytes)) return 0;
  if (!FitsRegionMemoryBudget(canvasBytes)) return 0;
  PixelBuffer canvas(strata::AllocateBuffer(canvasBytes));
  if (canvas == nullptr) return 0;
  const strata::WindowTarget target{canvas.get(), static_cast<std::size_t>(mosaic.width) * 3, 3};
  source.FillGrid(geometry.scanScale, mosaic.left, mosaic.top, mosaic.width, mosaic.height, target,
                  255);
  return HandOut(std::move(canvas), mosaic.width, mosaic.height, encode, out, length) ? 1 : 0;
}

bool MosaicFits(RegionTileSource& source, float scale, int x, int y, int width, int height) {
  SlideGeometry geometry;
  if (!ReadGeometry(source.RegionHeader(), geometry)) return false;
  MosaicPlan mosaic;
  std::uint64_t canvasBytes = 0;
  return PlanMosaic(geometry, scale, x, y, width, height, mosaic, canvasBytes) &&
         FitsRegionMemoryBudget(canvasBytes);
}

}  // namespace strata::ztx

namespace {

// The tiles of a ZTX slide as stored in its tile map; with `places` set, the
// colour pixels of a multi-channel slide's chosen channels.
class StoredTileSource : public RegionTileSource {
 public:
  StoredTileSource(CZTXDataFile& slide, const std::array<int, 3>* places)
      : slide_(slide), places_(places) {}

  CDataHeader* RegionHeader() override { return slide_.GetHeader(); }
  float SourceScale(float scale) override { return slide_.SelectSourceScale(scale); }
  bool FetchTile(float scale, int x, int y, std::vector<unsigned char>& stream) override {
    last_ = slide_.FindTile(scale, x, y);
    return last_ != nullptr && slide_.ReadStoredTile(*last_, stream);
  }
  PixelBuffer DecodeTile(const std::vector<unsigned char>& stream, int& width,
                         int& height) override {
    // A stored tile never decodes larger than its record and the block size.
    const strata::ztx::TileLimits limits =
        last_ != nullptr && slide_.GetZtxHeader() != nullptr
            ? strata::ztx::LimitsOfStoredTile(*last_, slide_.GetZtxHeader()->GetBlockSize())
            : strata::ztx::TileLimits{};
    if (places_ == nullptr) {
      return strata::ztx::DecodeTileStream(stream.data(), stream.size(), slide_.TilesAreBmp(),
                                           limits, width, height);
    }
    return strata::ztx::ComposeChannelPixels(stream, *places_, limits, width, height);
  }
  bool TilesAreColourJpeg() override { return places_ == nullptr && !slide_.TilesAreBmp(); }
  void AnnounceTiles(float scale, const std::vector<std::pair<int, int>>& origins) override {
    std::vector<const TileInfo*> tiles;
    tiles.reserve(origins.size());
    for (const auto& [x, y] : origins) tiles.push_back(slide_.FindTile(scale, x, y));
    slide_.PrefetchTiles(tiles);
  }

 private:
  CZTXDataFile& slide_;
  const std::array<int, 3>* places_;
  const TileInfo* last_ = nullptr;
};

}  // namespace

int CZTXDataFile::ComposeRegion(float scale, int x, int y, int width, int height,
                                unsigned char** out, int& length, bool encode,
                                const bool* channels) {
  std::array<int, 3> places{};
  if (channels != nullptr) {
    places = strata::ztx::PlacesFromFlags(channels[0], channels[1], channels[2], channels[3],
                                          channels[4], channels[5]);
  }
  StoredTileSource source(*this, channels != nullptr ? &places : nullptr);
  return strata::ztx::ComposeRegion(source, scale, x, y, width, height, out, length, encode);
}

strata::Status CZTXDataFile::ComposeRegionInto(double scale, std::int64_t x, std::int64_t y,
                                               int width, int height, strata::Image* rgb) {
  StoredTileSource source(*this, nullptr);
  return strata::ComposeInto(source, scale, x, y, width, height, rgb);
}

int CZTXDataFile::ReadRegion(float scale, int x, int y, int width, int height, unsigned char** out,
                             int& length, bool encode) {
  return ComposeRegion(scale, x, y, width, height, out, length, encode, nullptr);
}

int CZTXDataFile::ReadRegionChannels(float scale, int x, int y, int width, int height,
                                     unsigned char** out, int& length, bool encode, bool c1,
                                     bool c2, bool c3, bool c4, bool c5, bool c6) {
  const bool channels[strata::ztx::kChannelStreamCount] = {c1, c2, c3, c4, c5, c6};
  return ComposeRegion(scale, x, y, width, height, out, length, encode, channels);
}

int CZTXDataFile::ReadRegionMax(float scale, int x, int y, int width, int height,
                                unsigned char** out, int& length, bool encode) {
  StoredTileSource source(*this, nullptr);
  return strata::ztx::ComposeMosaic(source, scale, x, y, width, height, out, length, encode);
}

bool CZTXDataFile::CanReadRegionMax(float scale, int x, int y, int width, int height) {
  StoredTileSource source(*this, nullptr);
  return strata::ztx::MosaicFits(source, scale, x, y, width, height);
}
