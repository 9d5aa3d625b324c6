// The tiles of a loaded ZTX slide, found by scale and position.
//
// Records are held by value in file order; an open-addressed hash table of
// numeric keys points into them. Two scales share a key exactly when their
// "%.9f" texts are equal, so the lookup answers as the text key did (a
// request at 19.9999 does not find a tile of scale 20) without formatting
// anything. The first record filed under a key wins; later ones are dropped.
//
// Tiles of a level lie on a regular grid, so once the slide has loaded,
// IndexLevels files each level's records in a dense table by row and column
// as well: a lookup then reads a few hundred KB of cells instead of probing
// a table of megabytes. Levels too sparse for a table, and lookups before
// IndexLevels or after a later Insert, use the hash table.
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
  // Builds the per-level tables from the records filed so far.
  void IndexLevels();
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
  // The records of one scale on their grid: positions left + step * column,
  // top + step * row. Cells hold record index + 1, 0 when empty.
  struct LevelTable {
    std::uint64_t scaleCode = 0;
    std::int64_t left = 0;
    std::int64_t top = 0;
    std::int64_t step = 1;
    std::int64_t columns = 0;
    std::int64_t rows = 0;
    std::vector<std::uint32_t> cells;
  };

  static std::uint64_t Hash(std::uint64_t scaleCode, std::int32_t x, std::int32_t y);
  const TileInfo* FindInHash(std::uint64_t scaleCode, std::int32_t x, std::int32_t y) const;
  // The position of the level's table in levels_, levels_.size() when none.
  std::size_t LevelIndex(std::uint64_t scaleCode) const;
  // The level's table, or null when the level has none.
  const LevelTable* TableOf(std::uint64_t scaleCode) const;
  // Gives the level its cells, unless they would be too many for its records.
  static void SizeLevelTable(LevelTable& level, std::int64_t right, std::int64_t bottom,
                             std::int64_t step, std::int64_t count);
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
  std::vector<LevelTable> levels_;
};

#endif  // STRATA_ZTX_TILE_MAP_H_
