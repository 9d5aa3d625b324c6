// One image of a slide, a pyramid level or an associated image, as a grid
// of tiles over the frames of one instance or of several instances that
// share a ConcatenationUID (each holding a run of the frames).
//
// Assembling checks the parts against each other: every part of a
// concatenation present once, runs of frames that follow on, and, for tiles
// in order (TILED_FULL), as many frames as the grid needs for each focal
// plane and optical path. Tiles placed by position (TILED_SPARSE) may leave
// cells empty; a cell named twice keeps its first frame.
#ifndef STRATA_DICOM_DICOM_IMAGE_H_
#define STRATA_DICOM_DICOM_IMAGE_H_

#include <cstdint>
#include <utility>
#include <vector>

#include "strata/dicom/dicom_instance.h"
#include "strata/model/image_buffer.h"
#include "strata/slide_types.h"
#include "strata/status.h"

namespace strata::dicom {

class DicomImage {
 public:
  // The image made of `parts` (prepared instances, at least one; the
  // caller keeps them alive).
  static Status Assemble(std::vector<const DicomInstance*> parts, DicomImage* image);

  std::int64_t Width() const { return first().Width(); }
  std::int64_t Height() const { return first().Height(); }
  int TileWidth() const { return first().TileWidth(); }
  int TileHeight() const { return first().TileHeight(); }
  std::int64_t Columns() const { return columns_; }
  std::int64_t Rows() const { return rows_; }
  const DicomInstance& first() const { return *parts_.front().instance; }

  // The tile at (column, row) as stored; NotFound for an empty cell of a
  // sparse image, OutOfRange outside the grid.
  Status ReadTile(std::int64_t column, std::int64_t row, Tile* tile) const;
  // Fetches the tiles at these cells ahead.
  void Prefetch(const std::vector<std::pair<std::int64_t, std::int64_t>>& cells) const;
  // The whole image decoded to RGB (for associated images), white where a
  // sparse image has no tile; TooLarge beyond the read budget.
  Status ReadWhole(Image* rgb) const;

 private:
  struct Part {
    const DicomInstance* instance = nullptr;
    std::int64_t firstFrame = 0;  // in the frames of the whole image
  };
  // A tile's frame in the whole image's numbering; -1 for an empty cell.
  std::int64_t FrameAt(std::int64_t column, std::int64_t row) const;
  const Part& PartOf(std::int64_t frame) const;
  Status IndexSparseTiles();

  std::vector<Part> parts_;
  std::int64_t frames_ = 0;
  std::int64_t columns_ = 0;
  std::int64_t rows_ = 0;
  bool sparse_ = false;
  // Sparse cells, sorted: row * columns + column, and the frame there.
  std::vector<std::pair<std::int64_t, std::int64_t>> cells_;
};

}  // namespace strata::dicom

#endif  // STRATA_DICOM_DICOM_IMAGE_H_
