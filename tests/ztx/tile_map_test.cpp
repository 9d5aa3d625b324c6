#include "strata/ztx/tile_map.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

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

// Level tables answer every lookup exactly as the hash table does: on and off
// the grid, for sparse and scattered levels, hostile positions, many scales,
// and records filed after the tables were built.
struct LayoutCase {
  const char* name;
  int scales;      // distinct scales
  int step;        // grid step of the positions (1: arbitrary positions)
  int count;       // records
  bool scattered;  // positions far apart (a level too sparse for a table)
};

class LevelTableTest : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(LevelTableTest, LookupsMatchTheHashTable) {
  const LayoutCase layout = GetParam();
  std::mt19937 random(11);
  std::uniform_int_distribution<int> cell(0, 40);
  // Far apart, yet with room for the probes beside them.
  std::uniform_int_distribution<int> far(std::numeric_limits<int>::min() / 2,
                                         std::numeric_limits<int>::max() / 2);
  TileMap map;
  std::vector<TileInfo> probes;
  for (int i = 0; i < layout.count; ++i) {
    TileInfo tile;
    tile.scale = 40.0f / static_cast<float>(1 + i % layout.scales);
    tile.x = layout.scattered ? far(random) : -512 + cell(random) * layout.step;
    tile.y = layout.scattered ? far(random) : 768 + cell(random) * layout.step;
    tile.length = i;
    map.Insert(tile);
    probes.push_back(tile);
    probes.push_back({tile.x + 1, tile.y, 0, 0, tile.scale, 0, 0, {}});  // off the grid
    probes.push_back({tile.x + layout.step * 50, tile.y, 0, 0, tile.scale, 0, 0, {}});  // beyond it
  }
  std::vector<const TileInfo*> hashed;
  for (const TileInfo& probe : probes) hashed.push_back(map.Find(probe.scale, probe.x, probe.y));
  map.IndexLevels();
  for (std::size_t i = 0; i < probes.size(); ++i) {
    ASSERT_EQ(map.Find(probes[i].scale, probes[i].x, probes[i].y), hashed[i])
        << probes[i].scale << " " << probes[i].x << " " << probes[i].y;
  }
  TileInfo late;
  late.scale = 40.0f;
  late.x = -512 - 7 * layout.step;
  late.y = 5;
  late.length = -2;
  ASSERT_TRUE(map.Insert(late));
  ASSERT_NE(map.Find(40.0f, late.x, late.y), nullptr);
  EXPECT_EQ(map.Find(40.0f, late.x, late.y)->length, -2);
}

INSTANTIATE_TEST_SUITE_P(Layouts, LevelTableTest,
                         ::testing::Values(LayoutCase{"Regular", 4, 256, 3000, false},
                                           LayoutCase{"OddStep", 3, 240, 2000, false},
                                           LayoutCase{"AnyPosition", 2, 1, 500, false},
                                           LayoutCase{"Scattered", 2, 256, 400, true},
                                           LayoutCase{"ManyScales", 40, 256, 4000, false}),
                         [](const ::testing::TestParamInfo<LayoutCase>& info) {
                           return info.param.name;
                         });

}  // namespace
