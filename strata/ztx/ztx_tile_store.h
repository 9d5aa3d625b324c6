// The bytes behind a ZTX slide's records: tile streams and associated-image
// streams, read through the slide's reader and checked against the file
// size first, and stored streams decoded to RGB.
//
// Bound to the slide's reader and header once the header is known; reads may
// then run on any number of threads (the reader serialises positioned reads).
// A read that fails notes why (strata/model/failure_note.h).
#ifndef STRATA_ZTX_ZTX_TILE_STORE_H_
#define STRATA_ZTX_ZTX_TILE_STORE_H_

#include <cstdint>
#include <vector>

#include "strata/model/tile_decoder.h"
#include "strata/ztx/tile_info.h"

class CFileOperationTool;
class CZTXDataHeader;

namespace strata::ztx {

class TileStore {
 public:
  // `fileSize` is -1 when the reader cannot tell it.
  void Bind(CFileOperationTool* reader, CZTXDataHeader* header, std::int64_t fileSize);
  std::int64_t FileSize() const { return fileSize_; }

  // True when a record's stream lies inside the file and fits a buffer.
  bool Plausible(const TileInfo& tile) const;
  // Reads `length` bytes at position + offset into the caller's buffer at *out.
  // 0 on success; -1, with *out untouched, when the read fails or is short.
  int ReadInto(std::int64_t position, std::int64_t offset, int length, unsigned char** out);
  // The stored bytes of one tile into `bytes` (allocating); false on a failed
  // or short read.
  bool ReadTile(const TileInfo& tile, std::vector<unsigned char>& bytes);
  // A section's image stream into a new library buffer at *out.
  bool ReadSection(std::int64_t position, std::int64_t offset, int length, unsigned char** out);

  // Announces reads soon to come: these tiles, or the head of the file.
  void PrefetchTiles(const std::vector<const TileInfo*>& tiles);
  void PrefetchHead();

  // True when the header's image format tag names BMP streams.
  bool TilesAreBmp() const;
  // A stored stream (BMP or JPEG by the header tag) as a new RGB buffer no
  // larger than `limits`, or null.
  unsigned char* Decode(const unsigned char* stream, int length, const TileLimits& limits,
                        int& width, int& height) const;

 private:
  CFileOperationTool* reader_ = nullptr;
  CZTXDataHeader* header_ = nullptr;
  std::int64_t fileSize_ = -1;
};

}  // namespace strata::ztx

#endif  // STRATA_ZTX_ZTX_TILE_STORE_H_
