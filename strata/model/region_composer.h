// Regions at any scale, composed from a slide's stored levels: the request
// is clipped to the slide as seen at that scale, a window of the chosen
// level is filled (from its tile grid or by the format reading the window),
// resized bilinearly and placed on white. Every format and every consumer
// composes regions here, under one memory budget.
//
// Composition only reads its source, so regions may run on several threads
// at once as far as the source allows.
#ifndef STRATA_MODEL_REGION_COMPOSER_H_
#define STRATA_MODEL_REGION_COMPOSER_H_

#include <cstdint>
#include <utility>
#include <vector>

#include "strata/model/image_buffer.h"
#include "strata/model/tile_grid.h"

namespace strata {

// Where a composed region's pixels come from.
class ScaledRegionSource {
 public:
  virtual ~ScaledRegionSource() = default;
  // Full-resolution width and height and the scale of level 0; false when
  // they are not usable.
  virtual bool Geometry(int& width, int& height, float& scanScale) = 0;
  // The scale of the stored level a region at `scale` is composed from; 0
  // when there is none.
  virtual float SourceScale(float scale) = 0;
  // Fills a width x height RGB window of the level stored at `sourceScale`
  // whose top-left is the fractional level position (x, y); white where the
  // level has no pixels. False when the level cannot be read.
  virtual bool FillWindow(float sourceScale, float x, float y, int width, int height,
                          const WindowTarget& target) = 0;
  // Memory a fill needs per window pixel besides its target, for the budget.
  virtual int ScratchBytesPerPixel() const { return 0; }
};

// A source whose levels are grids of square tiles addressed by the level's
// scale and the tile's pixel position (ZTX, DMETRIX).
class TiledPyramidSource : public ScaledRegionSource {
 public:
  // Edge of every tile; the geometry is unusable without one.
  virtual int BlockSize() = 0;
  // The encoded tile whose top-left is (x, y) in the pixels of level
  // `scale`; false when there is none.
  virtual bool FetchTile(float scale, int x, int y, std::vector<unsigned char>& stream) = 0;
  // RGB pixels of the tile last fetched; null when it does not decode.
  virtual PixelBuffer DecodeTile(const std::vector<unsigned char>& stream, int& width,
                                 int& height) = 0;
  virtual bool TilesAreColourJpeg() = 0;
  // The tiles (top-left corners at `scale`) about to be fetched. Advice.
  virtual void AnnounceTiles(float scale, const std::vector<std::pair<int, int>>& origins) {
    (void)scale;
    (void)origins;
  }

  // Fills from the tile grid of the level, the window's origin truncated to
  // whole pixels.
  bool FillWindow(float sourceScale, float x, float y, int width, int height,
                  const WindowTarget& target) override;
  // As FillWindow at whole pixels, with `missing` where tiles are absent.
  void FillGrid(float scale, std::int64_t left, std::int64_t top, int width, int height,
                const WindowTarget& target, unsigned char missing);
};

enum class Composed {
  kRegion,   // the region was composed
  kOutside,  // it lies wholly outside the slide: nothing was written
  kFailed,   // an unusable request or geometry, over the budget, or the source failed
};

// Composes the width x height RGB region at (x, y) in the pixels of `scale`
// into `out` (width * height * 3 bytes, rows without padding): white outside
// the slide and where the level has nothing.
Composed ComposeScaledRegionInto(ScaledRegionSource& source, float scale, int x, int y, int width,
                                 int height, unsigned char* out);

// As ComposeScaledRegionInto, into a new library buffer; null unless composed.
PixelBuffer ComposeScaledRegion(ScaledRegionSource& source, float scale, int x, int y, int width,
                                int height);

}  // namespace strata

#endif  // STRATA_MODEL_REGION_COMPOSER_H_
