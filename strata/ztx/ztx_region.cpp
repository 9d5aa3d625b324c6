// Regions and the scan-scale mosaic of a ZTX slide.
//
// Regions only read the slide (tile map, header, reader), so they may run on
// several threads at once and beside tile reads. Tiles are decoded on the
// calling thread, one after another, straight into the pixels the region is
// cut from: at an unscaled request that is the output buffer itself.
//
// Tiles are placed by their grid position (column and row of the lookup), so
// a missing tile leaves its own square white and shifts nothing; a decoded
// tile larger than the block size is clipped to its square.
#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "strata/model/image_buffer.h"
#include "strata/model/image_codec.h"
#include "strata/model/pixel_ops.h"
#include "strata/model/region_geometry.h"
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

// The facts of the header that every region needs.
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

// Where decoded tiles go: the tile grid of one stored level, and the window of
// it that lands in `pixels` at (windowLeft, windowTop).
struct TilePlacement {
  float scale = 0.0f;  // stored level the tiles come from
  int blockSize = 0;
  std::int64_t gridLeft = 0;  // level position of the first tile
  std::int64_t gridTop = 0;
  int columns = 0;
  int rows = 0;
  int offsetX = 0;  // window start inside the grid
  int offsetY = 0;
  int windowWidth = 0;
  int windowHeight = 0;
  unsigned char* pixels = nullptr;
  int pixelsWidth = 0;
  int pixelsHeight = 0;
  int windowLeft = 0;
  int windowTop = 0;
};

// The part of grid square (column, row) inside the window, in grid pixels.
struct CellWindow {
  std::int64_t cellX, cellY;  // top-left of the square
  std::int64_t x0, y0, x1, y1;
  bool empty() const { return x0 >= x1 || y0 >= y1; }
};

CellWindow WindowOfCell(const TilePlacement& target, int column, int row) {
  CellWindow cell;
  cell.cellX = static_cast<std::int64_t>(column) * target.blockSize;
  cell.cellY = static_cast<std::int64_t>(row) * target.blockSize;
  cell.x0 = std::max<std::int64_t>(cell.cellX, target.offsetX);
  cell.y0 = std::max<std::int64_t>(cell.cellY, target.offsetY);
  cell.x1 = std::min<std::int64_t>(cell.cellX + target.blockSize,
                                   static_cast<std::int64_t>(target.offsetX) + target.windowWidth);
  cell.y1 = std::min<std::int64_t>(cell.cellY + target.blockSize,
                                   static_cast<std::int64_t>(target.offsetY) + target.windowHeight);
  return cell;
}

// Paints a rectangle of grid pixels white in the target.
void Whiten(const TilePlacement& target, std::int64_t x0, std::int64_t y0, std::int64_t x1,
            std::int64_t y1) {
  if (x0 >= x1 || y0 >= y1) return;
  const std::size_t stride = static_cast<std::size_t>(target.pixelsWidth) * 3;
  const std::size_t bytes = static_cast<std::size_t>(x1 - x0) * 3;
  for (std::int64_t y = y0; y < y1; ++y) {
    unsigned char* row = target.pixels +
                         static_cast<std::size_t>(target.windowTop + y - target.offsetY) * stride +
                         static_cast<std::size_t>(target.windowLeft + x0 - target.offsetX) * 3;
    std::memset(row, 255, bytes);
  }
}

// Copies the part of a decoded tile that lies inside both its grid square and
// the window; what the tile does not cover (a missing or short tile) is white.
void PlaceTile(const TilePlacement& target, const CellWindow& cell, const unsigned char* tile,
               int tileWidth, int tileHeight) {
  if (cell.empty()) return;
  const std::int64_t x1 =
      tile == nullptr ? cell.x0 : std::min<std::int64_t>(cell.x1, cell.cellX + tileWidth);
  const std::int64_t y1 =
      tile == nullptr ? cell.y0 : std::min<std::int64_t>(cell.y1, cell.cellY + tileHeight);
  if (x1 < cell.x1 || y1 < cell.y1) Whiten(target, cell.x0, cell.y0, cell.x1, cell.y1);
  if (x1 <= cell.x0 || y1 <= cell.y0) return;
  const std::size_t tileStride = static_cast<std::size_t>(tileWidth) * 3;
  const unsigned char* source = tile + static_cast<std::size_t>(cell.y0 - cell.cellY) * tileStride +
                                static_cast<std::size_t>(cell.x0 - cell.cellX) * 3;
  strata::PastePixelsStrided(target.pixels, target.pixelsWidth, target.pixelsHeight, source,
                             tileStride, static_cast<int>(x1 - cell.x0),
                             static_cast<int>(y1 - cell.y0),
                             static_cast<int>(target.windowLeft + cell.x0 - target.offsetX),
                             static_cast<int>(target.windowTop + cell.y0 - target.offsetY));
}

