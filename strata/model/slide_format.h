// The operations table of one open slide, as every format fills it for the
// slide façade (strata/slide.h): the slide's description, filled once when
// the format opens it, then tiles, level regions, regions at any scale and
// associated images. A format overrides what it reads its own way; the
// base composes the rest from the format's tile grid.
//
// Arguments reach these operations already checked by the façade: levels
// exist, sizes are positive and within the memory budget. Reads are const
// and may run on several threads at once; a format whose library cannot
// allow that serialises them itself.
#ifndef STRATA_MODEL_SLIDE_FORMAT_H_
#define STRATA_MODEL_SLIDE_FORMAT_H_

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "strata/model/image_buffer.h"
#include "strata/model/tile_grid.h"
#include "strata/slide_types.h"
#include "strata/status.h"
#include "strata/tile_cache.h"

namespace strata {

// Everything a slide says about itself, fixed once it is open.
struct SlideDescription {
  SlideFacts facts;
  std::vector<SlideLevel> levels;  // finest first, never empty
  std::map<std::string, std::string> properties;
  std::vector<std::string> associatedImages;  // names, in the format's order
  std::string iccProfile;                     // empty when the slide has none
};

// The decoded-tile cache a read may use: none when `cache` is null.
struct TileCacheUse {
  TileCache* cache = nullptr;
  std::uint64_t owner = 0;
};

class SlideFormat {
 public:
  SlideFormat() = default;
  virtual ~SlideFormat();
  SlideFormat(const SlideFormat&) = delete;
  SlideFormat& operator=(const SlideFormat&) = delete;

  const SlideDescription& Description() const { return description_; }

  // The stored tile at (column, row) of the level's grid, as the slide
  // stores it. NotFound when the grid has no tile there; Unsupported when
  // the level has no grid (the base).
  virtual Status ReadTile(int level, std::int64_t column, std::int64_t row, Tile* tile) const;

  // RGBA pixels of `level` in the width x height window whose top-left is
  // level-0 position (x, y); transparent where the slide has no pixels. The
  // base fills it from the level's tile grid, the window starting at level
  // pixel floor(x / downsample).
  virtual Status ReadRegion(int level, std::int64_t x, std::int64_t y, int width, int height,
                            const TileCacheUse& cache, Image* rgba) const;

  // RGB pixels of the width x height region at (x, y) in the pixel grid of
  // magnification `scale` (level 0 has the objective power, or 1 when the
  // slide records none); white outside the slide. The base composes it from
  // the stored levels with the shared composer.
  virtual Status ReadScaled(double scale, std::int64_t x, std::int64_t y, int width, int height,
                            Image* rgb) const;

  // An associated image by one of the names the description lists.
  virtual Status ReadAssociatedImage(const std::string& name, Image* rgb) const;

  // Tiles of `level` (top-left corners in level pixels) about to be read,
  // so that their bytes can be fetched ahead together. Only advice.
  virtual void PrefetchTiles(
      int level, const std::vector<std::pair<std::int64_t, std::int64_t>>& origins) const;

  // Decodes a tile of `level` to RGB, bounded by the level's tile size; null
  // when it does not decode.
  PixelBuffer DecodeTile(int level, const Tile& tile, int& width, int& height) const;

  // Magnification of level 0 for ReadScaled: the objective power, or 1.
  double BaseScale() const;

  // Fills a window of the level's tile grid at whole level pixels: RGB with
  // white, or RGBA with transparency, where tiles are missing.
  void FillFromGrid(int level, std::int64_t left, std::int64_t top, int width, int height,
                    const TileCacheUse& cache, unsigned char* pixels, std::size_t stride,
                    int channels) const;

 protected:
  SlideDescription description_;
};

// One level of a format as a tile grid: tiles read and decoded through the
// format, decoded tiles kept in the read's cache when it has one.
class FormatTileGrid : public TileGridReader {
 public:
  FormatTileGrid(const SlideFormat& format, int level, const TileCacheUse& cache);

  int CellWidth() const override { return info_.tileWidth; }
  int CellHeight() const override { return info_.tileHeight; }
  bool FetchTile(std::int64_t x, std::int64_t y, std::vector<unsigned char>& stream) override;
  PixelBuffer DecodeTile(const std::vector<unsigned char>& stream, int& width,
                         int& height) override;
  bool TilesAreColourJpeg() override { return true; }
  void AnnounceTiles(const std::vector<std::pair<std::int64_t, std::int64_t>>& origins) override;
  bool KeepsTiles() const override { return cache_.cache != nullptr; }
  std::shared_ptr<const Image> KeptTile(std::int64_t x, std::int64_t y) override;
  void Keep(std::int64_t x, std::int64_t y, const unsigned char* rgb, int width,
            int height) override;

 protected:
  // Told why a tile could not be read or decoded; the cell stays missing.
  virtual void TileFailed(const Status& failure) { (void)failure; }

 private:
  const SlideFormat& format_;
  int level_;
  const SlideLevel& info_;
  TileCacheUse cache_;
  // The encoding of the tile last fetched: the grid hands streams around as
  // plain bytes.
  Tile fetched_;
};

// A property's value as a positive finite number; 0 when it is absent or
// anything else.
double PositiveNumberProperty(const std::map<std::string, std::string>& properties,
                              const std::string& name);

class ScaledRegionSource;

// Composes a region at any scale from `source` into a new RGB image; a
// region wholly outside the slide is white.
Status ComposeInto(ScaledRegionSource& source, double scale, std::int64_t x, std::int64_t y,
                   int width, int height, Image* rgb);

// An Image of width x height pixels of `channels` bytes, contents unwritten;
// false when it exceeds the budget of one request.
bool AllocateImage(int width, int height, int channels, Image* image);

}  // namespace strata

#endif  // STRATA_MODEL_SLIDE_FORMAT_H_
