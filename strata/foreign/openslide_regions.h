// Reading OpenSlide's levels: a window of a level as RGB rows (ARGB words
// turned into pixels with the slide's background colour), and the levels as
// the source of regions at any scale. Shared by the class-tree adapters and
// the façade's OpenSlide format.
#ifndef STRATA_FOREIGN_OPENSLIDE_REGIONS_H_
#define STRATA_FOREIGN_OPENSLIDE_REGIONS_H_

#include <cstdint>
#include <functional>
#include <vector>

#include "strata/foreign/openslide_library.h"
#include "strata/foreign/openslide_pixels.h"
#include "strata/model/region_composer.h"
#include "strata/model/tile_grid.h"

namespace strata::foreign {

// Reads w x h ARGB words of `level` at level-0 position (x, y); false when
// the read fails, leaves the slide in an error state, or is too large.
bool ReadLevelArgb(const OpenSlideLibrary& library, OpenSlideHandle slide, int level,
                   std::int64_t x, std::int64_t y, int w, int h, std::vector<std::uint32_t>& argb);

// As ReadLevelArgb, then the pixels as RGB rows of `target` (3 channels):
// composited over `background` when it is present, else as ConvertArgbToRgb
// says.
bool ReadLevelRgbInto(const OpenSlideLibrary& library, OpenSlideHandle slide, int level,
                      std::int64_t x, std::int64_t y, int w, int h,
                      const BackgroundColour& background, const WindowTarget& target);

// Level-0 position of level pixel `position` at `downsample`.
std::int64_t ToLevel0(double position, double downsample);

// The levels of a slide as a source of regions at any scale: the level the
// shared rule chooses, read through `read`.
class LevelWindowSource : public ScaledRegionSource {
 public:
  // (level, level-0 x, level-0 y, w, h, target) -> success.
  using ReadInto = std::function<bool(int, std::int64_t, std::int64_t, int, int,
                                      const WindowTarget&)>;
  // `downsamples` finest first; `scanScale` is the scale of level 0.
  LevelWindowSource(std::int64_t width, std::int64_t height, double scanScale,
                    std::vector<double> downsamples, ReadInto read);

  bool Geometry(int& width, int& height, float& scanScale) override;
  float SourceScale(float scale) override;
  bool FillWindow(float sourceScale, float x, float y, int width, int height,
                  const WindowTarget& target) override;
  // OpenSlide fills ARGB words before they become the window's RGB.
  int ScratchBytesPerPixel() const override { return 4; }

 private:
  std::int64_t width_;
  std::int64_t height_;
  double scanScale_;
  std::vector<double> downsamples_;
  ReadInto read_;
  std::vector<float> scales_;
  int chosen_ = -1;
};

}  // namespace strata::foreign

#endif  // STRATA_FOREIGN_OPENSLIDE_REGIONS_H_
