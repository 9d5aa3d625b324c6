// The Deep Zoom pyramid over a slide: level L is the slide halved
// (rounding up) LevelCount() - 1 - L times, cut into square tiles from the
// top-left corner without overlap; the last row and column are cut short.
#ifndef STRATA_TOOLS_SERVE_DEEP_ZOOM_H_
#define STRATA_TOOLS_SERVE_DEEP_ZOOM_H_

#include <cstdint>
#include <string>

namespace strata::tools::serve {

struct PixelRect {
  std::int64_t x = 0;
  std::int64_t y = 0;
  int width = 0;
  int height = 0;
};

class DeepZoomGeometry {
 public:
  DeepZoomGeometry(std::int64_t width, std::int64_t height, int tileSize);

  int LevelCount() const { return levelCount_; }
  int tileSize() const { return tileSize_; }
  // How many times level `level` is halved from the full size.
  int Reduction(int level) const { return levelCount_ - 1 - level; }
  std::int64_t LevelWidth(int level) const;
  std::int64_t LevelHeight(int level) const;
  std::int64_t Columns(int level) const;
  std::int64_t Rows(int level) const;
  // The tile's pixels in its level's grid; false when the level or tile lies
  // outside the pyramid.
  bool TileRect(int level, std::int64_t column, std::int64_t row, PixelRect* rect) const;

  // The .dzi descriptor.
  std::string DescriptorXml(const std::string& format) const;

 private:
  std::int64_t width_;
  std::int64_t height_;
  int tileSize_;
  int levelCount_;
};

}  // namespace strata::tools::serve

#endif  // STRATA_TOOLS_SERVE_DEEP_ZOOM_H_
