// The C interface over real ZTX slides written by the project's writer.
#include "strata/strata.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "strata/interface/image_operation_manager.h"
#include "strata/model/data_file.h"
#include "strata/ztx/ztx_data_file.h"
#include "support/slide_fixtures.h"
#include "support/test_files.h"

namespace {

using strata::test::MakeSlide;
using strata::test::SlideRecipe;
using strata::test::TempDir;
namespace ztx = strata::ztx;

class SlideExportsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SlideRecipe recipe;
    recipe.items = {ztx::PropertyItem::Text(29, "SCN-0042"), ztx::PropertyItem::Int(31, 4),
                    ztx::PropertyItem::Int(32, 9)};
    path_ = MakeSlide(dir_, recipe);
    ASSERT_FALSE(path_.empty());
  }

  TempDir dir_;
  std::string path_;
};

TEST_F(SlideExportsTest, OpensAsZtxAndReportsHeightBeforeWidth) {
  IMAGE_INFO_STRUCT handle{};
  ASSERT_TRUE(InitImageFileFunc(&handle, path_.c_str()));
  ASSERT_NE(dynamic_cast<CZTXDataFile*>(handle.slide), nullptr);
  int height = 0, width = 0, scanScale = 0, blockSize = 0;
  float spendTime = -1, captureResolution = -1;
  double scanTime = -1;
  ASSERT_TRUE(GetHeaderInfoFunc(handle, &height, &width, &scanScale, &spendTime, &scanTime,
                                &captureResolution, &blockSize));
  EXPECT_EQ(height, 700);
  EXPECT_EQ(width, 1000);
  EXPECT_EQ(scanScale, 20);
  EXPECT_EQ(blockSize, 256);
  float version = 0;
  ASSERT_TRUE(GetVersionInfoFunc(&handle, &version));
  EXPECT_FLOAT_EQ(version, 1.3f);
  EXPECT_TRUE(UnInitImageFileFunc(&handle));
  EXPECT_EQ(handle.slide, nullptr);
}

TEST_F(SlideExportsTest, PropertyItemsReachTheCaller) {
  IMAGE_INFO_STRUCT handle{};
  ASSERT_TRUE(InitImageFileFunc(&handle, path_.c_str()));
  char serial[64];
  std::memset(serial, 'x', sizeof serial);
  ASSERT_TRUE(GetMachineSerialNumFunc(&handle, serial));
  EXPECT_STREQ(serial, "SCN-0042");
  char small[5];
  ASSERT_TRUE(CImageOperationManager::GetMachineSerialNum(handle, small, sizeof small));
  EXPECT_STREQ(small, "SCN-");
  int first = 0, second = 0;
  ASSERT_TRUE(GetScanLevelInfoFunc(&handle, &first, &second));
  EXPECT_EQ(first, 9);   // item 32
  EXPECT_EQ(second, 4);  // item 31
  EXPECT_TRUE(UnInitImageFileFunc(&handle));
}

TEST_F(SlideExportsTest, BlockOpenWithZeroEdgesLoadsTheHeaderOnly) {
  IMAGE_INFO_STRUCT handle{};
  ASSERT_TRUE(InitImageFileFuncAsBlock(&handle, path_.c_str(), 0, 0, 0, 0, 0.0f));
  int height = 0, width = 0, scanScale = 0, blockSize = 0;
  float spendTime = 0, captureResolution = 0;
  double scanTime = 0;
  ASSERT_TRUE(GetHeaderInfoFunc(handle, &height, &width, &scanScale, &spendTime, &scanTime,
                                &captureResolution, &blockSize));
  EXPECT_EQ(width, 1000);
  std::vector<unsigned char> tile(256 * 256 * 3);
  unsigned char* buffer = tile.data();
  int length = -1;
  EXPECT_EQ(GetImageStreamFunc(&handle, 20.0f, 0, 0, &length, &buffer), nullptr);
  EXPECT_EQ(length, 0);  // no tile was loaded
  EXPECT_TRUE(UnInitImageFileFunc(&handle));
}

TEST_F(SlideExportsTest, TileStreamArrivesInTheCallersBuffer) {
  IMAGE_INFO_STRUCT handle{};
  ASSERT_TRUE(InitImageFileFunc(&handle, path_.c_str()));
  std::vector<unsigned char> tile(256 * 256 * 3, 0);
  unsigned char* buffer = tile.data();
  int length = 0;
  EXPECT_EQ(GetImageStreamFunc(&handle, 20.0f, 256, 0, &length, &buffer), nullptr);
  ASSERT_GT(length, 2);
  EXPECT_EQ(buffer, tile.data());
  EXPECT_EQ(tile[0], 0xFF);
  EXPECT_EQ(tile[1], 0xD8);
  EXPECT_TRUE(UnInitImageFileFunc(&handle));
}

