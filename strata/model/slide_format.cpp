#include "strata/model/slide_format.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "strata/model/region_composer.h"
#include "strata/model/region_geometry.h"
#include "strata/model/tile_decoder.h"
#include "strata/model/tile_grid.h"

namespace strata {
namespace {

// The stored levels of a format as the source of regions at any scale.
class FormatLevelsSource : public ScaledRegionSource {
 public:
  explicit FormatLevelsSource(const SlideFormat& format) : format_(format) {
    const double base = format_.BaseScale();
    for (const SlideLevel& level : format_.Description().levels) {
      scales_.push_back(static_cast<float>(base / level.downsample));
    }
  }

  bool Geometry(int& width, int& height, float& scanScale) override {
    const SlideFacts& facts = format_.Description().facts;
    if (facts.width <= 0 || facts.height <= 0 || facts.width > INT_MAX || facts.height > INT_MAX) {
      return false;
    }
    width = static_cast<int>(facts.width);
    height = static_cast<int>(facts.height);
    scanScale = static_cast<float>(format_.BaseScale());
    return true;
  }
  float SourceScale(float scale) override {
    chosen_ = ChooseSourceLevel(scales_, scale);
    return chosen_ < 0 ? 0.0f : scales_[static_cast<std::size_t>(chosen_)];
  }
  bool FillWindow(float, float x, float y, int width, int height,
                  const WindowTarget& target) override {
    if (chosen_ < 0) return false;
    const SlideLevel& level = format_.Description().levels[static_cast<std::size_t>(chosen_)];
    if (level.tileWidth > 0 && level.tileHeight > 0) {
      int left = 0;
      int top = 0;
      if (!TruncateIfFits(x, left) || !TruncateIfFits(y, top)) return false;
      format_.FillFromGrid(chosen_, std::max(left, 0), std::max(top, 0), width, height,
                           TileCacheUse{}, target.pixels, target.stride, 3);
      return true;
    }
    return FillFromLevelRegion(level, x, y, width, height, target);
  }

 private:
  // For levels without a grid: the format's RGBA level region, transparent
  // pixels white.
  bool FillFromLevelRegion(const SlideLevel& level, float x, float y, int width, int height,
                           const WindowTarget& target) {
    Image rgba;
    const auto x0 = static_cast<std::int64_t>(std::llround(x * level.downsample));
    const auto y0 = static_cast<std::int64_t>(std::llround(y * level.downsample));
    if (!AllocateImage(width, height, 4, &rgba) ||
        !format_.ReadRegion(chosen_, x0, y0, width, height, TileCacheUse{}, &rgba).ok()) {
      return false;
    }
    for (int row = 0; row < height; ++row) {
      const unsigned char* from = rgba.pixels.data() + static_cast<std::size_t>(row) * width * 4;
      unsigned char* to = target.pixels + static_cast<std::size_t>(row) * target.stride;
      for (int column = 0; column < width; ++column, from += 4, to += 3) {
        const bool blank = from[3] == 0;
        to[0] = blank ? 255 : from[0];
        to[1] = blank ? 255 : from[1];
        to[2] = blank ? 255 : from[2];
      }
    }
    return true;
  }

