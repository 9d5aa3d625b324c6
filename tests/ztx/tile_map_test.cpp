#include "strata/ztx/tile_map.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>

namespace {

std::string ScaleText(float scale) {
  char text[384];
  std::snprintf(text, sizeof text, "%.9f", static_cast<double>(scale));
  return text;
}

// Scales share a number exactly when their nine-decimal texts are equal,
// across magnitudes where neighbouring floats do and do not print alike.
class ScaleCodeTest : public ::testing::TestWithParam<float> {};

TEST_P(ScaleCodeTest, NeighboursShareACodeExactlyWhenTheirTextsAreEqual) {
  float scale = GetParam();
  for (int step = 0; step < 2000; ++step) {
    const float next = std::nextafter(scale, std::numeric_limits<float>::infinity());
    EXPECT_EQ(TileMap::ScaleCode(scale) == TileMap::ScaleCode(next),
              ScaleText(scale) == ScaleText(next))
        << ScaleText(scale) << " vs " << ScaleText(next);
    scale = next;
  }
}

INSTANTIATE_TEST_SUITE_P(Magnitudes, ScaleCodeTest,
                         ::testing::Values(-1e-9f, 0.0f, 1e-10f, 4.9e-10f, 9.765e-4f, 0.0156249f,
                                           0.015625f, 1.25f, 20.0f, -40.0f, 3e7f));

TEST(ScaleCodeTest, RandomPairsAgreeWithTheirTexts) {
  std::mt19937 random(7);
  std::uniform_real_distribution<float> exponent(-12.0f, 3.0f);
  for (int i = 0; i < 20000; ++i) {
    const float a = std::pow(10.0f, exponent(random));
    const float b = a + a * 1e-7f * static_cast<float>(i % 5);
    EXPECT_EQ(TileMap::ScaleCode(a) == TileMap::ScaleCode(b), ScaleText(a) == ScaleText(b));
  }
  EXPECT_NE(TileMap::ScaleCode(0.0f), TileMap::ScaleCode(-0.0f));  // "-0.000000000"
  EXPECT_EQ(TileMap::ScaleCode(std::nanf("1")), TileMap::ScaleCode(std::nanf("2")));
  EXPECT_NE(TileMap::ScaleCode(std::numeric_limits<float>::infinity()),
            TileMap::ScaleCode(std::numeric_limits<float>::max()));
}

TEST(TileMapTest, FirstRecordPerKeyWinsAndOrderIsKept) {
  TileMap map;
  for (int i = 0; i < 5000; ++i) {
    TileInfo tile;
    tile.scale = i % 2 == 0 ? 20.0f : 10.0f;
    tile.x = (i % 100) * 256;
    tile.y = (i / 200) * 256;
    tile.length = i;
    map.Insert(tile);
  }
  // Within each run of 200 entries (one y) the second hundred repeats the
  // keys of the first.
  ASSERT_EQ(map.size(), 2500u);
  TileInfo again;
  again.scale = 20.0f;
  again.length = -1;
  EXPECT_FALSE(map.Insert(again));
  const TileInfo* found = map.Find(20.0f, 0, 0);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->length, 0);
  EXPECT_EQ(map.Records().back().length, 4899);
  EXPECT_EQ(map.Find(10.0f, 256, 0)->length, 1);
  EXPECT_EQ(map.Find(20.0f, 256, 0), nullptr);
  EXPECT_EQ(map.Find(std::nextafter(20.0f, 0.0f), 0, 0), nullptr);
  map.Clear();
  EXPECT_EQ(map.Find(20.0f, 0, 0), nullptr);
}

}  // namespace
