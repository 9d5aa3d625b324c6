// The tile index of a ZTX slide: the entries the header points at (plain, or
// zlib-compressed when the marker's 0x400 bit says so), filed by scale and
// position, and which stored level serves a requested scale.
//
// Loaded once while the slide loads; afterwards any number of threads may
// look tiles up at once.
#ifndef STRATA_ZTX_ZTX_TILE_INDEX_H_
#define STRATA_ZTX_ZTX_TILE_INDEX_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "strata/model/byte_buffer.h"
#include "strata/status.h"
#include "strata/ztx/tile_info.h"
#include "strata/ztx/tile_map.h"
#include "strata/ztx/ztx_format.h"

class CFileOperationTool;
class CZTXDataHeader;

namespace strata::ztx {

class TileIndex {
 public:
  // A block load keeps the whole tiles of this rectangle at this scale and
  // stops once it holds `expected` of them.
  struct BlockFilter {
    std::int64_t left;
    std::int64_t top;
    std::int64_t right;
    std::int64_t bottom;
    float scale;
    std::int64_t expected;
  };

  // Reads the index through `reader` and files its entries (only those
  // `filter` holds, when given). `fileSize` is -1 when unknown. On failure
  // the index is left empty or partly filled and the status says why
  // ("ZTX slide truncated at byte 5000", "damaged tile index entry 12").
  Status Load(CFileOperationTool& reader, CZTXDataHeader& header, HeaderLayout layout,
              std::int64_t fileSize, const BlockFilter* filter);

  // The record filed under the key of (scale, x, y), or null.
  const TileInfo* Find(float scale, int x, int y) const { return tiles_.Find(scale, x, y); }
  std::size_t size() const { return tiles_.size(); }
  // Every filed record, in index order.
  const std::vector<TileInfo>& Records() const { return tiles_.Records(); }

  // The stored scale from which a region at `scale` is composed; 0 when
  // there is no header or the scale is not a positive number.
  static float SourceScale(CZTXDataHeader* header, float scale);
  // True when `scale` is a level the file does not store (level modes 1, 2).
  static bool IsUnstoredLevel(CZTXDataHeader* header, float scale);

 private:
  // The whole index, expanded, into `buffer`.
  Status ReadEntries(CFileOperationTool& reader, CZTXDataHeader& header, HeaderLayout layout,
                     std::int64_t fileSize, ByteBuffer& buffer);
  Status ReadPlain(CFileOperationTool& reader, HeaderLayout layout, std::int64_t count,
                   std::int64_t indexOffset, std::int64_t fileSize, ByteBuffer& buffer);
  Status ReadCompressed(CFileOperationTool& reader, HeaderLayout layout, std::int64_t count,
                        std::int64_t indexOffset, std::int64_t fileSize, ByteBuffer& buffer);

  TileMap tiles_;
};

// The reason for a file that ends before its records do.
Status TruncatedAt(std::int64_t fileSize);

}  // namespace strata::ztx

#endif  // STRATA_ZTX_ZTX_TILE_INDEX_H_
