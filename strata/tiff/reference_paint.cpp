// Single-precision arithmetic here must round as pixman's does: this file
// is compiled without contracting multiplies and adds (-ffp-contract=off).
#include "strata/tiff/reference_paint.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace strata::tiff {
namespace {

constexpr float kOne = 1.0f;
const float kUnit = 1.0f / 255.0f;  // one step of an 8-bit channel

// cairo's conversions of a double to fixed point, rounding to nearest.
std::int32_t FixedFromDouble(double value, double magic) {
  const double shifted = value + magic;
  std::uint64_t bits = 0;
  std::memcpy(&bits, &shifted, sizeof bits);
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(bits));
}
std::int32_t Fixed24Dot8(double value) { return FixedFromDouble(value, 26388279066624.0); }
std::int32_t Fixed16Dot16(double value) { return FixedFromDouble(value, 103079215104.0); }

// A float channel as 8 bits, as pixman contracts it.
std::uint32_t ToUnorm8(float value) {
  if (value > kOne) value = kOne;
  if (value < 0.0f) value = 0.0f;
  auto u = static_cast<std::uint32_t>(value * 256.0f);
  return u - (u >> 8);
}

// Where the part's tiles come from, after the reference's handling of
// negative coordinates.
struct PartLayout {
  std::int64_t shiftX = 0;  // whole pixels the part is moved right
  std::int64_t shiftY = 0;
  std::int64_t width = 0;  // what is left to paint
  std::int64_t height = 0;
  double offsetX = 0;  // the level position within the first tile
  double offsetY = 0;
  std::int64_t firstColumn = 0, firstRow = 0, endColumn = 0, endRow = 0;
  bool Empty() const { return width <= 0 || height <= 0 || firstColumn >= endColumn || firstRow >= endRow; }
};

void LayOutAxis(std::int64_t origin, std::int64_t size, double downsample, int tile,
                std::int64_t tilesAcross, std::int64_t& shift, std::int64_t& remaining,
                double& offset, std::int64_t& first, std::int64_t& end) {
  shift = 0;
  remaining = size;
  if (origin < 0) {
    shift = static_cast<std::int64_t>(static_cast<double>(-origin) / downsample);
    origin = 0;
    remaining -= shift;
  }
  const double levelPosition = static_cast<double>(origin) / downsample;
  first = static_cast<std::int64_t>(levelPosition / tile);
  offset = levelPosition - static_cast<double>(first * tile);
  end = std::min<std::int64_t>(
      static_cast<std::int64_t>((levelPosition + static_cast<double>(remaining)) / tile) + 1,
      tilesAcross);
}

PartLayout LayOut(const PaintGeometry& level, const PaintPart& part) {
  PartLayout layout;
  LayOutAxis(part.x, part.width, level.downsample, level.tileWidth,
             (level.width + level.tileWidth - 1) / level.tileWidth, layout.shiftX, layout.width,
             layout.offsetX, layout.firstColumn, layout.endColumn);
  LayOutAxis(part.y, part.height, level.downsample, level.tileHeight,
             (level.height + level.tileHeight - 1) / level.tileHeight, layout.shiftY,
             layout.height, layout.offsetY, layout.firstRow, layout.endRow);
  return layout;
}

// How far a tile's source lies from the part: source = part pixel + t.
double Translation(std::int64_t index, std::int64_t first, int tile, double offset,
                   std::int64_t shift) {
  const double placed =
      static_cast<double>((index - first) * tile) + (-offset + static_cast<double>(shift));
  return -placed;
}

bool LandsOnWholePixels(double translation) { return (Fixed24Dot8(translation) & 0xFF) == 0; }

// The whole-pixel shift cairo uses for such a tile.
std::int64_t WholeShift(double translation) {
  return static_cast<std::int64_t>(std::ceil(translation - 0.5));
}

