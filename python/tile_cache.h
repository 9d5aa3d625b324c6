// Recently decoded tiles of one slide, shared by every thread that reads it:
// neighbouring regions and Deep Zoom tiles overlap the same stored tiles, and
// decoding is most of the cost of a read. Bounded in bytes, least recently
// used first out. Entries are immutable once made.
#ifndef STRATA_PYTHON_TILE_CACHE_H_
#define STRATA_PYTHON_TILE_CACHE_H_

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace strata::python {

struct DecodedTile {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;  // width * height * 3
};

class TileCache {
 public:
  explicit TileCache(std::size_t capacityBytes) : capacity_(capacityBytes) {}

  // The cached tile or null; a hit becomes the most recently used.
  std::shared_ptr<const DecodedTile> Find(int level, int column, int row);
  // Keeps `tile`, dropping the least recently used ones beyond the capacity.
  void Keep(int level, int column, int row, std::shared_ptr<const DecodedTile> tile);
  void Clear();

 private:
  using Key = std::uint64_t;
  struct Entry {
    Key key;
    std::shared_ptr<const DecodedTile> tile;
  };
  static Key KeyOf(int level, int column, int row);

  std::mutex lock_;
  std::size_t capacity_;
  std::size_t bytes_ = 0;
  std::list<Entry> order_;  // most recently used first
  std::unordered_map<Key, std::list<Entry>::iterator> index_;
};

}  // namespace strata::python

#endif  // STRATA_PYTHON_TILE_CACHE_H_
