#include "strata/ztx/ztx_tile_block.h"

#include <cstdio>
#include <new>

CZTXDataBlock::~CZTXDataBlock() = default;

bool CZTXDataBlock::TakeLeadingFields(ByteBuffer& buffer) {
  return buffer.Skip(4) && buffer.TakeI32(x_) && buffer.TakeI32(y_) && buffer.TakeI32(width_) &&
         buffer.TakeI32(height_) && buffer.TakeF32(scale_) && buffer.Skip(8) &&
         buffer.TakeI32(length_);
}

int CZTXDataBlock::ReadEntry(ByteBuffer* buffer) {
  if (buffer == nullptr || buffer->Remaining() < static_cast<std::size_t>(kEntrySize)) return -1;
  const bool ok = TakeLeadingFields(*buffer) && buffer->Skip(4) && buffer->TakeI32AsI64(offset_) &&
                  buffer->Skip(24);
  return ok ? 0 : -1;
}

float CZTXDataBlock::GetTileScale() { return scale_; }
int CZTXDataBlock::GetTileX() { return x_; }
int CZTXDataBlock::GetTileY() { return y_; }
int CZTXDataBlock::GetTileWidth() { return width_; }
int CZTXDataBlock::GetTileHeight() { return height_; }

TileInfo CZTXDataBlock::CurrentTile() const {
  TileInfo tile;
  tile.x = x_;
  tile.y = y_;
  tile.width = width_;
  tile.height = height_;
  tile.scale = scale_;
  tile.length = length_;
  tile.offset = offset_;
  return tile;
}

TileInfo* CZTXDataBlock::MakeTileInfo(std::string& key, int) {
  TileInfo* tile = new (std::nothrow) TileInfo(CurrentTile());
  if (tile == nullptr) return nullptr;
  MakeKey(key, scale_, x_, y_);
  return tile;
}

std::string& CZTXDataBlock::MakeKey(std::string& out, float scale, int x, int y) {
  // Large enough for any float printed with nine decimals and two ints.
  char text[384];
  std::snprintf(text, sizeof text, "%.9f_%d_%d", static_cast<double>(scale), x, y);
  out.assign(text);
  return out;
}

CZTXDataBlock1100::~CZTXDataBlock1100() = default;

int CZTXDataBlock1100::ReadEntry(ByteBuffer* buffer) {
  if (buffer == nullptr || buffer->Remaining() < static_cast<std::size_t>(kEntrySize)) return -1;
  const bool ok = TakeLeadingFields(*buffer) && buffer->TakeI64(offset_) && buffer->Skip(20);
  return ok ? 0 : -1;
}
