// Filling a window of one stored level from its grid of encoded tiles: the
// one place where tiles are fetched, decoded and placed, for regions at any
// scale (RGB, white where tiles are missing) and for level regions (RGBA,
// transparent where they are missing).
//
// Tiles are placed by their grid position, so a missing tile leaves its own
// cell and shifts nothing; a decoded tile larger than its cell is clipped to
// it, a smaller one leaves the rest of the cell as a missing tile would.
#ifndef STRATA_MODEL_TILE_GRID_H_
#define STRATA_MODEL_TILE_GRID_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "strata/model/image_buffer.h"
#include "strata/slide_types.h"

namespace strata {

// The tiles of one stored level: cells of CellWidth() x CellHeight() pixels
// whose top-left corners are multiples of them.
class TileGridReader {
 public:
  virtual ~TileGridReader() = default;
  virtual int CellWidth() const = 0;
  virtual int CellHeight() const { return CellWidth(); }
  // The encoded tile whose top-left is level pixel (x, y); false when the
  // grid has none there or it cannot be read.
  virtual bool FetchTile(std::int64_t x, std::int64_t y, std::vector<unsigned char>& stream) = 0;
  // RGB pixels of a fetched tile; null when it does not decode.
  virtual PixelBuffer DecodeTile(const std::vector<unsigned char>& stream, int& width,
                                 int& height) = 0;
  // True when fetched tiles are colour JPEG streams of the cell size, which
  // may then be decoded straight into their place.
  virtual bool TilesAreColourJpeg() = 0;
  // Told every tile origin a fill is about to fetch, so that their bytes
  // can be fetched ahead together. Only advice.
  virtual void AnnounceTiles(const std::vector<std::pair<std::int64_t, std::int64_t>>& origins) {
    (void)origins;
  }
  // A grid that keeps decoded tiles (a tile cache) answers the tiles it
  // kept here, and is offered every tile decoded afterwards. Such grids are
  // never decoded straight into the target, since that leaves nothing to keep.
  virtual bool KeepsTiles() const { return false; }
  virtual std::shared_ptr<const Image> KeptTile(std::int64_t x, std::int64_t y) {
    (void)x;
    (void)y;
    return nullptr;
  }
  virtual void Keep(std::int64_t x, std::int64_t y, const unsigned char* rgb, int width,
                    int height) {
    (void)x;
    (void)y;
    (void)rgb;
    (void)width;
    (void)height;
  }
};

// Where a window lands: `channels` (3: RGB, 4: RGBA) bytes a pixel, rows
// `stride` bytes apart, the window's top-left at `pixels`.
struct WindowTarget {
  unsigned char* pixels = nullptr;
  std::size_t stride = 0;
  int channels = 3;
};

// Fills the width x height window whose top-left is level pixel (left, top)
// (not negative). Pixels no tile covers become `missing` in every channel
// (255: white RGB; 0: transparent RGBA); tile pixels get alpha 255.
void FillFromTileGrid(TileGridReader& grid, std::int64_t left, std::int64_t top, int width,
                      int height, const WindowTarget& target, unsigned char missing);

}  // namespace strata

#endif  // STRATA_MODEL_TILE_GRID_H_
