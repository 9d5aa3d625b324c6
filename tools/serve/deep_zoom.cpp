#include "tools/serve/deep_zoom.h"

#include <algorithm>

namespace strata::tools::serve {
namespace {

std::int64_t HalvedUp(std::int64_t size, int times) {
  for (int i = 0; i < times; ++i) size = (size + 1) / 2;
  return size;
}

}  // namespace

DeepZoomGeometry::DeepZoomGeometry(std::int64_t width, std::int64_t height, int tileSize)
    : width_(std::max<std::int64_t>(width, 1)),
      height_(std::max<std::int64_t>(height, 1)),
      tileSize_(std::max(tileSize, 1)),
      levelCount_(1) {
  // One level per halving until the larger side is a single pixel.
  for (std::int64_t side = std::max(width_, height_); side > 1; side = (side + 1) / 2) {
    ++levelCount_;
  }
}

std::int64_t DeepZoomGeometry::LevelWidth(int level) const {
  return HalvedUp(width_, Reduction(level));
}

std::int64_t DeepZoomGeometry::LevelHeight(int level) const {
  return HalvedUp(height_, Reduction(level));
}

std::int64_t DeepZoomGeometry::Columns(int level) const {
  return (LevelWidth(level) + tileSize_ - 1) / tileSize_;
}

std::int64_t DeepZoomGeometry::Rows(int level) const {
  return (LevelHeight(level) + tileSize_ - 1) / tileSize_;
}

bool DeepZoomGeometry::TileRect(int level, std::int64_t column, std::int64_t row,
                                PixelRect* rect) const {
  if (level < 0 || level >= levelCount_ || column < 0 || row < 0) return false;
  if (column >= Columns(level) || row >= Rows(level)) return false;
  rect->x = column * tileSize_;
  rect->y = row * tileSize_;
  rect->width = static_cast<int>(std::min<std::int64_t>(tileSize_, LevelWidth(level) - rect->x));
  rect->height = static_cast<int>(std::min<std::int64_t>(tileSize_, LevelHeight(level) - rect->y));
  return true;
}

std::string DeepZoomGeometry::DescriptorXml(const std::string& format) const {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<Image xmlns=\"http://schemas.microsoft.com/deepzoom/2008\" TileSize=\"" +
         std::to_string(tileSize_) + "\" Overlap=\"0\" Format=\"" + format +
         "\">\n  <Size Width=\"" + std::to_string(width_) + "\" Height=\"" +
         std::to_string(height_) + "\"/>\n</Image>\n";
}

}  // namespace strata::tools::serve
