// Decoded tiles kept in memory, shared by every thread that reads a slide
// and, when a caller hands one cache to several slides, by those slides:
// neighbouring regions overlap the same stored tiles, and decoding is most
// of the cost of a read. Bounded in bytes, least recently used first out;
// a capacity of 0 keeps nothing. Entries are immutable once made. Safe to
// use from any number of threads.
#ifndef STRATA_TILE_CACHE_H_
#define STRATA_TILE_CACHE_H_

#include <cstddef>
#include <cstdint>
#include <memory>

#include "strata/export.h"
#include "strata/slide_types.h"

namespace strata {

class STRATA_API TileCache {
 public:
  explicit TileCache(std::size_t capacityBytes);
  ~TileCache();
  TileCache(const TileCache&) = delete;
  TileCache& operator=(const TileCache&) = delete;

  std::size_t CapacityBytes() const;
  std::size_t UsedBytes() const;

  // The decoded tile `owner` (a slide's number) filed under (level, column,
  // row), or null; a hit becomes the most recently used.
  std::shared_ptr<const Image> Find(std::uint64_t owner, int level, std::int64_t column,
                                    std::int64_t row);
  // Keeps `tile`, dropping the least recently used ones beyond the capacity.
  // A tile larger than the whole capacity is not kept.
  void Keep(std::uint64_t owner, int level, std::int64_t column, std::int64_t row,
            std::shared_ptr<const Image> tile);
  void Clear();

  // A number no other slide of this process uses, for Find and Keep.
  static std::uint64_t NewOwner();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace strata

#endif  // STRATA_TILE_CACHE_H_
