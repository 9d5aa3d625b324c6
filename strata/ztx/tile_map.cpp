#include "strata/ztx/tile_map.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace {

// From this magnitude on, neighbouring floats lie more than 1e-9 apart, so
// distinct values print distinct nine-decimal texts and the bits are a key.
constexpr float kDistinctFromMagnitude = 1.0f / 64.0f;

constexpr std::uint64_t kRoundedTag = 1ULL << 40;
constexpr std::uint64_t kInfinityTag = 2ULL << 40;
constexpr std::uint64_t kNanTag = 3ULL << 40;
constexpr std::uint64_t kNegativeBit = 1ULL << 39;

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
  if (slots_.empty()) return nullptr;
  const std::uint64_t code = ScaleCode(scale);
  const Slot& slot = slots_[Probe(Hash(code, x, y), code, x, y)];
  return slot.record == 0 ? nullptr : &records_[slot.record - 1];
}

void TileMap::Clear() {
  records_.clear();
  slots_.clear();
}
