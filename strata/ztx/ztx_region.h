// Region composition from encoded tiles: the ZTX slide composes its regions
// this way, and so does any adapter whose slide serves square tiles on
// levels that follow the ZTX level rule.
#ifndef STRATA_ZTX_ZTX_REGION_H_
#define STRATA_ZTX_ZTX_REGION_H_

#include <utility>
#include <vector>

#include "strata/model/region_composer.h"
#include "strata/ztx/ztx_tile_pixels.h"

class CDataHeader;

namespace strata::ztx {

// The stored level from which a region at `scale` is composed on a slide
// scanned at `scanScale` whose levels follow `levelMode` (header item 33:
// 0 halving, 1 and 2 skipping levels near the scan scale). A scale above the
// scan scale reads the scan level; 0 when `scale` is not a positive number.
float SelectSourceScale(float scanScale, int levelMode, float scale);

// A ZTX-style pyramid: geometry and block size from a slide header, levels
// addressed by scale, tiles by their pixel position at that scale.
class RegionTileSource : public strata::TiledPyramidSource {
 public:
  // Width, height, scan scale and block size of the slide; null when unknown.
  virtual CDataHeader* RegionHeader() = 0;
  bool Geometry(int& width, int& height, float& scanScale) override;
  int BlockSize() override;
};

// A width x height region at (x, y) in the pixels of `scale`: tiles of the
// source level cropped, resized bilinearly, white outside the slide and where
// tiles are missing; handed out as pixels or (encode) a JPEG stream in a new
// library buffer at *out. 1 on success; 0, with *out null, on failure.
int ComposeRegion(RegionTileSource& source, float scale, int x, int y, int width, int height,
                  unsigned char** out, int& length, bool encode);

// The scan-scale tile mosaic under a rectangle, and whether it fits the
// memory budget.
int ComposeMosaic(RegionTileSource& source, float scale, int x, int y, int width, int height,
                  unsigned char** out, int& length, bool encode);
bool MosaicFits(RegionTileSource& source, float scale, int x, int y, int width, int height);

}  // namespace strata::ztx

#endif  // STRATA_ZTX_ZTX_REGION_H_
