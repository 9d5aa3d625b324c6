// TMAP slides through the stand-in SDK (tests/standins), driven through the
// library's exports.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foreign/foreign_test_util.h"
#include "strata/foreign/iviewer_sdk.h"
#include "strata/platform/dynamic_library.h"

namespace strata::test {
namespace {

const char kTmapPath[] = "/slides/case.TMAP";

struct SdkRecord {
  int opens = 0, closes = 0, openSlides = 0;
  std::string lastPath;
  int rect[4] = {};
  int scale = 0, flag = 0;
};

class UniciTest : public ::testing::Test {
 protected:
  UniciTest() : probe_("libiViewerSDK.so") {}
  void SetUp() override {
    UseStandinLibraries();
    ASSERT_TRUE(probe_.Loaded());
  }
  void TearDown() override { EXPECT_EQ(Record().openSlides, 0); }

  SdkRecord Record() const {
    SdkRecord record;
    char path[512];
    reinterpret_cast<void (*)(int*, int*, int*, char*, int, int*, int*, int*)>(
        probe_.Symbol("StandinSdkRecord"))(&record.opens, &record.closes, &record.openSlides, path,
                                           sizeof path, record.rect, &record.scale, &record.flag);
    record.lastPath = path;
    return record;
  }

  StandinProbe probe_;
};

TEST_F(UniciTest, DecoratedNamesMapToTheLinuxExports) {
  const char* const names[][2] = {
      {strata::iviewer::kOpenTmapFile, "_Z12OpenTmapFile7CStringRPv"},
      {strata::iviewer::kGetOrgScale, "_Z11GetOrgScalePv"},
      {strata::iviewer::kGetWholeImgInfo, "_Z15GetWholeImgInfoPvRiS0_S0_"},
      {strata::iviewer::kGetROIData, "_Z10GetROIDataPvP7tagRECTiRiS2_i"},
      {strata::iviewer::kCloseTmapFile, "_Z13CloseTmapFilePv"}};
  for (const auto& name : names) {
    EXPECT_STREQ(platform::PlatformSymbolName(name[0]), name[1]);
    // The stand-in declares the functions with the SDK header's types.
    EXPECT_NE(probe_.Symbol(name[0]), nullptr) << name[0];
  }
  EXPECT_STREQ(platform::PlatformSymbolName("InitImageFileFunc"), "InitImageFileFunc");
  EXPECT_STREQ(platform::PlatformSymbolName("?GetPixelSize@@YAMPAX@Z"), "?GetPixelSize@@YAMPAX@Z");
}

TEST_F(UniciTest, OpensThePathAndReportsTheSdkHeader) {
  OpenSlide slide(kTmapPath);
  ASSERT_TRUE(slide.opened());
  EXPECT_EQ(Record().lastPath, kTmapPath);
  int height = 0, width = 0, scanScale = 0, blockSize = 0;
  float spendTime = -1, resolution = -1, version = 0;
  double scanTime = -1;
  ASSERT_TRUE(GetHeaderInfoFunc(slide.handle(), &height, &width, &scanScale, &spendTime, &scanTime,
                                &resolution, &blockSize));
  EXPECT_EQ(height, 3000);
  EXPECT_EQ(width, 4000);
  EXPECT_EQ(scanScale, 40);
  EXPECT_EQ(spendTime, 0.0f);
  EXPECT_EQ(scanTime, 0.0);
  EXPECT_EQ(resolution, 0.0f);
  EXPECT_EQ(blockSize, 256);
  EXPECT_TRUE(GetVersionInfoFunc(&slide.handle(), &version));
  EXPECT_EQ(version, 1.0f);
  int first = 0, second = 0;
  GetScanLevelInfoFunc(&slide.handle(), &first, &second);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 1);
  int channels = 0;
  char* ids[6] = {};
  GetImageChannelIdentifierFunc(&slide.handle(), &channels, &ids[0], &ids[1], &ids[2], &ids[3],
                                &ids[4], &ids[5]);
  EXPECT_EQ(channels, 1);
  for (char* id : ids) EXPECT_STREQ(id, "");
}

// Every request answers with the SDK's region (10, 10)-(110, 110) at 20x.
TEST_F(UniciTest, EveryTileIsTheSameFixedRegion) {
  std::vector<unsigned char> pixels(100 * 100 * 3);
  for (int j = 0; j < 100; ++j) {
    for (int i = 0; i < 100; ++i) {
      unsigned char* pixel = &pixels[(j * 100 + i) * 3];
      pixel[0] = static_cast<unsigned char>((10 + i) * 2);
      pixel[1] = static_cast<unsigned char>((10 + j) * 2);
      pixel[2] = static_cast<unsigned char>(i + j);
    }
  }
  const std::vector<unsigned char> expected = EncodeLikeLibrary(pixels, 100, 100);

  OpenSlide slide(kTmapPath);
  ASSERT_TRUE(slide.opened());
  const float scales[] = {40.0f, 5.0f, 0.5f};
  const int positions[][2] = {{0, 0}, {2048, 512}, {-256, 99999}};
  for (float scale : scales) {
    for (const auto& position : positions) {
      EXPECT_EQ(TileStream(slide.handle(), scale, position[0], position[1]), expected);
    }
  }
  const SdkRecord record = Record();
  EXPECT_EQ(std::vector<int>(record.rect, record.rect + 4), (std::vector<int>{10, 10, 110, 110}));
  EXPECT_EQ(record.scale, 20);
  EXPECT_EQ(record.flag, 1);
}

// A window the SDK cannot give, or one it says is larger than the buffer it
// returned, yields no tile (nothing is encoded from beyond the buffer).
TEST_F(UniciTest, TileWithoutUsableSdkWindowIsEmpty) {
  OpenSlide slide(kTmapPath);
  ASSERT_TRUE(slide.opened());
  for (const char* fault : {"GetROIData:fail", "GetROIData:oversize"}) {
    ScopedFault scoped(fault);
    unsigned char* buffer = nullptr;
    int length = -1;
    GetImageStreamFunc(&slide.handle(), 20.0f, 0, 0, &length, &buffer);
    EXPECT_EQ(length, 0) << fault;
    EXPECT_EQ(buffer, nullptr) << fault;
  }
}

TEST_F(UniciTest, RegionSucceedsWithoutWriting) {
  OpenSlide slide(kTmapPath);
  ASSERT_TRUE(slide.opened());
  unsigned char sentinel = 0;
  unsigned char* out = &sentinel;
  int length = 5;
  EXPECT_TRUE(GetImageDataRoiFunc(slide.handle(), 20.0f, 0, 0, 64, 64, &out, &length, true));
  EXPECT_EQ(out, &sentinel);
  EXPECT_EQ(length, 5);
}

TEST_F(UniciTest, AssociatedImagesAreEmptySuccesses) {
  OpenSlide slide(kTmapPath);
  ASSERT_TRUE(slide.opened());
  unsigned char* data = nullptr;
  int length = 0, width = 0, height = 0;
  EXPECT_TRUE(GetLableInfoFunc(slide.handle(), &data, &length, &width, &height));
  EXPECT_TRUE(GetPriviewInfoFunc(slide.handle(), &data, &length, &width, &height));
  EXPECT_FALSE(GetThumnailImageFunc(slide.handle(), &data, &length, &width, &height));
  EXPECT_TRUE(GetLableInfoPathFunc(kTmapPath, &data, &length, &width, &height));
  EXPECT_TRUE(GetThumnailImagePathFunc(kTmapPath, &data, &length, &width, &height));
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(length, 0);
}

TEST_F(UniciTest, ClosingClosesTheSdkSlide) {
  const SdkRecord before = Record();
  {
    OpenSlide slide(kTmapPath);
    ASSERT_TRUE(slide.opened());
    EXPECT_EQ(Record().openSlides, 1);
  }
  const SdkRecord after = Record();
  EXPECT_EQ(after.opens, before.opens + 1);
  EXPECT_EQ(after.closes, before.closes + 1);
}

TEST_F(UniciTest, FailedOpenOrHeaderFailsCleanly) {
  {
    ScopedFault fault("OpenTmapFile:null");
    OpenSlide slide(kTmapPath);
    EXPECT_FALSE(slide.opened());
  }
  ScopedFault fault("GetWholeImgInfo:negative");
  OpenSlide slide(kTmapPath);
  ASSERT_TRUE(slide.opened());
  int h, w, s, b;
  float t, r;
  double when;
  EXPECT_FALSE(GetHeaderInfoFunc(slide.handle(), &h, &w, &s, &t, &when, &r, &b));
}

// The class table matches ".TMAP" exactly: other spellings are not opened.
TEST_F(UniciTest, LowerCaseExtensionIsNotOpened) {
  const int opens = Record().opens;
  for (const char* path : {"/slides/case.tmap", "/slides/case.Tmap"}) {
    OpenSlide slide(path);
    EXPECT_FALSE(slide.opened()) << path;
  }
  EXPECT_EQ(Record().opens, opens);
}

}  // namespace
}  // namespace strata::test
