// Aperio SVS and generic pyramidal TIFF / BigTIFF read natively behind the
// slide façade, from local files and http:// URLs alike. The slide is
// presented exactly as the field's reference reader presents these files
// (levels, properties, associated images, and every pixel of every region),
// while stored JPEG tiles are handed out as they are, made whole with the
// file's tables.
//
// Open accepts only files it reads exactly (see tiff_layout.h); for others
// it reports Unsupported (not this reader's kind of file) or Damaged, and
// the caller may read the file another way. Reads are const and may run on
// many threads at once.
#ifndef STRATA_TIFF_TIFF_SLIDE_H_
#define STRATA_TIFF_TIFF_SLIDE_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "strata/model/file_operation_tool.h"
#include "strata/model/slide_format.h"
#include "strata/model/tile_grid.h"
#include "strata/status.h"
#include "strata/tiff/tiff_layout.h"

namespace strata::tiff {

class TiffTileStore;

// False when STRATA_NATIVE_TIFF is "0": every TIFF slide is then read the
// other way, for comparison.
bool NativeTiffEnabled();

class TiffSlide : public SlideFormat {
 public:
  // Opens `location` (path or URL) with the library's byte-range reader.
  static Status Open(const std::string& location, std::unique_ptr<TiffSlide>* slide);
  // Opens the bytes `reader` (open already) delivers; `name` labels them.
  static Status OpenFrom(std::unique_ptr<CFileOperationTool> reader, const std::string& name,
                         std::unique_ptr<TiffSlide>* slide);

  ~TiffSlide() override;

  // JPEG levels give the stored tile made whole; other levels the tile's
  // pixels inside the level (kRgb).
  Status ReadTile(int level, std::int64_t column, std::int64_t row, Tile* tile) const override;
  // Straight RGBA, as the reference's pixels reach its Python binding.
  Status ReadRegion(int level, std::int64_t x, std::int64_t y, int width, int height,
                    const TileCacheUse& cache, Image* rgba) const override;
  Status ReadScaled(double scale, std::int64_t x, std::int64_t y, int width, int height,
                    Image* rgb) const override;
  Status ReadAssociatedImage(const std::string& name, Image* rgb) const override;
  void PrefetchTiles(int level, const std::vector<std::pair<std::int64_t, std::int64_t>>& origins)
      const override;

  const TiffLayout& Layout() const;
  // A JPEG level's stored tile made whole, read straight into the memory
  // `place` gives for its length (null: out of memory).
  using TilePlacement = std::function<unsigned char*(std::size_t length)>;
  Status ReadWholeJpeg(int level, std::int64_t column, std::int64_t row,
                       const TilePlacement& place) const;
  // The reference's premultiplied ARGB words of a level window at level-0
  // position (x, y).
  Status ReadLevelArgb(int level, std::int64_t x, std::int64_t y, int width, int height,
                       std::uint32_t* argb) const;
  // The same window as RGB rows of `target`: the ARGB colours, white where
  // alpha is below 250.
  Status ReadLevelRgb(int level, std::int64_t x, std::int64_t y, int width, int height,
                      const WindowTarget& target, const TileCacheUse& cache) const;

 private:
  explicit TiffSlide(std::unique_ptr<TiffTileStore> store);
  void Describe(std::map<std::string, std::string> properties);
  // Level pixels (left, top) on, whole pixels, with transparent (RGBA) or
  // white (RGB) outside the level; fails when a tile cannot be read.
  Status FillLevelWindow(int level, std::int64_t left, std::int64_t top, int width, int height,
                       const TileCacheUse& cache, unsigned char* pixels, std::size_t stride,
                       int channels) const;
  // Reads the parts of a window: whole-pixel parts with `whole`, the rest
  // as the reference's ARGB passed to `painted`.
  template <typename Whole, typename Painted>
  Status ReadParts(int level, std::int64_t x, std::int64_t y, int width, int height,
                   const TileCacheUse& cache, Whole whole, Painted painted) const;

  std::unique_ptr<TiffTileStore> store_;
};

}  // namespace strata::tiff

#endif  // STRATA_TIFF_TIFF_SLIDE_H_
