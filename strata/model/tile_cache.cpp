#include "strata/tile_cache.h"

#include <atomic>
#include <list>
#include <mutex>
#include <unordered_map>
#include <utility>

namespace strata {
namespace {

struct Key {
  std::uint64_t owner;
  int level;
  std::int64_t column;
  std::int64_t row;
  bool operator==(const Key& other) const {
    return owner == other.owner && level == other.level && column == other.column &&
           row == other.row;
  }
};

struct KeyHash {
  std::size_t operator()(const Key& key) const {
    std::uint64_t h = key.owner * 0x9E3779B97F4A7C15ULL;
    h ^= static_cast<std::uint64_t>(key.level) + 0x7F4A7C15ULL + (h << 6) + (h >> 2);
    h ^= static_cast<std::uint64_t>(key.column) * 0xBF58476D1CE4E5B9ULL + (h << 6) + (h >> 2);
    h ^= static_cast<std::uint64_t>(key.row) * 0x94D049BB133111EBULL + (h << 6) + (h >> 2);
    return static_cast<std::size_t>(h);
  }
};

std::size_t BytesOf(const Image& tile) { return tile.pixels.size(); }

}  // namespace

struct TileCache::State {
  struct Entry {
    Key key;
    std::shared_ptr<const Image> tile;
  };
  mutable std::mutex lock;
  std::size_t capacity = 0;
  std::size_t bytes = 0;
  std::list<Entry> order;  // most recently used first
  std::unordered_map<Key, std::list<Entry>::iterator, KeyHash> index;
};

TileCache::TileCache(std::size_t capacityBytes) : state_(std::make_unique<State>()) {
  state_->capacity = capacityBytes;
}

TileCache::~TileCache() = default;

std::size_t TileCache::CapacityBytes() const { return state_->capacity; }

std::size_t TileCache::UsedBytes() const {
  std::lock_guard<std::mutex> hold(state_->lock);
  return state_->bytes;
}

std::shared_ptr<const Image> TileCache::Find(std::uint64_t owner, int level, std::int64_t column,
                                             std::int64_t row) {
  std::lock_guard<std::mutex> hold(state_->lock);
  const auto found = state_->index.find(Key{owner, level, column, row});
  if (found == state_->index.end()) return nullptr;
  state_->order.splice(state_->order.begin(), state_->order, found->second);
  return found->second->tile;
}

void TileCache::Keep(std::uint64_t owner, int level, std::int64_t column, std::int64_t row,
                     std::shared_ptr<const Image> tile) {
  if (tile == nullptr) return;
  const std::size_t size = BytesOf(*tile);
  State& s = *state_;
  std::lock_guard<std::mutex> hold(s.lock);
  if (size > s.capacity) return;
  const Key key{owner, level, column, row};
  if (s.index.count(key) != 0) return;  // another thread decoded it first
  s.order.push_front(State::Entry{key, std::move(tile)});
  s.index[key] = s.order.begin();
  s.bytes += size;
  while (s.bytes > s.capacity && !s.order.empty()) {
    s.bytes -= BytesOf(*s.order.back().tile);
    s.index.erase(s.order.back().key);
    s.order.pop_back();
  }
}

void TileCache::Clear() {
  std::lock_guard<std::mutex> hold(state_->lock);
  state_->order.clear();
  state_->index.clear();
  state_->bytes = 0;
}

std::uint64_t TileCache::NewOwner() {
  static std::atomic<std::uint64_t> next{1};
  return next.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace strata
