// The tiles of a loaded ZTX slide, found by scale and position.
//
// Records are held by value in file order; an open-addressed hash table of
// numeric keys points into them. Two scales share a key exactly when their
// "%.9f" texts are equal, so the lookup answers as the text key did (a
// request at 19.9999 does not find a tile of scale 20) without formatting
// anything. The first record filed under a key wins; later ones are dropped.
//
// Filled once while the slide loads; afterwards any number of threads may
// call the const members at once.
#ifndef STRATA_ZTX_TILE_MAP_H_
#define STRATA_ZTX_TILE_MAP_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "strata/ztx/tile_info.h"

class TileMap {
 public:
  // Makes room for `count` records without rehashing.
  void Reserve(std::size_t count);
  // Files the record unless its key is taken; true when it was filed.
  bool Insert(const TileInfo& tile);
  // The record of (scale, x, y), or null.
  const TileInfo* Find(float scale, int x, int y) const;
  void Clear();

  std::size_t size() const { return records_.size(); }
  bool empty() const { return records_.empty(); }
  // Every filed record, in the order it was filed.
  const std::vector<TileInfo>& Records() const { return records_; }

  // The number under which a scale is filed: equal exactly for scales whose
  // nine-decimal texts are equal.
  static std::uint64_t ScaleCode(float scale);

 private:
  static std::uint64_t Hash(std::uint64_t scaleCode, std::int32_t x, std::int32_t y);
  void Grow(std::size_t slotCount);
  // The slot holding the key, or the empty slot where it would go.
  std::size_t Probe(std::uint64_t hash, std::uint64_t scaleCode, std::int32_t x,
                    std::int32_t y) const;

  std::vector<TileInfo> records_;
  // Record index + 1 (0 when empty) and the upper half of the key's hash,
  // so that a probe touches a record only when the hashes agree. A power of
  // two in size, at most half full.
  struct Slot {
    std::uint32_t record;
    std::uint32_t tag;
  };
  std::vector<Slot> slots_;
};

#endif  // STRATA_ZTX_TILE_MAP_H_
