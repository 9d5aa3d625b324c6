#include "python/tile_cache.h"

#include <utility>

namespace strata::python {

TileCache::Key TileCache::KeyOf(int level, int column, int row) {
  // Levels stay below 256 and tile positions below 2^28 in any slide the
  // library opens (positions are int pixels, tiles at least 8 wide).
  return (static_cast<Key>(level & 0xFF) << 56) | (static_cast<Key>(column & 0xFFFFFFF) << 28) |
         static_cast<Key>(row & 0xFFFFFFF);
}

std::shared_ptr<const DecodedTile> TileCache::Find(int level, int column, int row) {
  std::lock_guard<std::mutex> hold(lock_);
  const auto found = index_.find(KeyOf(level, column, row));
  if (found == index_.end()) return nullptr;
  order_.splice(order_.begin(), order_, found->second);
  return found->second->tile;
}

void TileCache::Keep(int level, int column, int row, std::shared_ptr<const DecodedTile> tile) {
  const std::size_t size = tile->rgb.size();
  if (size > capacity_) return;
  const Key key = KeyOf(level, column, row);
  std::lock_guard<std::mutex> hold(lock_);
  if (index_.count(key) != 0) return;  // another thread decoded it first
  order_.push_front(Entry{key, std::move(tile)});
  index_[key] = order_.begin();
  bytes_ += size;
  while (bytes_ > capacity_ && !order_.empty()) {
    bytes_ -= order_.back().tile->rgb.size();
    index_.erase(order_.back().key);
    order_.pop_back();
  }
}

void TileCache::Clear() {
  std::lock_guard<std::mutex> hold(lock_);
  order_.clear();
  index_.clear();
  bytes_ = 0;
}

}  // namespace strata::python