// One tile as premultiplied float ARGB, with a transparent border of one
// pixel, so that samples reaching past its edge read transparency.
class FloatTile {
 public:
  FloatTile(const PaintGeometry& level, const Image& rgb, std::int64_t column, std::int64_t row)
      : width_(level.tileWidth + 2), height_(level.tileHeight + 2),
        values_(static_cast<std::size_t>(width_) * height_ * 4, 0.0f) {
    const std::int64_t insideWidth =
        std::min<std::int64_t>({level.tileWidth, level.width - column * level.tileWidth, rgb.width});
    const std::int64_t insideHeight = std::min<std::int64_t>(
        {level.tileHeight, level.height - row * level.tileHeight, rgb.height});
    for (std::int64_t y = 0; y < insideHeight; ++y) {
      const unsigned char* from = rgb.pixels.data() + static_cast<std::size_t>(y) * rgb.width * 3;
      float* to = At(0, y);
      for (std::int64_t x = 0; x < insideWidth; ++x, from += 3, to += 4) {
        to[0] = kOne;
        to[1] = static_cast<float>(from[0]) * kUnit;
        to[2] = static_cast<float>(from[1]) * kUnit;
        to[3] = static_cast<float>(from[2]) * kUnit;
      }
    }
  }
  // The four floats of tile pixel (x, y); -1 reaches the border.
  const float* At(std::int64_t x, std::int64_t y) const {
    return values_.data() + (static_cast<std::size_t>(y + 1) * width_ + (x + 1)) * 4;
  }
  float* At(std::int64_t x, std::int64_t y) {
    return values_.data() + (static_cast<std::size_t>(y + 1) * width_ + (x + 1)) * 4;
  }

 private:
  int width_;
  int height_;
  std::vector<float> values_;
};

// SATURATE of a float source pixel over an 8-bit premultiplied pixel.
std::uint32_t Saturate(const float source[4], std::uint32_t destination) {
  const float d[4] = {static_cast<float>(destination >> 24) * kUnit,
                      static_cast<float>((destination >> 16) & 0xFF) * kUnit,
                      static_cast<float>((destination >> 8) & 0xFF) * kUnit,
                      static_cast<float>(destination & 0xFF) * kUnit};
  float factor = kOne;
  const float sa = source[0];
  if (sa != 0.0f) {
    factor = (kOne - d[0]) / sa;
    factor = std::min(std::max(factor, 0.0f), kOne);
  }
  std::uint32_t result = 0;
  for (int c = 0; c < 4; ++c) {
    const float product = source[c] * factor;
    const float sum = product + d[c];
    result = result << 8 | ToUnorm8(std::min(kOne, sum));
  }
  return result;
}

// The rows or columns of the part a tile can reach, given its translation
// in 16.16 fixed point.
void Reach(std::int32_t fixedTranslation, int tile, std::int64_t size, std::int64_t& from,
           std::int64_t& to) {
  const std::int64_t start = -(static_cast<std::int64_t>(fixedTranslation) >> 16) - 2;
  from = std::max<std::int64_t>(0, start);
  to = std::min<std::int64_t>(size, start + tile + 4);
}

void PaintSampled(const FloatTile& tile, const PaintGeometry& level, double tx, double ty,
                  std::int64_t width, std::int64_t height, std::uint32_t* argb,
                  std::size_t stride) {
  const std::int32_t fixedX = Fixed16Dot16(tx);
  const std::int32_t fixedY = Fixed16Dot16(ty);
  std::int64_t x0, x1, y0, y1;
  Reach(fixedX, level.tileWidth, width, x0, x1);
  Reach(fixedY, level.tileHeight, height, y0, y1);
  for (std::int64_t y = y0; y < y1; ++y) {
    const std::int64_t sy = (y << 16) + fixedY;
    const std::int64_t top = sy >> 16;
    if (top < -1 || top >= level.tileHeight) continue;
    const float dy = static_cast<float>(sy & 0xFFFF) / 65536.0f;
    std::uint32_t* row = argb + static_cast<std::size_t>(y) * stride;
    for (std::int64_t x = x0; x < x1; ++x) {
      const std::int64_t sx = (x << 16) + fixedX;
      const std::int64_t left = sx >> 16;
      if (left < -1 || left >= level.tileWidth) continue;
      const float dx = static_cast<float>(sx & 0xFFFF) / 65536.0f;
      const float wxy = dx * dy;
      const float wxiy = dx * (kOne - dy);
      const float wixy = (kOne - dx) * dy;
      const float wixiy = (kOne - dx) * (kOne - dy);
      const float* tl = tile.At(left, top);
      const float* tr = tile.At(left + 1, top);
      const float* bl = tile.At(left, top + 1);
      const float* br = tile.At(left + 1, top + 1);
      float sample[4];
      for (int c = 0; c < 4; ++c) {
        float value = tl[c] * wixiy;
        value = value + tr[c] * wxiy;
        value = value + bl[c] * wixy;
        value = value + br[c] * wxy;
        sample[c] = value;
      }
      row[x] = Saturate(sample, row[x]);
    }
  }
}