// The region rectangle at the requested scale, clipped to the slide, and the
// window of the stored level it is composed from.
struct RegionPlan {
  int clippedWidth = 0;  // cw, ch: the part inside the slide
  int clippedHeight = 0;
  int pasteLeft = 0;  // where that part lies in the output
  int pasteTop = 0;
  TilePlacement tiles;  // without a pixel target yet
};

bool PlanRegion(RegionTileSource& slide, const SlideGeometry& geometry, float scale, int x, int y,
                int width, int height, RegionPlan& plan) {
  strata::RegionClip clip;
  if (!strata::ClipRegion(geometry.width, geometry.height, geometry.scanScale, scale, x, y, width,
                          height, clip)) {
    return false;
  }
  plan.clippedWidth = clip.width;
  plan.clippedHeight = clip.height;
  plan.pasteLeft = clip.pasteLeft;
  plan.pasteTop = clip.pasteTop;

  const float source = slide.SourceScale(scale);
  if (!IsUsableScale(source)) return false;
  strata::SourceWindow window;
  if (!strata::WindowAtSource(clip, source, scale, window)) return false;
  TilePlacement& tiles = plan.tiles;
  tiles.scale = source;
  tiles.blockSize = geometry.blockSize;
  tiles.windowWidth = window.width;
  tiles.windowHeight = window.height;
  const float sourceX = window.x;
  const float sourceY = window.y;
  const float block = static_cast<float>(geometry.blockSize);
  int firstColumn = 0;
  int firstRow = 0;
  if (!TruncateIfFits(sourceX / block, firstColumn) || !TruncateIfFits(sourceY / block, firstRow)) {
    return false;
  }
  tiles.gridLeft = static_cast<std::int64_t>(firstColumn) * geometry.blockSize;
  tiles.gridTop = static_cast<std::int64_t>(firstRow) * geometry.blockSize;
  if (!TruncateIfFits(sourceX - static_cast<float>(tiles.gridLeft), tiles.offsetX) ||
      !TruncateIfFits(sourceY - static_cast<float>(tiles.gridTop), tiles.offsetY)) {
    return false;
  }
  tiles.offsetX = std::max(tiles.offsetX, 0);
  tiles.offsetY = std::max(tiles.offsetY, 0);
  const std::int64_t b = geometry.blockSize;
  tiles.columns =
      static_cast<int>((tiles.offsetX + static_cast<std::int64_t>(tiles.windowWidth) + b - 1) / b);
  tiles.rows =
      static_cast<int>((tiles.offsetY + static_cast<std::int64_t>(tiles.windowHeight) + b - 1) / b);
  return true;
}

// The scan-scale mosaic rectangle of ReadRegionMax and CanReadRegionMax.
bool PlanMosaic(const SlideGeometry& geometry, float scale, int x, int y, int width, int height,
                TilePlacement& tiles, std::uint64_t& canvasBytes) {
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
  tiles.scale = scan;
  tiles.blockSize = geometry.blockSize;
  tiles.gridLeft = left;
  tiles.gridTop = top;
  tiles.columns = static_cast<int>((right - left + b - 1) / b);
  tiles.rows = static_cast<int>((bottom - top + b - 1) / b);
  const std::int64_t canvasWidth = tiles.columns * b;
  const std::int64_t canvasHeight = tiles.rows * b;
  std::size_t bytes = 0;
  if (canvasWidth > INT_MAX || canvasHeight > INT_MAX ||
      !strata::CheckedPixelBytes(canvasWidth, canvasHeight, 3, bytes)) {
    canvasBytes = UINT64_MAX;
    return true;  // planned, but over every budget
  }
  tiles.offsetX = tiles.offsetY = 0;
  tiles.windowWidth = static_cast<int>(canvasWidth);
  tiles.windowHeight = static_cast<int>(canvasHeight);
  canvasBytes = bytes;
  return true;
}

}  // namespace

