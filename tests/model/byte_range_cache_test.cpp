// Which range the byte-range cache gives up when it is full: the least
// recently used one, so that a range read just before the limit is reached
// survives the stores that follow.
#include <gtest/gtest.h>

#include <cstdint>

#include "strata/model/byte_range_cache.h"

namespace {

RangeBytes Range(std::size_t length, unsigned char fill) { return RangeBytes(length, fill); }

// The cache holds three 100-byte ranges; the parameter says which of them is
// read again before two more are stored.
class CacheEvictionTest : public ::testing::TestWithParam<int> {};

TEST_P(CacheEvictionTest, TheLeastRecentlyUsedRangeGoesFirst) {
  ByteRangeCache cache(300);
  const std::uint64_t starts[3] = {0, 1000, 2000};
  for (int i = 0; i < 3; ++i) cache.Store(starts[i], Range(100, static_cast<unsigned char>(i)));
  const int used = GetParam();
  unsigned char out[100];
  ASSERT_TRUE(cache.CopyOut(starts[used], 100, out));
  EXPECT_EQ(out[99], used);

  // The two untouched ranges, oldest first, are the ones that go.
  int untouched[2];
  int n = 0;
  for (int i = 0; i < 3; ++i) {
    if (i != used) untouched[n++] = i;
  }
  cache.Store(3000, Range(100, 3));
  EXPECT_FALSE(cache.Holds(starts[untouched[0]], 100));
  EXPECT_TRUE(cache.Holds(starts[untouched[1]], 100));
  EXPECT_TRUE(cache.Holds(starts[used], 100));
  cache.Store(4000, Range(100, 4));
  EXPECT_FALSE(cache.Holds(starts[untouched[1]], 100));
  EXPECT_TRUE(cache.Holds(starts[used], 100));
  EXPECT_TRUE(cache.Holds(3000, 100));
  EXPECT_TRUE(cache.Holds(4000, 100));
  EXPECT_EQ(cache.Stats().evictions, 2u);
}

INSTANTIATE_TEST_SUITE_P(RangeUsedAgain, CacheEvictionTest, ::testing::Values(0, 1, 2));

}  // namespace