void PaintWhole(const FloatTile& tile, const PaintGeometry& level, double tx, double ty,
                std::int64_t width, std::int64_t height, std::uint32_t* argb, std::size_t stride) {
  const std::int64_t shiftX = WholeShift(tx);
  const std::int64_t shiftY = WholeShift(ty);
  const std::int64_t x0 = std::max<std::int64_t>(0, -shiftX);
  const std::int64_t x1 = std::min<std::int64_t>(width, level.tileWidth - shiftX);
  const std::int64_t y0 = std::max<std::int64_t>(0, -shiftY);
  const std::int64_t y1 = std::min<std::int64_t>(height, level.tileHeight - shiftY);
  for (std::int64_t y = y0; y < y1; ++y) {
    std::uint32_t* row = argb + static_cast<std::size_t>(y) * stride;
    for (std::int64_t x = x0; x < x1; ++x) row[x] = Saturate(tile.At(x + shiftX, y + shiftY), row[x]);
  }
}

}  // namespace

std::vector<PaintPart> PaintParts(std::int64_t x, std::int64_t y, int width, int height,
                                  double downsample) {
  std::vector<PaintPart> parts;
  const std::int64_t side = kPartSide;
  for (std::int64_t row = 0; row < (height + side - 1) / side; ++row) {
    for (std::int64_t column = 0; column < (width + side - 1) / side; ++column) {
      PaintPart part;
      part.x = static_cast<std::int64_t>(static_cast<double>(x) +
                                         static_cast<double>(column * side) * downsample);
      part.y = static_cast<std::int64_t>(static_cast<double>(y) +
                                         static_cast<double>(row * side) * downsample);
      part.left = static_cast<int>(column * side);
      part.top = static_cast<int>(row * side);
      part.width = static_cast<int>(std::min<std::int64_t>(width - column * side, side));
      part.height = static_cast<int>(std::min<std::int64_t>(height - row * side, side));
      parts.push_back(part);
    }
  }
  return parts;
}

bool WholePixelOrigin(const PaintGeometry& level, const PaintPart& part, std::int64_t* left,
                      std::int64_t* top) {
  const PartLayout layout = LayOut(level, part);
  if (layout.Empty()) {
    // Nothing lands in the part: any origin that misses the level will do.
    *left = -static_cast<std::int64_t>(part.width) - 1;
    *top = 0;
    return true;
  }
  // Every tile must land on whole pixels, all agreeing on the origin.
  bool first = true;
  for (std::int64_t column = layout.firstColumn; column < layout.endColumn; ++column) {
    const double t = Translation(column, layout.firstColumn, level.tileWidth, layout.offsetX,
                                 layout.shiftX);
    if (!LandsOnWholePixels(t)) return false;
    const std::int64_t origin = column * level.tileWidth + WholeShift(t);
    if (!first && origin != *left) return false;
    *left = origin;
    first = false;
  }
  first = true;
  for (std::int64_t row = layout.firstRow; row < layout.endRow; ++row) {
    const double t =
        Translation(row, layout.firstRow, level.tileHeight, layout.offsetY, layout.shiftY);
    if (!LandsOnWholePixels(t)) return false;
    const std::int64_t origin = row * level.tileHeight + WholeShift(t);
    if (!first && origin != *top) return false;
    *top = origin;
    first = false;
  }
  return true;
}

bool PaintPartArgb(const PaintGeometry& level, PaintTiles& tiles, const PaintPart& part,
                   std::uint32_t* argb, std::size_t stride) {
  for (int y = 0; y < part.height; ++y) {
    std::fill_n(argb + static_cast<std::size_t>(y) * stride, part.width, 0u);
  }
  const PartLayout layout = LayOut(level, part);
  if (layout.Empty()) return true;
  // The reference paints the last tile first.
  for (std::int64_t row = layout.endRow - 1; row >= layout.firstRow; --row) {
    const double ty =
        Translation(row, layout.firstRow, level.tileHeight, layout.offsetY, layout.shiftY);
    for (std::int64_t column = layout.endColumn - 1; column >= layout.firstColumn; --column) {
      const double tx = Translation(column, layout.firstColumn, level.tileWidth, layout.offsetX,
                                    layout.shiftX);
      const std::shared_ptr<const Image> rgb = tiles.Tile(column, row);
      if (rgb == nullptr) return false;
      const FloatTile tile(level, *rgb, column, row);
      if (LandsOnWholePixels(tx) && LandsOnWholePixels(ty)) {
        PaintWhole(tile, level, tx, ty, part.width, part.height, argb, stride);
      } else {
        PaintSampled(tile, level, tx, ty, part.width, part.height, argb, stride);
      }
    }
  }
  return true;
}

}  // namespace strata::tiff