TEST_F(SlideExportsTest, RegionIsHandedOutAndReleasedThroughTheInterface) {
  IMAGE_INFO_STRUCT handle{};
  ASSERT_TRUE(InitImageFileFunc(&handle, path_.c_str()));
  unsigned char* out = nullptr;
  int length = 0;
  ASSERT_TRUE(GetImageDataRoiFunc(handle, 20.0f, 100, 50, 64, 32, &out, &length, false));
  EXPECT_EQ(length, 64 * 32 * 3);
  EXPECT_TRUE(DeleteImageDataFunc(out));
  EXPECT_TRUE(UnInitImageFileFunc(&handle));
}

TEST_F(SlideExportsTest, LabelByPathAndByHandle) {
  unsigned char* data = nullptr;
  int length = 0, width = 0, height = 0;
  ASSERT_TRUE(GetLableInfoPathFunc(path_.c_str(), &data, &length, &width, &height));
  EXPECT_GT(length, 0);
  EXPECT_EQ(width, strata::test::kLabelWidth);
  EXPECT_EQ(height, strata::test::kLabelHeight);
  const std::vector<unsigned char> byPath(data, data + length);
  EXPECT_TRUE(DeleteImageDataFunc(data));

  IMAGE_INFO_STRUCT handle{};
  ASSERT_TRUE(InitImageFileFunc(&handle, path_.c_str()));
  data = nullptr;
  ASSERT_TRUE(GetLableInfoFunc(handle, &data, &length, &width, &height));
  EXPECT_EQ(std::vector<unsigned char>(data, data + length), byPath);
  EXPECT_TRUE(DeleteImageDataFunc(data));
  EXPECT_TRUE(UnInitImageFileFunc(&handle));
}

// Names decide where they say something (case-sensitively); where they say
// nothing, the content does: a capital extension or none at all.
TEST_F(SlideExportsTest, NamesThatSayNothingLeaveTheChoiceToTheContent) {
  for (const char* name : {"SLIDE.ZTX", "noext"}) {
    const std::string copy = dir_.File(name);
    std::filesystem::copy_file(path_, copy);
    IMAGE_INFO_STRUCT handle{};
    EXPECT_TRUE(InitImageFileFunc(&handle, copy.c_str())) << name;
    EXPECT_TRUE(UnInitImageFileFunc(&handle));
  }
  const std::string text = dir_.File("notes.ZTX");
  std::ofstream(text) << "not a slide\n";
  IMAGE_INFO_STRUCT handle{};
  EXPECT_FALSE(InitImageFileFunc(&handle, text.c_str()));
  EXPECT_EQ(handle.slide, nullptr);
  unsigned char* data = nullptr;
  int length = -1, width = -1, height = -1;
  EXPECT_FALSE(GetLableInfoPathFunc(text.c_str(), &data, &length, &width, &height));
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(length, 0);
}

TEST_F(SlideExportsTest, HandlesAreIndependent) {
  IMAGE_INFO_STRUCT first{};
  IMAGE_INFO_STRUCT second{};
  ASSERT_TRUE(InitImageFileFunc(&first, path_.c_str()));
  ASSERT_TRUE(InitImageFileFunc(&second, path_.c_str()));
  EXPECT_NE(first.slide, second.slide);
  EXPECT_TRUE(UnInitImageFileFunc(&first));
  float version = 0;
  EXPECT_TRUE(GetVersionInfoFunc(&second, &version));
  EXPECT_FALSE(GetVersionInfoFunc(&first, &version));
  EXPECT_TRUE(UnInitImageFileFunc(&second));
}

TEST(MultiChannelSlideTest, ChannelIdentifiersStayWithTheSlide) {
  TempDir dir;
  SlideRecipe recipe;
  recipe.channelCount = 3;
  recipe.width = 600;
  recipe.height = 400;
  ztx::ZtxWriterOptions options = strata::test::OptionsFor(recipe);
  options.channelNames = {"DAPI", "FITC", "TRITC"};
  const std::string path =
      strata::test::MakeSlideWithOptions(dir, "channels.ztx", 600, 400, options);
  ASSERT_FALSE(path.empty());
  IMAGE_INFO_STRUCT handle{};
  ASSERT_TRUE(InitImageFileFunc(&handle, path.c_str()));
  int count = 0;
  char* ids[6] = {};
  ASSERT_TRUE(GetImageChannelIdentifierFunc(&handle, &count, &ids[0], &ids[1], &ids[2], &ids[3],
                                            &ids[4], &ids[5]));
  EXPECT_EQ(count, 3);
  EXPECT_STREQ(ids[0], "DAPI");
  EXPECT_STREQ(ids[1], "FITC");
  EXPECT_STREQ(ids[2], "TRITC");
  for (int i = 3; i < 6; ++i) {
    ASSERT_NE(ids[i], nullptr);
    EXPECT_STREQ(ids[i], "");
  }
  EXPECT_TRUE(UnInitImageFileFunc(&handle));
}

}  // namespace
