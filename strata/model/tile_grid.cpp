#include "strata/model/tile_grid.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "strata/model/image_codec.h"

namespace strata {
namespace {

// The part of one grid cell inside the window, in level pixels.
struct CellWindow {
  std::int64_t cellX, cellY;  // top-left of the cell
  std::int64_t x0, y0, x1, y1;
  bool empty() const { return x0 >= x1 || y0 >= y1; }
};

struct Window {
  std::int64_t left, top, right, bottom;
  const WindowTarget* target;
  unsigned char missing;

  unsigned char* At(std::int64_t x, std::int64_t y) const {
    return target->pixels + static_cast<std::size_t>(y - top) * target->stride +
           static_cast<std::size_t>(x - left) * static_cast<std::size_t>(target->channels);
  }
};

CellWindow CellInside(const Window& window, std::int64_t cellX, std::int64_t cellY, int cellWidth,
                      int cellHeight) {
  CellWindow part;
  part.cellX = cellX;
  part.cellY = cellY;
  part.x0 = std::max(cellX, window.left);
  part.y0 = std::max(cellY, window.top);
  part.x1 = std::min(cellX + cellWidth, window.right);
  part.y1 = std::min(cellY + cellHeight, window.bottom);
  return part;
}

void FillMissing(const Window& window, std::int64_t x0, std::int64_t y0, std::int64_t x1,
                 std::int64_t y1) {
  if (x0 >= x1 || y0 >= y1) return;
  const std::size_t bytes =
      static_cast<std::size_t>(x1 - x0) * static_cast<std::size_t>(window.target->channels);
  for (std::int64_t y = y0; y < y1; ++y) std::memset(window.At(x0, y), window.missing, bytes);
}

void CopyRows(const Window& window, const unsigned char* source, std::size_t sourceStride,
              std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1) {
  const std::size_t count = static_cast<std::size_t>(x1 - x0);
  for (std::int64_t y = y0; y < y1; ++y, source += sourceStride) {
    unsigned char* row = window.At(x0, y);
    if (window.target->channels == 3) {
      std::memcpy(row, source, count * 3);
      continue;
    }
    const unsigned char* pixel = source;
    for (std::size_t i = 0; i < count; ++i, pixel += 3, row += 4) {
      row[0] = pixel[0];
      row[1] = pixel[1];
      row[2] = pixel[2];
      row[3] = 255;
    }
  }
}

// Copies the part of a decoded tile inside its cell and the window; what the
// tile does not cover (a missing or short tile) becomes `missing`.
void PlaceTile(const Window& window, const CellWindow& cell, const unsigned char* tile,
               int tileWidth, int tileHeight) {
  if (cell.empty()) return;
  const std::int64_t x1 =
      tile == nullptr ? cell.x0 : std::min<std::int64_t>(cell.x1, cell.cellX + tileWidth);
  const std::int64_t y1 =
      tile == nullptr ? cell.y0 : std::min<std::int64_t>(cell.y1, cell.cellY + tileHeight);
  if (x1 < cell.x1 || y1 < cell.y1) FillMissing(window, cell.x0, cell.y0, cell.x1, cell.y1);
  if (x1 <= cell.x0 || y1 <= cell.y0) return;
  const std::size_t tileStride = static_cast<std::size_t>(tileWidth) * 3;
  const unsigned char* source = tile + static_cast<std::size_t>(cell.y0 - cell.cellY) * tileStride +
                                static_cast<std::size_t>(cell.x0 - cell.cellX) * 3;
  CopyRows(window, source, tileStride, cell.x0, cell.y0, x1, y1);
}

// A JPEG tile whose cell lies wholly inside the window is decoded straight
// into its place, without a tile buffer and a copy (the common case of large
// regions). False when that does not apply or the stream is not a colour
// image of the cell size; the caller then takes the general path.
bool DecodeWholeCellInPlace(const Window& window, const CellWindow& cell, int cellWidth,
                            int cellHeight, const std::vector<unsigned char>& stream) {
  if (cell.x0 != cell.cellX || cell.y0 != cell.cellY || cell.x1 != cell.cellX + cellWidth ||
      cell.y1 != cell.cellY + cellHeight || stream.size() > static_cast<std::size_t>(INT_MAX)) {
    return false;
  }
  return DecodeJpegInto(stream.data(), static_cast<int>(stream.size()), cellWidth, cellHeight,
                        window.At(cell.x0, cell.y0), window.target->stride,
                        window.target->channels);
}

}  // namespace

void FillFromTileGrid(TileGridReader& grid, std::int64_t left, std::int64_t top, int width,
                      int height, const WindowTarget& target, unsigned char missing) {
  const int cellWidth = grid.CellWidth();
  const int cellHeight = grid.CellHeight();
  if (width <= 0 || height <= 0 || left < 0 || top < 0) return;
  const Window window{left, top, left + width, top + height, &target, missing};
  if (cellWidth <= 0 || cellHeight <= 0) {
    FillMissing(window, window.left, window.top, window.right, window.bottom);
    return;
  }
  const std::int64_t firstColumn = left / cellWidth;
  const std::int64_t firstRow = top / cellHeight;
  const std::int64_t lastColumn = (window.right - 1) / cellWidth;
  const std::int64_t lastRow = (window.bottom - 1) / cellHeight;
  // Every tile is announced before any is read, so that the reader can
  // fetch them ahead together.
  std::vector<std::pair<std::int64_t, std::int64_t>> origins;
  origins.reserve(static_cast<std::size_t>((lastColumn - firstColumn + 1) *
                                           (lastRow - firstRow + 1)));
  for (std::int64_t column = firstColumn; column <= lastColumn; ++column) {
    for (std::int64_t row = firstRow; row <= lastRow; ++row) {
      origins.emplace_back(column * cellWidth, row * cellHeight);
    }
  }
  grid.AnnounceTiles(origins);
  const bool keeps = grid.KeepsTiles();
  const bool inPlace = !keeps && grid.TilesAreColourJpeg();
  std::vector<unsigned char> stored;
  for (const auto& [cellX, cellY] : origins) {
    const CellWindow part = CellInside(window, cellX, cellY, cellWidth, cellHeight);
    if (keeps) {
      if (const std::shared_ptr<const Image> kept = grid.KeptTile(cellX, cellY)) {
        PlaceTile(window, part, kept->pixels.data(), kept->width, kept->height);
        continue;
      }
    }
    PixelBuffer pixels;
    int tileWidth = 0;
    int tileHeight = 0;
    if (grid.FetchTile(cellX, cellY, stored)) {
      if (inPlace && DecodeWholeCellInPlace(window, part, cellWidth, cellHeight, stored)) continue;
      pixels = grid.DecodeTile(stored, tileWidth, tileHeight);
      if (keeps && pixels != nullptr) grid.Keep(cellX, cellY, pixels.get(), tileWidth, tileHeight);
    }
    PlaceTile(window, part, pixels.get(), tileWidth, tileHeight);
  }
}

}  // namespace strata
