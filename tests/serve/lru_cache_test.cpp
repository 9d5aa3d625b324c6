// The server's caches: a cost budget that evicts the least recently used
// entries first, and entries that outlive their eviction while in use.
#include "tools/serve/lru_cache.h"

#include <gtest/gtest.h>

#include <string>

namespace strata::tools::serve {
namespace {

std::shared_ptr<const std::string> Text(const std::string& text) {
  return std::make_shared<const std::string>(text);
}

TEST(LruCacheTest, EvictsTheLeastRecentlyUsedWhenOverBudget) {
  LruCache<const std::string> cache(10);
  cache.Put("a", Text("a"), 4);
  cache.Put("b", Text("b"), 4);
  ASSERT_NE(cache.Find("a"), nullptr);  // a is now the most recent
  cache.Put("c", Text("c"), 4);         // 12 > 10: b goes
  EXPECT_EQ(cache.Find("b"), nullptr);
  EXPECT_NE(cache.Find("a"), nullptr);
  EXPECT_NE(cache.Find("c"), nullptr);
  EXPECT_EQ(cache.used(), 8u);
}

TEST(LruCacheTest, KeepsNothingLargerThanTheBudgetAndReplacesByKey) {
  LruCache<const std::string> cache(10);
  cache.Put("big", Text("big"), 11);
  EXPECT_EQ(cache.Find("big"), nullptr);
  EXPECT_EQ(cache.used(), 0u);
  cache.Put("k", Text("old"), 6);
  cache.Put("k", Text("new"), 3);
  EXPECT_EQ(*cache.Find("k"), "new");
  EXPECT_EQ(cache.used(), 3u);
  LruCache<const std::string> none(0);
  none.Put("x", Text("x"), 1);
  EXPECT_EQ(none.Find("x"), nullptr);
}

TEST(LruCacheTest, AnEvictedEntryLivesWhileItIsUsed) {
  LruCache<const std::string> cache(1);
  cache.Put("a", Text("first"), 1);
  std::shared_ptr<const std::string> held = cache.Find("a");
  cache.Put("b", Text("second"), 1);
  EXPECT_EQ(cache.Find("a"), nullptr);
  EXPECT_EQ(*held, "first");
}

}  // namespace
}  // namespace strata::tools::serve
