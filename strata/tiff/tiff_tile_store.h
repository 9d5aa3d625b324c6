// The stored tiles and images of a planned TIFF slide: tile bytes read
// through the byte-range reader (any number of threads at once, fetched
// ahead on request), JPEG tiles made whole, other tiles decoded with
// libtiff's codecs, associated images read with libtiff's RGBA interface
// as the reference reader reads them. libtiff calls are serialised: its
// handle keeps state.
#ifndef STRATA_TIFF_TIFF_TILE_STORE_H_
#define STRATA_TIFF_TIFF_TILE_STORE_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "strata/model/file_operation_tool.h"
#include "strata/slide_types.h"
#include "strata/status.h"
#include "strata/tiff/tiff_client.h"
#include "strata/tiff/tiff_directory.h"
#include "strata/tiff/tiff_layout.h"

namespace strata::tiff {

class TiffTileStore {
 public:
  TiffTileStore(std::unique_ptr<CFileOperationTool> reader, std::unique_ptr<TiffClient> client,
                std::vector<TiffDirectory> directories, TiffLayout layout);
  ~TiffTileStore();
  TiffTileStore(const TiffTileStore&) = delete;
  TiffTileStore& operator=(const TiffTileStore&) = delete;

  const TiffLayout& Layout() const { return layout_; }
  const std::vector<TiffDirectory>& Directories() const { return directories_; }
  CFileOperationTool& Reader() const { return *reader_; }

  // The tile's bytes as stored. OutOfRange for a cell outside the grid.
  Status ReadStored(int level, std::int64_t column, std::int64_t row,
                    std::vector<unsigned char>* bytes) const;
  // A JPEG level's tile as a whole stream, read straight into the memory
  // `place` gives for its length (a vector, or a buffer to hand out).
  using Placement = std::function<unsigned char*(std::size_t length)>;
  Status ReadJpeg(int level, std::int64_t column, std::int64_t row, const Placement& place) const;
  // Placement in a vector, resized to the length.
  static Placement VectorPlacement(std::vector<unsigned char>* bytes);
  // A tile of a level that is not JPEG, decoded: RGB rows of the whole
  // stored tile (tileWidth x tileHeight).
  Status DecodeOther(int level, std::int64_t column, std::int64_t row, Image* rgb) const;
  // Fetches the tiles' bytes ahead. Only advice.
  void Prefetch(int level, const std::vector<std::pair<std::int64_t, std::int64_t>>& cells) const;
  // An associated image as RGB.
  Status ReadAssociated(const TiffAssociatedImage& image, Image* rgb) const;

 private:
  std::size_t TileIndex(int level, std::int64_t column, std::int64_t row) const;
  // Reads a tile's bytes into memory from `place`, `before` bytes in.
  Status ReadStoredInto(int level, std::int64_t column, std::int64_t row, std::size_t before,
                        const Placement& place, unsigned char** tile, std::size_t* length) const;
  // Makes `directory` libtiff's current one; caller holds libtiffLock_.
  Status SelectDirectory(int directory) const;

  std::unique_ptr<CFileOperationTool> reader_;
  std::unique_ptr<TiffClient> client_;
  std::vector<TiffDirectory> directories_;
  TiffLayout layout_;
  // Per JPEG level: what goes in front of its stored tiles, or why nothing can.
  std::vector<std::vector<unsigned char>> jpegPrefixes_;
  std::vector<Status> jpegPrefixFailures_;
  mutable std::mutex libtiffLock_;
  mutable int currentDirectory_ = -1;
};

}  // namespace strata::tiff

#endif  // STRATA_TIFF_TIFF_TILE_STORE_H_
