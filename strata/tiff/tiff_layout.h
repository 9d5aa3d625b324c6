// How a TIFF file's directories make a slide, as the field's reference
// reader sees them: an Aperio SVS (first description starting "Aperio";
// every tiled directory a level in file order, stripped directories
// associated images) or a generic pyramidal TIFF (the first directory and
// every tiled reduced-resolution directory a level, largest first).
//
// PlanTiffSlide accepts only what this reader reads exactly as the
// reference does: 8-bit RGB tiles, contiguous, coded as JPEG (YCbCr or RGB),
// deflate, LZW (with or without the horizontal predictor) or uncompressed,
// every tile present and inside the file. Anything else (JPEG 2000, other
// vendors' dialects, missing tiles, levels out of order) is Unsupported
// with the reason, so that the caller may read the file another way.
#ifndef STRATA_TIFF_TIFF_LAYOUT_H_
#define STRATA_TIFF_TIFF_LAYOUT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "strata/status.h"
#include "strata/tiff/tiff_directory.h"

namespace strata::tiff {

enum class TileCoding { kJpeg, kDeflate, kLzw, kUncompressed };

struct TiffLevel {
  int directory = 0;  // index into the directories
  std::int64_t width = 0;
  std::int64_t height = 0;
  int tileWidth = 0;
  int tileHeight = 0;
  double downsample = 1.0;
  TileCoding coding = TileCoding::kJpeg;
  // JPEG tiles whose samples are RGB rather than YCbCr.
  bool rgbJpeg = false;
  std::int64_t TilesAcross() const { return (width + tileWidth - 1) / tileWidth; }
  std::int64_t TilesDown() const { return (height + tileHeight - 1) / tileHeight; }
};

struct TiffAssociatedImage {
  std::string name;
  int directory = 0;
  std::int64_t width = 0;
  std::int64_t height = 0;
};

struct TiffLayout {
  std::string vendor;  // "aperio" or "generic-tiff"
  std::vector<TiffLevel> levels;
  // By name, sorted as the reference lists them.
  std::vector<TiffAssociatedImage> associatedImages;
};

// The layout of the slide the directories hold. `sourceSize` (-1 when
// unknown) bounds every tile.
Status PlanTiffSlide(const std::vector<TiffDirectory>& directories, std::int64_t sourceSize,
                     TiffLayout* layout);

}  // namespace strata::tiff

#endif  // STRATA_TIFF_TIFF_LAYOUT_H_
