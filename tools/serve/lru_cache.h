// A thread-safe least-recently-used map with a cost budget: entries are
// shared, so one evicted while a request still uses it lives until that
// request lets go.
#ifndef STRATA_TOOLS_SERVE_LRU_CACHE_H_
#define STRATA_TOOLS_SERVE_LRU_CACHE_H_

#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>

namespace strata::tools::serve {

template <typename Value>
class LruCache {
 public:
  // `budget` bounds the summed cost of the entries; an entry that costs more
  // than the whole budget is not kept.
  explicit LruCache(std::size_t budget) : budget_(budget) {}

  std::shared_ptr<Value> Find(const std::string& key) {
    std::lock_guard<std::mutex> hold(mutex_);
    const auto found = index_.find(key);
    if (found == index_.end()) return nullptr;
    order_.splice(order_.begin(), order_, found->second);
    return found->second->value;
  }

  void Put(const std::string& key, std::shared_ptr<Value> value, std::size_t cost) {
    if (value == nullptr || cost > budget_) return;
    std::lock_guard<std::mutex> hold(mutex_);
    const auto found = index_.find(key);
    if (found != index_.end()) Erase(found->second);
    order_.push_front(Entry{key, std::move(value), cost});
    index_[key] = order_.begin();
    used_ += cost;
    while (used_ > budget_) Erase(std::prev(order_.end()));
  }

  std::size_t used() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return used_;
  }

 private:
  struct Entry {
    std::string key;
    std::shared_ptr<Value> value;
    std::size_t cost;
  };
  using Position = typename std::list<Entry>::iterator;

  void Erase(Position position) {
    used_ -= position->cost;
    index_.erase(position->key);
    order_.erase(position);
  }

  const std::size_t budget_;
  mutable std::mutex mutex_;
  std::list<Entry> order_;  // most recently used first
  std::unordered_map<std::string, Position> index_;
  std::size_t used_ = 0;
};

}  // namespace strata::tools::serve

#endif  // STRATA_TOOLS_SERVE_LRU_CACHE_H_