  const SlideFormat& format_;
  std::vector<float> scales_;
  int chosen_ = -1;
};

}  // namespace

FormatTileGrid::FormatTileGrid(const SlideFormat& format, int level, const TileCacheUse& cache)
    : format_(format),
      level_(level),
      info_(format.Description().levels[static_cast<std::size_t>(level)]),
      cache_(cache) {}

bool FormatTileGrid::FetchTile(std::int64_t x, std::int64_t y, std::vector<unsigned char>& stream) {
  fetched_.bytes.clear();
  const Status read =
      format_.ReadTile(level_, x / info_.tileWidth, y / info_.tileHeight, &fetched_);
  if (!read.ok()) {
    TileFailed(read);
    return false;
  }
  stream.swap(fetched_.bytes);
  return true;
}

PixelBuffer FormatTileGrid::DecodeTile(const std::vector<unsigned char>& stream, int& width,
                                       int& height) {
  Tile tile;
  tile.encoding = fetched_.encoding;
  tile.width = fetched_.width;
  tile.height = fetched_.height;
  tile.bytes = stream;
  PixelBuffer pixels = format_.DecodeTile(level_, tile, width, height);
  if (pixels == nullptr) {
    TileFailed(Status::Damaged("a tile of level " + std::to_string(level_) + " does not decode"));
  }
  return pixels;
}

void FormatTileGrid::AnnounceTiles(
    const std::vector<std::pair<std::int64_t, std::int64_t>>& origins) {
  format_.PrefetchTiles(level_, origins);
}

std::shared_ptr<const Image> FormatTileGrid::KeptTile(std::int64_t x, std::int64_t y) {
  return cache_.cache->Find(cache_.owner, level_, x / info_.tileWidth, y / info_.tileHeight);
}

void FormatTileGrid::Keep(std::int64_t x, std::int64_t y, const unsigned char* rgb, int width,
                          int height) {
  auto tile = std::make_shared<Image>();
  tile->width = width;
  tile->height = height;
  tile->channels = 3;
  tile->pixels.assign(rgb, rgb + static_cast<std::size_t>(width) * height * 3);
  cache_.cache->Keep(cache_.owner, level_, x / info_.tileWidth, y / info_.tileHeight,
                     std::move(tile));
}

double PositiveNumberProperty(const std::map<std::string, std::string>& properties,
                              const std::string& name) {
  const auto found = properties.find(name);
  if (found == properties.end()) return 0.0;
  char* end = nullptr;
  const double value = std::strtod(found->second.c_str(), &end);
  return end != found->second.c_str() && std::isfinite(value) && value > 0 ? value : 0.0;
}

SlideFormat::~SlideFormat() = default;

double SlideFormat::BaseScale() const {
  const double power = description_.facts.objectivePower;
  return power > 0 && std::isfinite(power) ? power : 1.0;
}

Status SlideFormat::ReadTile(int, std::int64_t, std::int64_t, Tile*) const {
  return Status::Unsupported("this format reads its levels as a whole, not as stored tiles");
}

Status SlideFormat::ReadAssociatedImage(const std::string& name, Image*) const {
  return Status::NotFound("the slide has no associated image \"" + name + "\"");
}

void SlideFormat::PrefetchTiles(int,
                                const std::vector<std::pair<std::int64_t, std::int64_t>>&) const {}

PixelBuffer SlideFormat::DecodeTile(int level, const Tile& tile, int& width, int& height) const {
  width = height = 0;
  const SlideLevel& info = description_.levels[static_cast<std::size_t>(level)];
  if (tile.encoding == TileEncoding::kRgb) {
    std::size_t bytes = 0;
    if (tile.width <= 0 || tile.height <= 0 ||
        !CheckedPixelBytes(tile.width, tile.height, 3, bytes) || bytes != tile.bytes.size()) {
      return nullptr;
    }
    PixelBuffer pixels(AllocateBuffer(bytes));
    if (pixels == nullptr) return nullptr;
    std::memcpy(pixels.get(), tile.bytes.data(), bytes);
    width = tile.width;
    height = tile.height;
    return pixels;
  }
  const TileLimits limits = info.tileWidth > 0 && info.tileHeight > 0
                                ? TileLimits{info.tileWidth, info.tileHeight}
                                : kAnyFrame;
  return DecodeTileStream(tile.bytes.data(), tile.bytes.size(), tile.encoding == TileEncoding::kBmp,
                          limits, width, height);
}

void SlideFormat::FillFromGrid(int level, std::int64_t left, std::int64_t top, int width,
                               int height, const TileCacheUse& cache, unsigned char* pixels,
                               std::size_t stride, int channels) const {
  FormatTileGrid grid(*this, level, cache);
  const WindowTarget target{pixels, stride, channels};
  FillFromTileGrid(grid, left, top, width, height, target, channels == 4 ? 0 : 255);
}

Status SlideFormat::ReadRegion(int level, std::int64_t x, std::int64_t y, int width, int height,
                               const TileCacheUse& cache, Image* rgba) const {
  const SlideLevel& info = description_.levels[static_cast<std::size_t>(level)];
  if (info.tileWidth <= 0 || info.tileHeight <= 0) {
    return Status::Unsupported("this format has no tile grid to read regions from");
  }
  if (!AllocateImage(width, height, 4, rgba)) {
    return Status::TooLarge("a " + std::to_string(width) + " x " + std::to_string(height) +
                            " region is over the memory budget");
  }
  const auto left = static_cast<std::int64_t>(std::floor(static_cast<double>(x) / info.downsample));
  const auto top = static_cast<std::int64_t>(std::floor(static_cast<double>(y) / info.downsample));
  // The part of the window inside the level; the rest is transparent.
  const std::int64_t x0 = std::max<std::int64_t>(left, 0);
  const std::int64_t y0 = std::max<std::int64_t>(top, 0);
  const std::int64_t x1 = std::min<std::int64_t>(left + width, info.width);
  const std::int64_t y1 = std::min<std::int64_t>(top + height, info.height);
  const std::size_t stride = static_cast<std::size_t>(width) * 4;
  if (x0 >= x1 || y0 >= y1) {
    std::fill(rgba->pixels.begin(), rgba->pixels.end(), 0);
    return Status::Ok();
  }
  for (int row = 0; row < height; ++row) {
    unsigned char* line = rgba->pixels.data() + static_cast<std::size_t>(row) * stride;
    const std::int64_t levelY = top + row;
    if (levelY < y0 || levelY >= y1) {
      std::memset(line, 0, stride);
      continue;
    }
    std::memset(line, 0, static_cast<std::size_t>(x0 - left) * 4);
    std::memset(line + static_cast<std::size_t>(x1 - left) * 4, 0,
                static_cast<std::size_t>(left + width - x1) * 4);
  }
  unsigned char* inside = rgba->pixels.data() + static_cast<std::size_t>(y0 - top) * stride +
                          static_cast<std::size_t>(x0 - left) * 4;
  FillFromGrid(level, x0, y0, static_cast<int>(x1 - x0), static_cast<int>(y1 - y0), cache, inside,
               stride, 4);
  return Status::Ok();
}

Status SlideFormat::ReadScaled(double scale, std::int64_t x, std::int64_t y, int width, int height,
                               Image* rgb) const {
  FormatLevelsSource source(*this);
  return ComposeInto(source, scale, x, y, width, height, rgb);
}

Status ComposeInto(ScaledRegionSource& source, double scale, std::int64_t x, std::int64_t y,
                   int width, int height, Image* rgb) {
  if (x < INT_MIN || x > INT_MAX || y < INT_MIN || y > INT_MAX) {
    return Status::InvalidArgument("the region's position does not fit 32 bits");
  }
  if (!AllocateImage(width, height, 3, rgb)) {
    return Status::TooLarge("a " + std::to_string(width) + " x " + std::to_string(height) +
                            " region is over the memory budget");
  }
  switch (ComposeScaledRegionInto(source, static_cast<float>(scale), static_cast<int>(x),
                                  static_cast<int>(y), width, height, rgb->pixels.data())) {
    case Composed::kRegion: return Status::Ok();
    case Composed::kOutside:
      std::fill(rgb->pixels.begin(), rgb->pixels.end(), 255);
      return Status::Ok();
    case Composed::kFailed: break;
  }
  return Status::IoError("the region at (" + std::to_string(x) + ", " + std::to_string(y) +
                         ") could not be read");
}

bool AllocateImage(int width, int height, int channels, Image* image) {
  std::size_t bytes = 0;
  if (width < 0 || height < 0 || !CheckedPixelBytes(width, height, channels, bytes) ||
      !FitsRegionMemoryBudget(bytes)) {
    return false;
  }
  image->width = width;
  image->height = height;
  image->channels = channels;
  image->pixels.resize(bytes);
  return true;
}

}  // namespace strata
