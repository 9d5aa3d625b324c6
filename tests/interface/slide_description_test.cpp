// Stored levels and property items as CImageOperationManager reports them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "strata/interface/image_operation_manager.h"
#include "strata/ztx/ztx_writer.h"
#include "support/slide_fixtures.h"
#include "support/test_files.h"

namespace {

using Level = CImageOperationManager::StoredLevel;
using Item = CImageOperationManager::PropertyItemView;
using strata::test::SlideRecipe;
using strata::test::TempDir;

struct LevelCase {
  int width;
  int height;
  int levelMode;
  std::vector<Level> expected;  // scale, width, height, tile width, tile height
};

class StoredLevelsTest : public ::testing::TestWithParam<LevelCase> {};

TEST_P(StoredLevelsTest, LevelsFromTheTileMapSizedByTheSlide) {
  TempDir dir;
  SlideRecipe recipe;
  recipe.width = GetParam().width;
  recipe.height = GetParam().height;
  recipe.levelMode = GetParam().levelMode;
  const std::string path = strata::test::MakeSlide(dir, recipe);
  IMAGE_INFO_STRUCT handle{nullptr};
  ASSERT_TRUE(CImageOperationManager::CreateImageFile(path.c_str(), handle, false, FileBlock{}));
  const int count = CImageOperationManager::GetStoredLevels(handle, nullptr, 0);
  ASSERT_EQ(count, static_cast<int>(GetParam().expected.size()));
  // A short array receives the first levels and still learns the count.
  std::vector<Level> levels(static_cast<std::size_t>(count) + 1, Level{-1, -1, -1, -1, -1});
  EXPECT_EQ(CImageOperationManager::GetStoredLevels(handle, levels.data(), 1), count);
  EXPECT_EQ(levels[1].scale, -1.0f);
  EXPECT_EQ(CImageOperationManager::GetStoredLevels(handle, levels.data(), count), count);
  for (int i = 0; i < count; ++i) {
    const Level& want = GetParam().expected[static_cast<std::size_t>(i)];
    EXPECT_FLOAT_EQ(levels[i].scale, want.scale) << i;
    EXPECT_EQ(levels[i].width, want.width) << i;
    EXPECT_EQ(levels[i].height, want.height) << i;
    EXPECT_EQ(levels[i].tileWidth, want.tileWidth) << i;
    EXPECT_EQ(levels[i].tileHeight, want.tileHeight) << i;
  }
  EXPECT_EQ(levels[static_cast<std::size_t>(count)].scale, -1.0f);
  CImageOperationManager::DestoryImageFile(handle);
}

INSTANTIATE_TEST_SUITE_P(
    Slides, StoredLevelsTest,
    ::testing::Values(
        // Odd sizes halve rounding up; the last level fits in one tile.
        LevelCase{1001,
                  703,
                  0,
                  {{20, 1001, 703, 256, 256}, {10, 501, 352, 256, 256}, {5, 251, 176, 256, 256}}},
        LevelCase{200, 100, 0, {{20, 200, 100, 256, 256}}},
        // Mode 1 leaves the half out.
        LevelCase{1001, 703, 1, {{20, 1001, 703, 256, 256}, {5, 251, 176, 256, 256}}}));

TEST(PropertyItemsTest, EveryItemInFileOrder) {
  TempDir dir;
  SlideRecipe recipe;
  recipe.items = {strata::ztx::PropertyItem::Text(29, "SN-1"),
                  strata::ztx::PropertyItem::Int(31, 7)};
  const std::string path = strata::test::MakeSlide(dir, recipe);
  IMAGE_INFO_STRUCT handle{nullptr};
  ASSERT_TRUE(CImageOperationManager::CreateImageFile(path.c_str(), handle, false, FileBlock{}));
  std::vector<Item> items(4);
  const int count = CImageOperationManager::GetPropertyItems(handle, items.data(), 4);
  ASSERT_EQ(count, 2);
  EXPECT_EQ(items[0].identifier, 29);
  // Values end in a zero byte after their length.
  EXPECT_STREQ(reinterpret_cast<const char*>(items[0].value), "SN-1");
  EXPECT_EQ(items[1].identifier, 31);
  ASSERT_EQ(items[1].length, 4);
  EXPECT_EQ(items[1].value[0], 7);
  CImageOperationManager::DestoryImageFile(handle);
}

TEST(SlideDescriptionTest, EmptyHandleReportsMinusOne) {
  IMAGE_INFO_STRUCT empty{nullptr};
  Level level{};
  Item item{};
  EXPECT_EQ(CImageOperationManager::GetStoredLevels(empty, &level, 1), -1);
  EXPECT_EQ(CImageOperationManager::GetPropertyItems(empty, &item, 1), -1);
}

}  // namespace
