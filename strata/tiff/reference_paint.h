// Level regions placed exactly as the field's reference reader places them
// (OpenSlide 3.4 painting tiles with cairo and pixman), so that every pixel
// of a read equals the reference's:
//
// - A read is painted in parts of at most kPartSide pixels a side, each
//   from its own level-0 origin (truncated), as the reference does.
// - A part at negative level-0 coordinates starts its level read at 0 and
//   is shifted right (down) by the whole level pixels it lost.
// - Level coordinates are level-0 coordinates divided by the downsample.
//   Where tiles land on whole pixels (to cairo's 1/256 pixel) they are
//   copied; otherwise every tile is sampled bilinearly in single precision
//   and the tiles are combined with the SATURATE operator, last tile first,
//   through 8-bit premultiplied ARGB, exactly as pixman computes them.
// - Pixels outside the level are transparent.
#ifndef STRATA_TIFF_REFERENCE_PAINT_H_
#define STRATA_TIFF_REFERENCE_PAINT_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "strata/slide_types.h"

namespace strata::tiff {

constexpr int kPartSide = 4096;

struct PaintGeometry {
  std::int64_t width = 0;  // the level's size in pixels
  std::int64_t height = 0;
  int tileWidth = 0;
  int tileHeight = 0;
  double downsample = 1.0;
};

// Decoded tiles of the level being painted.
class PaintTiles {
 public:
  virtual ~PaintTiles() = default;
  // RGB pixels of the tile at (column, row): rows width * 3 bytes apart,
  // starting at the tile's top-left; null when it cannot be read.
  virtual std::shared_ptr<const Image> Tile(std::int64_t column, std::int64_t row) = 0;
};

// A part of a read: its level-0 origin and its place and size in the read.
struct PaintPart {
  std::int64_t x = 0;
  std::int64_t y = 0;
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
};

std::vector<PaintPart> PaintParts(std::int64_t x, std::int64_t y, int width, int height,
                                  double downsample);

// When every tile of the part lands on whole pixels: true, with the level
// pixel that lands on the part's top-left (negative when the part starts
// before the level).
bool WholePixelOrigin(const PaintGeometry& level, const PaintPart& part, std::int64_t* left,
                      std::int64_t* top);

// Paints the part as premultiplied ARGB words (0xAARRGGBB), rows `stride`
// words apart, over transparent. False when a tile cannot be read.
bool PaintPartArgb(const PaintGeometry& level, PaintTiles& tiles, const PaintPart& part,
                   std::uint32_t* argb, std::size_t stride);

}  // namespace strata::tiff

#endif  // STRATA_TIFF_REFERENCE_PAINT_H_
