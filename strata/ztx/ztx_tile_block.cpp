#include "strata/ztx/ztx_tile_block.h"

#include <cstdio>
#include <new>

namespace {

bool Skip(ByteBuffer& buffer, std::size_t bytes) { return buffer.Take(1, bytes) != nullptr; }

}  // namespace

CZTXDataBlock::~CZTXDataBlock() = default;

bool CZTXDataBlock::TakeLeadingFields(ByteBuffer& buffer) {
  return Skip(buffer, 4) && ReadItems(&x_, 4, 1, buffer) && ReadItems(&y_, 4, 1, buffer) &&
         ReadItems(&width_, 4, 1, buffer) && ReadItems(&height_, 4, 1, buffer) &&
         ReadItems(&scale_, 4, 1, buffer) && Skip(buffer, 8) &&
         ReadItems(&length_, 4, 1, buffer);
}

int CZTXDataBlock::ReadEntry(ByteBuffer* buffer) {
  if (buffer == nullptr || buffer->Remaining() < static_cast<std::size_t>(kEntrySize)) return -1;
  std::int32_t offset = 0;
  const bool ok = TakeLeadingFields(*buffer) && Skip(*buffer, 4) &&
                  ReadItems(&offset, 4, 1, *buffer) && Skip(*buffer, 24);
  offset_ = offset;
  return ok ? 0 : -1;
}

void CZTXDataBlock::SetBlockTag(std::int64_t tag) { tag_ = tag; }
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
  const bool ok = TakeLeadingFields(*buffer) && ReadItems(&offset_, 8, 1, *buffer) &&
                  Skip(*buffer, 20);
  return ok ? 0 : -1;
}

void CZTXDataBlock1100::SetBlockFlag(int flag) { flag_ = flag; }
