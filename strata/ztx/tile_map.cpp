#include "strata/ztx/tile_map.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <numeric>

namespace {

// From this magnitude on, neighbouring floats lie more than 1e-9 apart, so
// distinct values print distinct nine-decimal texts and the bits are a key.
constexpr float kDistinctFromMagnitude = 1.0f / 64.0f;

constexpr std::uint64_t kRoundedTag = 1ULL << 40;
constexpr std::uint64_t kInfinityTag = 2ULL << 40;
constexpr std::uint64_t kNanTag = 3ULL << 40;
constexpr std::uint64_t kNegativeBit = 1ULL << 39;

// A level gets a table when its cells are not many more than its records,
// and only so many levels do (the rest, e.g. in a damaged index, use the
// hash table): lookups search the tables one after the other.
constexpr std::int64_t kCellsPerRecord = 4;
constexpr std::int64_t kSpareCells = 64;
constexpr std::size_t kMostLevelTables = 32;

}  // namespace

std::uint64_t TileMap::ScaleCode(float scale) {
  const std::uint64_t negative = std::signbit(scale) ? kNegativeBit : 0;
  if (std::isnan(scale)) return kNanTag | negative;
  if (std::isinf(scale)) return kInfinityTag | negative;
  if (std::fabs(scale) >= kDistinctFromMagnitude) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &scale, sizeof bits);
    return bits;
  }
  // Small scales collapse as their texts do: the value in units of 1e-9,
  // rounded half to even like printf. The product is exact in a double (24
  // bits of mantissa times 5^9), so the rounding sees the true value.
  const double units = std::nearbyint(std::fabs(static_cast<double>(scale)) * 1e9);
  return kRoundedTag | negative | static_cast<std::uint64_t>(units);
}

std::uint64_t TileMap::Hash(std::uint64_t scaleCode, std::int32_t x, std::int32_t y) {
  // Position and scale folded into 64 bits, then the finaliser of MurmurHash3.
  std::uint64_t h = (static_cast<std::uint64_t>(static_cast<std::uint32_t>(x)) << 32) |
                    static_cast<std::uint32_t>(y);
  h ^= scaleCode * 0x9E3779B97F4A7C15ULL;
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDULL;
  h ^= h >> 33;
  h *= 0xC4CEB9FE1A85EC53ULL;
  h ^= h >> 33;
  return h;
}

std::size_t TileMap::Probe(std::uint64_t hash, std::uint64_t scaleCode, std::int32_t x,
                           std::int32_t y) const {
  const std::size_t mask = slots_.size() - 1;
  const auto tag = static_cast<std::uint32_t>(hash >> 32);
  std::size_t at = static_cast<std::size_t>(hash) & mask;
  for (;;) {
    const Slot& slot = slots_[at];
    if (slot.record == 0) return at;
    if (slot.tag == tag) {
      const TileInfo& tile = records_[slot.record - 1];
      if (tile.x == x && tile.y == y && ScaleCode(tile.scale) == scaleCode) return at;
    }
    at = (at + 1) & mask;
  }
}

void TileMap::Grow(std::size_t slotCount) {
  slots_.assign(slotCount, Slot{0, 0});
  for (std::size_t i = 0; i < records_.size(); ++i) {
    const TileInfo& tile = records_[i];
    const std::uint64_t code = ScaleCode(tile.scale);
    const std::uint64_t hash = Hash(code, tile.x, tile.y);
    slots_[Probe(hash, code, tile.x, tile.y)] =
        Slot{static_cast<std::uint32_t>(i + 1), static_cast<std::uint32_t>(hash >> 32)};
  }
}

void TileMap::Reserve(std::size_t count) {
  records_.reserve(count);
  std::size_t wanted = 16;
  while (wanted < count * 2) wanted *= 2;
  if (wanted > slots_.size()) Grow(wanted);
}

bool TileMap::Insert(const TileInfo& tile) {
  if (records_.size() >= std::numeric_limits<std::uint32_t>::max() - 1) return false;
  levels_.clear();  // would miss the new record
  if ((records_.size() + 1) * 2 > slots_.size()) Grow(slots_.empty() ? 16 : slots_.size() * 2);
  const std::uint64_t code = ScaleCode(tile.scale);
  const std::uint64_t hash = Hash(code, tile.x, tile.y);
  const std::size_t at = Probe(hash, code, tile.x, tile.y);
  if (slots_[at].record != 0) return false;
  records_.push_back(tile);
  slots_[at] =
      Slot{static_cast<std::uint32_t>(records_.size()), static_cast<std::uint32_t>(hash >> 32)};
  return true;
}

