// Tile index entries of a ZTX file. Version 1.0 entries are 68 bytes with a
// 32-bit stream position; later versions use 64-byte entries with a 64-bit
// position. A block holds the last entry it took and makes the tile record
// and the key under which the slide files it.
#ifndef STRATA_ZTX_ZTX_TILE_BLOCK_H_
#define STRATA_ZTX_ZTX_TILE_BLOCK_H_

#include <cstdint>
#include <string>

#include "strata/model/base_data.h"
#include "strata/ztx/tile_info.h"
#include "strata/ztx/ztx_format.h"

// Version 1.0 entries (68 bytes).
class CZTXDataBlock : public CDataBlock {
 public:
  static constexpr int kEntrySize = strata::ztx::kEntryBytes1000;

  CZTXDataBlock() = default;
  ~CZTXDataBlock() override;

  // Takes one entry from the buffer: -1 for a null buffer or when the buffer
  // does not hold a whole entry, else 0.
  virtual int ReadEntry(ByteBuffer* buffer);
  virtual float GetTileScale();
  virtual int GetTileX();
  virtual int GetTileY();
  virtual int GetTileWidth();
  virtual int GetTileHeight();
  // A new record of the current entry (caller owns it; null when memory is
  // short) with the entry's key written to `key`.
  virtual TileInfo* MakeTileInfo(std::string& key, int reserved);
  // The key text "%.9f_%d_%d" of scale (widened to double), x and y, written
  // to `out` and returned.
  virtual std::string& MakeKey(std::string& out, float scale, int x, int y);

  // The record of the current entry, by value (no key text, no allocation).
  TileInfo CurrentTile() const;

  std::int32_t GetStreamLength() const { return length_; }
  std::int64_t GetStreamOffset() const { return offset_; }

 protected:
  // The fields both entry layouts share, up to and including the length.
  bool TakeLeadingFields(ByteBuffer& buffer);

  std::int32_t x_ = 0;
  std::int32_t y_ = 0;
  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
  float scale_ = 0.0f;
  std::int32_t length_ = 0;
  std::int64_t offset_ = 0;
};

// Version 1.1 to 2.0 entries (64 bytes).
class CZTXDataBlock1100 : public CZTXDataBlock {
 public:
  static constexpr int kEntrySize = strata::ztx::kEntryBytes;

  CZTXDataBlock1100() = default;
  ~CZTXDataBlock1100() override;

  int ReadEntry(ByteBuffer* buffer) override;
};

#endif  // STRATA_ZTX_ZTX_TILE_BLOCK_H_
