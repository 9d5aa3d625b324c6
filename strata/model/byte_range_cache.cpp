#include "strata/model/byte_range_cache.h"

#include <algorithm>
#include <cstring>
#include <utility>

using strata::platform::ScopedLock;

namespace {

// Stored ranges may overlap partly; looking this many ranges back from the
// offset finds nearly every holder without walking the whole map.
constexpr int kRangesLookedBack = 4;

}  // namespace

ByteRangeCache::ByteRangeCache(std::size_t limitBytes) : limit_(limitBytes) {
  stats_.limitBytes = limitBytes;
}

ByteRangeCache::RangeMap::iterator ByteRangeCache::Find(std::uint64_t offset, std::size_t length) {
  auto next = ranges_.upper_bound(offset);
  for (int step = 0; step < kRangesLookedBack && next != ranges_.begin(); ++step) {
    --next;
    const std::uint64_t end = next->first + next->second.bytes.size();
    if (end >= offset && end - offset >= length) return next;
  }
  return ranges_.end();
}

bool ByteRangeCache::CopyOut(std::uint64_t offset, std::size_t length, unsigned char* destination) {
  if (!Enabled()) return false;
  ScopedLock guard(lock_);
  const auto found = Find(offset, length);
  if (found == ranges_.end()) {
    ++stats_.misses;
    return false;
  }
  ++stats_.hits;
  ages_.splice(ages_.begin(), ages_, found->second.age);
  if (length > 0) {
    std::memcpy(destination, found->second.bytes.data() + (offset - found->first), length);
  }
  return true;
}

bool ByteRangeCache::Holds(std::uint64_t offset, std::size_t length) {
  if (!Enabled()) return false;
  ScopedLock guard(lock_);
  return Find(offset, length) != ranges_.end();
}

void ByteRangeCache::Erase(RangeMap::iterator range) {
  stats_.storedBytes -= range->second.bytes.size();
  ages_.erase(range->second.age);
  ranges_.erase(range);
}

void ByteRangeCache::Store(std::uint64_t offset, RangeBytes bytes) {
  if (!Enabled() || bytes.empty() || bytes.size() > limit_) return;
  ScopedLock guard(lock_);
  const std::uint64_t end = offset + bytes.size();
  // Drop what the new range covers, including an equal one.
  for (auto covered = ranges_.lower_bound(offset);
       covered != ranges_.end() && covered->first < end;) {
    auto next = std::next(covered);
    if (covered->first + covered->second.bytes.size() <= end) Erase(covered);
    covered = next;
  }
  if (ranges_.count(offset) != 0) return;  // a longer range starts here already
  while (stats_.storedBytes + bytes.size() > limit_ && !ages_.empty()) {
    Erase(ranges_.find(ages_.back()));
    ++stats_.evictions;
  }
  ages_.push_front(offset);
  stats_.storedBytes += bytes.size();
  ranges_.emplace(offset, Range{std::move(bytes), ages_.begin()});
  stats_.peakBytes = std::max(stats_.peakBytes, stats_.storedBytes);
}

void ByteRangeCache::Clear() {
  ScopedLock guard(lock_);
  ranges_.clear();
  ages_.clear();
  stats_.storedBytes = 0;
}

ByteRangeCache::Statistics ByteRangeCache::Stats() {
  ScopedLock guard(lock_);
  Statistics copy = stats_;
  copy.ranges = ranges_.size();
  return copy;
}