const TileInfo* TileMap::Find(float scale, int x, int y) const {
  const std::uint64_t code = ScaleCode(scale);
  const LevelTable* level = TableOf(code);
  if (level == nullptr) return FindInHash(code, x, y);
  // Every record of the scale is in its table: a position off the grid has none.
  const std::int64_t dx = static_cast<std::int64_t>(x) - level->left;
  const std::int64_t dy = static_cast<std::int64_t>(y) - level->top;
  if (dx < 0 || dy < 0 || dx % level->step != 0 || dy % level->step != 0) return nullptr;
  const std::int64_t column = dx / level->step;
  const std::int64_t row = dy / level->step;
  if (column >= level->columns || row >= level->rows) return nullptr;
  const std::uint32_t cell = level->cells[static_cast<std::size_t>(row * level->columns + column)];
  return cell == 0 ? nullptr : &records_[cell - 1];
}

const TileInfo* TileMap::FindInHash(std::uint64_t scaleCode, std::int32_t x, std::int32_t y) const {
  if (slots_.empty()) return nullptr;
  const Slot& slot = slots_[Probe(Hash(scaleCode, x, y), scaleCode, x, y)];
  return slot.record == 0 ? nullptr : &records_[slot.record - 1];
}

std::size_t TileMap::LevelIndex(std::uint64_t scaleCode) const {
  std::size_t at = 0;
  while (at < levels_.size() && levels_[at].scaleCode != scaleCode) ++at;
  return at;
}

const TileMap::LevelTable* TileMap::TableOf(std::uint64_t scaleCode) const {
  const std::size_t at = LevelIndex(scaleCode);
  return at < levels_.size() ? &levels_[at] : nullptr;
}

void TileMap::IndexLevels() {
  levels_.clear();
  // First pass: each level's corner, extent and step. The step is the gcd of
  // every position's distance from the level's first record, which is also
  // the gcd of the distances from the corner.
  struct Extent {
    std::int64_t firstX, firstY, right, bottom, step, count;
  };
  std::vector<Extent> extents;
  std::size_t current = 0;
  for (const TileInfo& tile : records_) {
    const std::uint64_t code = ScaleCode(tile.scale);
    if (current >= levels_.size() || levels_[current].scaleCode != code) {
      current = LevelIndex(code);
      if (current == levels_.size()) {
        if (levels_.size() == kMostLevelTables) {
          levels_.clear();
          return;
        }
        LevelTable level;
        level.scaleCode = code;
        level.left = tile.x;
        level.top = tile.y;
        levels_.push_back(std::move(level));
        extents.push_back({tile.x, tile.y, tile.x, tile.y, 0, 0});
      }
    }
    LevelTable& level = levels_[current];
    Extent& extent = extents[current];
    level.left = std::min<std::int64_t>(level.left, tile.x);
    level.top = std::min<std::int64_t>(level.top, tile.y);
    extent.right = std::max<std::int64_t>(extent.right, tile.x);
    extent.bottom = std::max<std::int64_t>(extent.bottom, tile.y);
    extent.step = std::gcd(
        extent.step, std::gcd(std::abs(tile.x - extent.firstX), std::abs(tile.y - extent.firstY)));
    ++extent.count;
  }
  for (std::size_t i = 0; i < levels_.size(); ++i)
    SizeLevelTable(levels_[i], extents[i].right, extents[i].bottom, extents[i].step,
                   extents[i].count);
  // Second pass: file the records in their cells.
  current = 0;
  for (std::size_t i = 0; i < records_.size(); ++i) {
    const TileInfo& tile = records_[i];
    const std::uint64_t code = ScaleCode(tile.scale);
    if (levels_[current].scaleCode != code) current = LevelIndex(code);
    LevelTable& level = levels_[current];
    if (level.cells.empty()) continue;
    const std::int64_t column = (tile.x - level.left) / level.step;
    const std::int64_t row = (tile.y - level.top) / level.step;
    std::uint32_t& cell = level.cells[static_cast<std::size_t>(row * level.columns + column)];
    if (cell == 0) cell = static_cast<std::uint32_t>(i + 1);  // keys are unique; the first wins
  }
  // Levels too sparse for a table are left to the hash table.
  levels_.erase(std::remove_if(levels_.begin(), levels_.end(),
                               [](const LevelTable& level) { return level.cells.empty(); }),
                levels_.end());
}

void TileMap::SizeLevelTable(LevelTable& level, std::int64_t right, std::int64_t bottom,
                             std::int64_t step, std::int64_t count) {
  level.step = step == 0 ? 1 : step;
  level.columns = (right - level.left) / level.step + 1;
  level.rows = (bottom - level.top) / level.step + 1;
  if (level.columns > (count * kCellsPerRecord + kSpareCells) / level.rows) return;
  level.cells.assign(static_cast<std::size_t>(level.columns * level.rows), 0);
}

void TileMap::Clear() {
  records_.clear();
  slots_.clear();
  levels_.clear();
}
