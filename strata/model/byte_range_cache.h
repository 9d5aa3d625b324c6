// A bounded cache of byte ranges of one remote object, evicting the least
// recently used range first. A read is served only when one stored range
// holds all of it. Safe to use from several threads at once.
#ifndef STRATA_MODEL_BYTE_RANGE_CACHE_H_
#define STRATA_MODEL_BYTE_RANGE_CACHE_H_

#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <vector>

#include "strata/slide_types.h"
#include "strata/platform/lock.h"

// Sized first, then filled by the transfer that fetches the range.
using RangeBytes = strata::UninitializedBytes;

class ByteRangeCache {
 public:
  struct Statistics {
    std::uint64_t hits = 0;
    std::uint64_t misses = 0;
    std::uint64_t storedBytes = 0;  // now
    std::uint64_t peakBytes = 0;    // the most ever stored at once
    std::uint64_t limitBytes = 0;
    std::uint64_t ranges = 0;  // stored now
    std::uint64_t evictions = 0;
  };

  // A limit of 0 turns the cache off: nothing is stored, every lookup misses.
  explicit ByteRangeCache(std::size_t limitBytes);
  ByteRangeCache(const ByteRangeCache&) = delete;
  ByteRangeCache& operator=(const ByteRangeCache&) = delete;

  bool Enabled() const { return limit_ > 0; }
  std::size_t Limit() const { return limit_; }

  // Copies bytes offset .. offset + length - 1 to `destination` when one
  // stored range holds them all; counts a hit or a miss.
  bool CopyOut(std::uint64_t offset, std::size_t length, unsigned char* destination);
  // True when one stored range holds the bytes; counts nothing.
  bool Holds(std::uint64_t offset, std::size_t length);
  // Keeps `bytes` as the range starting at `offset`, dropping stored ranges
  // it covers and, oldest first, whatever no longer fits. Ranges larger than
  // the limit are not kept.
  void Store(std::uint64_t offset, RangeBytes bytes);
  void Clear();
  Statistics Stats();

 private:
  struct Range {
    RangeBytes bytes;
    std::list<std::uint64_t>::iterator age;
  };
  using RangeMap = std::map<std::uint64_t, Range>;

  // The stored range holding the bytes, or end(). Caller holds the lock.
  RangeMap::iterator Find(std::uint64_t offset, std::size_t length);
  void Erase(RangeMap::iterator range);

  const std::size_t limit_;
  strata::platform::Lock lock_;
  RangeMap ranges_;
  std::list<std::uint64_t> ages_;  // front: most recently used start
  Statistics stats_;
};

#endif  // STRATA_MODEL_BYTE_RANGE_CACHE_H_