namespace {

// A JPEG tile whose square lies wholly inside the window is decoded straight
// into its place, without a tile buffer and a copy (the common case of large
// regions). False when that does not apply or the stream is not a colour
// image of the block size; the caller then takes the general path.
bool DecodeWholeCellInPlace(const TilePlacement& target, const CellWindow& cell,
                            const std::vector<unsigned char>& stream) {
  const std::int64_t block = target.blockSize;
  if (cell.x0 != cell.cellX || cell.y0 != cell.cellY || cell.x1 != cell.cellX + block ||
      cell.y1 != cell.cellY + block || stream.size() > static_cast<std::size_t>(INT_MAX)) {
    return false;
  }
  const std::size_t stride = static_cast<std::size_t>(target.pixelsWidth) * 3;
  unsigned char* destination =
      target.pixels +
      static_cast<std::size_t>(target.windowTop + cell.y0 - target.offsetY) * stride +
      static_cast<std::size_t>(target.windowLeft + cell.x0 - target.offsetX) * 3;
  return strata::DecodeJpegInto(stream.data(), static_cast<int>(stream.size()), target.blockSize,
                                target.blockSize, destination, stride);
}

// Fetches, decodes and places every tile of the plan's grid. The window need
// not be initialised: every pixel of it is either a tile's or white afterwards.
void FillTiles(RegionTileSource& slide, const TilePlacement& target) {
  const bool inPlace = slide.TilesAreColourJpeg();
  // Every tile of the grid is announced before any is read, so that the
  // reader can fetch them ahead together.
  std::vector<std::pair<int, int>> origins;
  origins.reserve(static_cast<std::size_t>(target.columns) * static_cast<std::size_t>(target.rows));
  for (int column = 0; column < target.columns; ++column) {
    const std::int64_t tileX =
        target.gridLeft + static_cast<std::int64_t>(column) * target.blockSize;
    for (int row = 0; row < target.rows; ++row) {
      const std::int64_t tileY = target.gridTop + static_cast<std::int64_t>(row) * target.blockSize;
      if (tileX <= INT_MAX && tileY <= INT_MAX) {
        origins.emplace_back(static_cast<int>(tileX), static_cast<int>(tileY));
      }
    }
  }
  slide.AnnounceTiles(target.scale, origins);
  std::vector<unsigned char> stored;
  for (int column = 0; column < target.columns; ++column) {
    const std::int64_t tileX =
        target.gridLeft + static_cast<std::int64_t>(column) * target.blockSize;
    for (int row = 0; row < target.rows; ++row) {
      const std::int64_t tileY = target.gridTop + static_cast<std::int64_t>(row) * target.blockSize;
      const CellWindow cell = WindowOfCell(target, column, row);
      PixelBuffer pixels;
      int width = 0;
      int height = 0;
      if (tileX <= INT_MAX && tileY <= INT_MAX &&
          slide.FetchTile(target.scale, static_cast<int>(tileX), static_cast<int>(tileY), stored)) {
        if (inPlace && DecodeWholeCellInPlace(target, cell, stored)) continue;
        pixels = slide.DecodeTile(stored, width, height);
      }
      PlaceTile(target, cell, pixels.get(), width, height);
    }
  }
}

// Whitens the target outside its window (the parts of a region that lie
// outside the slide).
void WhitenAroundWindow(const TilePlacement& target) {
  const std::size_t stride = static_cast<std::size_t>(target.pixelsWidth) * 3;
  const int windowBottom = target.windowTop + target.windowHeight;
  const int windowRight = target.windowLeft + target.windowWidth;
  for (int y = 0; y < target.pixelsHeight; ++y) {
    unsigned char* row = target.pixels + static_cast<std::size_t>(y) * stride;
    if (y < target.windowTop || y >= windowBottom) {
      std::memset(row, 255, stride);
      continue;
    }
    std::memset(row, 255, static_cast<std::size_t>(target.windowLeft) * 3);
    std::memset(row + static_cast<std::size_t>(windowRight) * 3, 255,
                static_cast<std::size_t>(target.pixelsWidth - windowRight) * 3);
  }
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

int ComposeRegion(RegionTileSource& source, float scale, int x, int y, int width, int height,
                  unsigned char** out, int& length, bool encode) {
  if (out == nullptr) return 0;
  *out = nullptr;
  SlideGeometry geometry;
  if (!ReadGeometry(source.RegionHeader(), geometry)) return 0;
  RegionPlan plan;
  if (!PlanRegion(source, geometry, scale, x, y, width, height, plan)) return 0;
  TilePlacement& tiles = plan.tiles;
  const bool unscaled =
      tiles.windowWidth == plan.clippedWidth && tiles.windowHeight == plan.clippedHeight;

  std::size_t outputBytes = 0, windowBytes = 0, resizedBytes = 0;
  if (!strata::CheckedPixelBytes(width, height, 3, outputBytes) ||
      !strata::CheckedPixelBytes(tiles.windowWidth, tiles.windowHeight, 3, windowBytes) ||
      !strata::CheckedPixelBytes(plan.clippedWidth, plan.clippedHeight, 3, resizedBytes)) {
    return 0;
  }
  const std::uint64_t workingBytes =
      unscaled ? outputBytes : static_cast<std::uint64_t>(outputBytes) + windowBytes + resizedBytes;
  if (!FitsRegionMemoryBudget(workingBytes)) return 0;

  PixelBuffer output;
  if (unscaled) {
    // The window maps 1:1 onto the output: decode straight into it.
    output.reset(strata::AllocateBuffer(outputBytes));
    if (output == nullptr) return 0;
    tiles.pixels = output.get();
    tiles.pixelsWidth = width;
    tiles.pixelsHeight = height;
    tiles.windowLeft = plan.pasteLeft;
    tiles.windowTop = plan.pasteTop;
    WhitenAroundWindow(tiles);
    FillTiles(source, tiles);
  } else {
    PixelBuffer window(strata::AllocateBuffer(windowBytes));
    if (window == nullptr) return 0;
    tiles.pixels = window.get();
    tiles.pixelsWidth = tiles.windowWidth;
    tiles.pixelsHeight = tiles.windowHeight;
    FillTiles(source, tiles);
    PixelBuffer resized(strata::ResizeBilinear(window.get(), tiles.windowWidth, tiles.windowHeight,
                                               plan.clippedWidth, plan.clippedHeight));
    if (resized == nullptr) return 0;
    window.reset();
    if (plan.clippedWidth == width && plan.clippedHeight == height) {
      output = std::move(resized);
    } else {
      output.reset(strata::AllocateFilledBuffer(outputBytes, 255));
      if (output == nullptr) return 0;
      strata::PastePixels(output.get(), width, height, resized.get(), plan.clippedWidth,
                          plan.clippedHeight, plan.pasteLeft, plan.pasteTop);
    }
  }
  return HandOut(std::move(output), width, height, encode, out, length) ? 1 : 0;
}

int ComposeMosaic(RegionTileSource& source, float scale, int x, int y, int width, int height,
                  unsigned char** out, int& length, bool encode) {
  if (out == nullptr) return 0;
  *out = nullptr;
  length = 0;
  SlideGeometry geometry;
  if (!ReadGeometry(source.RegionHeader(), geometry)) return 0;
  TilePlacement tiles;
  std::uint64_t canvasBytes = 0;
  if (!PlanMosaic(geometry, scale, x, y, width, height, tiles, canvasBytes)) return 0;
  if (!FitsRegionMemoryBudget(canvasBytes)) return 0;
  PixelBuffer canvas(strata::AllocateBuffer(canvasBytes));
  if (canvas == nullptr) return 0;
  tiles.pixels = canvas.get();
  tiles.pixelsWidth = tiles.windowWidth;
  tiles.pixelsHeight = tiles.windowHeight;
  FillTiles(source, tiles);
  return HandOut(std::move(canvas), tiles.windowWidth, tiles.windowHeight, encode, out, length) ? 1
                                                                                                : 0;
}

bool MosaicFits(RegionTileSource& source, float scale, int x, int y, int width, int height) {
  SlideGeometry geometry;
  if (!ReadGeometry(source.RegionHeader(), geometry)) return false;
  TilePlacement tiles;
  std::uint64_t canvasBytes = 0;
  return PlanMosaic(geometry, scale, x, y, width, height, tiles, canvasBytes) &&
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
