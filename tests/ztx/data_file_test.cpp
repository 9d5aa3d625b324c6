// The ZTX slide object end to end on writer-made slides: open through the C
// exports and directly, header facts, every stored tile byte for byte, tile
// pixels, block opens, scan time and duration, and missing-level tiles.
#include "strata/ztx/ztx_data_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "strata/model/image_buffer.h"
#include "strata/model/image_codec.h"
#include "strata/strata.h"
#include "strata/ztx/ztx_header.h"
#include "support/slide_fixtures.h"
#include "support/test_files.h"
#include "ztx/reader_test_util.h"

namespace strata::test::reader {
namespace {

Bytes FileSlice(const Bytes& file, std::int64_t start, int length) {
  if (start < 0 || length <= 0 || static_cast<std::size_t>(start) + length > file.size()) return {};
  return Bytes(file.begin() + start, file.begin() + start + length);
}

struct SlideCase {
  const char* name;
  float version;
  bool longMagic;
  ztx::TileEncoding encoding;
  bool compressed;
};

class SlideRoundTripTest : public ::testing::TestWithParam<SlideCase> {
 protected:
  void SetUp() override {
    recipe_.version = GetParam().version;
    recipe_.longMagic = GetParam().longMagic;
    recipe_.encoding = GetParam().encoding;
    recipe_.compressIndex = GetParam().compressed;
    recipe_.captureResolution = 0.25f;
    recipe_.scanTime = 1600000000;
    recipe_.spendTimeMs = 3723456;
    if (recipe_.version > 1.15f) {
      recipe_.items = {ztx::PropertyItem::Text(29, "SN-0042"), ztx::PropertyItem::Int(32, 5),
                       ztx::PropertyItem::Int(31, 9)};
    }
    path_ = MakeSlide(dir_, recipe_, &layout_);
    ASSERT_FALSE(path_.empty());
    file_ = ReadFileBytes(path_);
  }

  TempDir dir_;
  SlideRecipe recipe_;
  ztx::ZtxLayout layout_;
  std::string path_;
  Bytes file_;
};

TEST_P(SlideRoundTripTest, ExportsReportTheWrittenHeader) {
  OpenHandle open;
  ASSERT_TRUE(InitImageFileFunc(&open.handle, path_.c_str()));
  ASSERT_NE(open.handle.slide, nullptr);
  int height = 0, width = 0, scanScale = 0, blockSize = 0;
  float spendTime = -1.0f, captureResolution = 0.0f, version = 0.0f;
  double scanTime = -1.0;
  ASSERT_TRUE(GetHeaderInfoFunc(open.handle, &height, &width, &scanScale, &spendTime, &scanTime,
                                &captureResolution, &blockSize));
  EXPECT_EQ(height, recipe_.height);
  EXPECT_EQ(width, recipe_.width);
  EXPECT_EQ(scanScale, recipe_.scanScale);
  EXPECT_EQ(blockSize, 256);
  EXPECT_EQ(captureResolution, 0.25f);
  const bool hasTimes = recipe_.version > 1.15f;
  const bool is10 = recipe_.version < 1.05f;
  EXPECT_EQ(spendTime, hasTimes ? 3723456.0f : 0.0f);
  EXPECT_EQ(scanTime, hasTimes || is10 ? 1600000000.0 : 0.0);
  ASSERT_TRUE(GetVersionInfoFunc(&open.handle, &version));
  EXPECT_EQ(version, recipe_.version);
  char serial[32] = "unset";
  ASSERT_TRUE(GetMachineSerialNumFunc(&open.handle, serial));
  EXPECT_STREQ(serial, hasTimes ? "SN-0042" : "");
  int first = -1, second = -1;
  ASSERT_TRUE(GetScanLevelInfoFunc(&open.handle, &first, &second));
  EXPECT_EQ(first, hasTimes ? 5 : 0);
  EXPECT_EQ(second, hasTimes ? 9 : 0);
}

TEST_P(SlideRoundTripTest, EveryStoredTileComesBackByteForByte) {
  OpenHandle open;
  ASSERT_TRUE(InitImageFileFunc(&open.handle, path_.c_str()));
  ASSERT_FALSE(layout_.tiles.empty());
  std::vector<unsigned char> buffer(256 * 256 * 3 + 64);
  for (const ztx::WrittenTile& tile : layout_.tiles) {
    unsigned char* out = buffer.data();
    int length = -1;
    EXPECT_EQ(GetImageStreamFunc(&open.handle, tile.scale, tile.x, tile.y, &length, &out), nullptr);
    ASSERT_EQ(length, tile.length) << tile.scale << " " << tile.x << " " << tile.y;
    EXPECT_EQ(out, buffer.data());
    const Bytes expected = FileSlice(file_, layout_.indexOffset + tile.offset, tile.length);
    ASSERT_FALSE(expected.empty());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buffer.begin()))
        << tile.scale << " " << tile.x << " " << tile.y;
  }
}

TEST_P(SlideRoundTripTest, MissingTilesGiveLengthZeroAndLeaveTheBuffer) {
  OpenHandle open;
  ASSERT_TRUE(InitImageFileFunc(&open.handle, path_.c_str()));
  unsigned char buffer[64];
  std::memset(buffer, 0x5C, sizeof buffer);
  struct Request {
    float scale;
    int x;
    int y;
  };
  for (const Request& request :
       {Request{20.0f, 1, 0}, Request{20.0f, 0, 100000}, Request{19.9999f, 0, 0},
        Request{3.0f, 0, 0}, Request{0.0f, 0, 0}, Request{-20.0f, 0, 0}}) {
    unsigned char* out = buffer;
    int length = 1234;
    GetImageStreamFunc(&open.handle, request.scale, request.x, request.y, &length, &out);
    EXPECT_EQ(length, 0) << request.scale << " " << request.x << " " << request.y;
    EXPECT_EQ(out, buffer);
  }
  for (unsigned char byte : buffer) ASSERT_EQ(byte, 0x5C);
}

TEST_P(SlideRoundTripTest, NullBufferOnlyReportsTheStoredLength) {
  int result = 0;
  auto slide = OpenLoaded(path_, &result);
  ASSERT_EQ(result, 0);
  const ztx::WrittenTile& tile = layout_.tiles.front();
  int length = -1;
  slide->ReadTileStream(tile.scale, tile.x, tile.y, length, nullptr);
  EXPECT_EQ(length, tile.length);
  unsigned char* none = nullptr;
  length = -1;
  slide->ReadTileStream(tile.scale, tile.x, tile.y, length, &none);
  EXPECT_EQ(length, tile.length);
  EXPECT_EQ(none, nullptr);
}

TEST_P(SlideRoundTripTest, TilePixelsMatchTheBaseImage) {
  int result = 0;
  auto slide = OpenLoaded(path_, &result);
  ASSERT_EQ(result, 0);
  const Bytes base = ExpectedBaseImage(recipe_.width, recipe_.height);
  const int x0 = 256;
  const int y0 = 256;
  const TileInfo* stored = slide->FindTile(static_cast<float>(recipe_.scanScale), x0, y0);
  ASSERT_NE(stored, nullptr);
  unsigned char* out = AllocateBuffer(static_cast<std::size_t>(stored->length));
  int length = 0, width = 0, height = 0;
  slide->ReadTilePixels(static_cast<float>(recipe_.scanScale), x0, y0, length, width, height, &out);
  LibraryBytes pixels(out);
  ASSERT_NE(out, nullptr);
  ASSERT_EQ(width, 256);
  ASSERT_EQ(height, 256);
  ASSERT_EQ(length, 256 * 256 * 3);
  const bool exact = recipe_.encoding == ztx::TileEncoding::kBmp;
  long long difference = 0;
  for (int y = 0; y < 256; ++y) {
    for (int x = 0; x < 256; ++x) {
      for (int c = 0; c < 3; ++c) {
        const int got = out[(static_cast<std::size_t>(y) * 256 + x) * 3 + c];
        const int want = base[(static_cast<std::size_t>(y0 + y) * recipe_.width + x0 + x) * 3 + c];
        if (exact) {
          ASSERT_EQ(got, want) << x << "," << y << "," << c;
        }
        difference += std::abs(got - want);
      }
    }
  }
  EXPECT_LT(static_cast<double>(difference) / (256.0 * 256.0 * 3.0), exact ? 0.001 : 6.0);
}

TEST_P(SlideRoundTripTest, BlockOpenLoadsOnlyTheBlocksTiles) {
  OpenHandle open;
  ASSERT_TRUE(InitImageFileFuncAsBlock(&open.handle, path_.c_str(), 256, 0, 768, 512, 20.0f));
  auto* slide = dynamic_cast<CZTXDataFile*>(open.handle.slide);
  ASSERT_NE(slide, nullptr);
  EXPECT_EQ(slide->TileCount(), 4u);
  std::vector<unsigned char> buffer(256 * 256 * 3 + 64);
  for (const ztx::WrittenTile& tile : layout_.tiles) {
    unsigned char* out = buffer.data();
    int length = -1;
    GetImageStreamFunc(&open.handle, tile.scale, tile.x, tile.y, &length, &out);
    const bool inside = tile.scale == 20.0f && tile.x >= 256 && tile.x + tile.width <= 768 &&
                        tile.y + tile.height <= 512;
    EXPECT_EQ(length, inside ? tile.length : 0) << tile.scale << " " << tile.x << " " << tile.y;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Slides, SlideRoundTripTest,
    ::testing::Values(SlideCase{"V10Jpeg", 1.0f, false, ztx::TileEncoding::kJpeg, false},
                      SlideCase{"V10Bmp", 1.0f, false, ztx::TileEncoding::kBmp, false},
                      SlideCase{"V11Jpeg", 1.1f, false, ztx::TileEncoding::kJpeg, false},
                      SlideCase{"V11Packed", 1.1f, false, ztx::TileEncoding::kJpeg, true},
                      SlideCase{"V12Bmp", 1.2f, false, ztx::TileEncoding::kBmp, false},
                      SlideCase{"V13Jpeg", 1.3f, false, ztx::TileEncoding::kJpeg, false},
                      SlideCase{"V13LongMagicPacked", 1.3f, true, ztx::TileEncoding::kJpeg, true},
                      SlideCase{"V17Bmp", 1.7f, false, ztx::TileEncoding::kBmp, true},
                      SlideCase{"V20LongMagic", 2.0f, true, ztx::TileEncoding::kJpeg, false}),
    [](const ::testing::TestParamInfo<SlideCase>& info) { return info.param.name; });

TEST(ChannelIdentifierTest, CountAndNamesComeFromTheItems) {
  SlideRecipe recipe;
  recipe.channelCount = 3;
  TempDir dir;
  ztx::ZtxWriterOptions options = OptionsFor(recipe);
  options.channelNames = {"DAPI", "FITC", "TRITC"};
  const std::string path = MakeSlideWithOptions(dir, "channels.ztx", 600, 400, options);
  ASSERT_FALSE(path.empty());
  OpenHandle open;
  ASSERT_TRUE(InitImageFileFunc(&open.handle, path.c_str()));
  int count = -1;
  char* ids[6] = {};
  ASSERT_TRUE(GetImageChannelIdentifierFunc(&open.handle, &count, &ids[0], &ids[1], &ids[2],
                                            &ids[3], &ids[4], &ids[5]));
  EXPECT_EQ(count, 3);
  EXPECT_STREQ(ids[0], "DAPI");
  EXPECT_STREQ(ids[1], "FITC");
  EXPECT_STREQ(ids[2], "TRITC");
  for (int i = 3; i < 6; ++i) {
    ASSERT_NE(ids[i], nullptr);
    EXPECT_STREQ(ids[i], "");
  }
}

// --- pixels ---

class TilePixelsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SlideRecipe recipe;
    recipe.encoding = ztx::TileEncoding::kBmp;
    path_ = MakeSlide(dir_, recipe, &layout_);
    ASSERT_FALSE(path_.empty());
    int result = 0;
    slide_ = OpenLoaded(path_, &result);
    ASSERT_EQ(result, 0);
  }

  TempDir dir_;
  ztx::ZtxLayout layout_;
  std::string path_;
  std::unique_ptr<CZTXDataFile> slide_;
};

TEST_F(TilePixelsTest, MissingTileReleasesTheCallersBufferAndReportsNothing) {
  unsigned char* out = AllocateBuffer(1024);
  int length = 5, width = 5, height = 5;
  slide_->ReadTilePixels(20.0f, 3, 0, length, width, height, &out);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(width, 0);
  EXPECT_EQ(height, 0);
}

TEST_F(TilePixelsTest, WithoutACallerBufferTheStreamIsFetchedInternally) {
  unsigned char* out = nullptr;
  int length = 0, width = 0, height = 0;
  slide_->ReadTilePixels(10.0f, 0, 0, length, width, height, &out);
  LibraryBytes pixels(out);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(width, 256);
  EXPECT_EQ(height, 256);
  int levelWidth = 0, levelHeight = 0;
  const Bytes level = ExpectedLevelImage(1000, 700, 1, &levelWidth, &levelHeight);
  for (int y = 0; y < levelHeight && y < 256; ++y) {
    for (int x = 0; x < levelWidth && x < 256; ++x) {
      for (int c = 0; c < 3; ++c) {
        ASSERT_EQ(out[(static_cast<std::size_t>(y) * 256 + x) * 3 + c],
                  level[(static_cast<std::size_t>(y) * levelWidth + x) * 3 + c]);
      }
    }
  }
}

TEST_F(TilePixelsTest, NullOutputPointerIsRefused) {
  int length = 5, width = 5, height = 5;
  EXPECT_EQ(slide_->ReadTilePixels(20.0f, 0, 0, length, width, height, nullptr), nullptr);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(width, 0);
}

TEST(TilePixelsGreyTest, GreyJpegTilesComeBackAsThreeChannels) {
  // A hand-made slide whose only tile is a greyscale JPEG.
  const int side = 16;
  Bytes grey(side * side);
  for (int i = 0; i < side * side; ++i) grey[i] = static_cast<unsigned char>(i);
  unsigned char* jpeg = nullptr;
  int jpegLength = 0;
  ASSERT_TRUE(EncodeJpegWithQuality(grey.data(), side, side, 1, 95, &jpeg, jpegLength));
  LibraryBytes owned(jpeg);
  HandSlide hand;
  hand.tiles = {{20.0f, 0, 0, side, side, Bytes(jpeg, jpeg + jpegLength)}};
  TempDir dir;
  const std::string path = dir.File("grey.ztx");
  WriteFileBytes(path, hand.Build());
  int result = 0;
  auto slide = OpenLoaded(path, &result);
  ASSERT_EQ(result, 0);
  unsigned char* out = nullptr;
  int length = 0, width = 0, height = 0;
  slide->ReadTilePixels(20.0f, 0, 0, length, width, height, &out);
  LibraryBytes pixels(out);
  ASSERT_NE(out, nullptr);
  ASSERT_EQ(length, side * side * 3);
  for (int i = 0; i < side * side; ++i) {
    EXPECT_EQ(out[i * 3], out[i * 3 + 1]);
    EXPECT_EQ(out[i * 3], out[i * 3 + 2]);
  }
}

// --- scan time and duration ---

TEST(ScanTimeDurationTest, LocalTimeAndDurationParts) {
  SlideRecipe recipe;
  recipe.version = 1.3f;
  recipe.scanTime = 1600000000;
  recipe.spendTimeMs = 3723456;
  TempDir dir;
  const std::string path = MakeSlide(dir, recipe);
  int result = 0;
  auto slide = OpenHeaderOnly(path, &result);
  ASSERT_EQ(result, 0);
  int t[9];
  ASSERT_TRUE(slide->ReadScanTimeDuration(t[0], t[1], t[2], t[3], t[4], t[5], t[6], t[7], t[8]));
  const std::time_t when = 1600000000;
  std::tm local{};
  ASSERT_NE(localtime_r(&when, &local), nullptr);
  EXPECT_EQ(t[0], local.tm_year + 1900);
  EXPECT_EQ(t[1], local.tm_mon + 1);
  EXPECT_EQ(t[2], local.tm_mday);
  EXPECT_EQ(t[3], local.tm_hour);
  EXPECT_EQ(t[4], local.tm_min);
  EXPECT_EQ(t[5], local.tm_sec);
  EXPECT_EQ(t[6], 1);
  EXPECT_EQ(t[7], 2);
  EXPECT_EQ(t[8], 3);
}

struct NoTimeCase {
  float version;
  std::int64_t scanTime;
  std::uint32_t spendTime;
};

class ScanTimeMissingTest : public ::testing::TestWithParam<NoTimeCase> {};

TEST_P(ScanTimeMissingTest, ReportsFalseAndWritesNothing) {
  SlideRecipe recipe;
  recipe.version = GetParam().version;
  recipe.scanTime = GetParam().scanTime;
  recipe.spendTimeMs = GetParam().spendTime;
  TempDir dir;
  const std::string path = MakeSlide(dir, recipe);
  int result = 0;
  auto slide = OpenHeaderOnly(path, &result);
  ASSERT_EQ(result, 0);
  int t[9];
  for (int& v : t) v = -7;
  EXPECT_FALSE(slide->ReadScanTimeDuration(t[0], t[1], t[2], t[3], t[4], t[5], t[6], t[7], t[8]));
  for (int v : t) EXPECT_EQ(v, -7);
}

INSTANTIATE_TEST_SUITE_P(Cases, ScanTimeMissingTest,
                         ::testing::Values(NoTimeCase{1.3f, 0, 5000},
                                           NoTimeCase{1.3f, 1600000000, 0},
                                           NoTimeCase{1.1f, 1600000000, 5000},
                                           NoTimeCase{1.0f, 1600000000, 5000}));

TEST(ScanTimeMissingTest, NoHeaderReportsFalse) {
  CZTXDataFile slide;
  int t[9] = {};
  EXPECT_FALSE(slide.ReadScanTimeDuration(t[0], t[1], t[2], t[3], t[4], t[5], t[6], t[7], t[8]));
}

// --- levels the file does not store ---

TEST(MissingLevelTest, Mode1ComposesHalfScaleAndReadsQuarterScaleFromTheIndex) {
  SlideRecipe recipe;
  recipe.levelMode = 1;
  TempDir dir;
  ztx::ZtxLayout layout;
  const std::string path = MakeSlide(dir, recipe, &layout);
  ASSERT_FALSE(path.empty());
  int result = 0;
  auto slide = OpenLoaded(path, &result);
  ASSERT_EQ(result, 0);
  ASSERT_EQ(slide->FindTile(10.0f, 0, 0), nullptr);
  const TileInfo* quarter = slide->FindTile(5.0f, 0, 0);
  ASSERT_NE(quarter, nullptr);

  // Half scale: composed as a 256 x 256 JPEG, measured by the size query and
  // then copied into the caller's buffer, which stays the caller's.
  unsigned char* out = nullptr;
  int length = 0;
  slide->ReadTileStream(10.0f, 0, 0, length, &out);
  EXPECT_EQ(out, nullptr);
  ASSERT_GT(length, 0);
  std::vector<unsigned char> caller(static_cast<std::size_t>(length) + 1, 0xEE);
  out = caller.data();
  int copied = 0;
  slide->ReadTileStream(10.0f, 0, 0, copied, &out);
  ASSERT_EQ(out, caller.data());
  ASSERT_EQ(copied, length);
  EXPECT_EQ(caller[static_cast<std::size_t>(length)], 0xEE);
  int width = 0, height = 0;
  LibraryBytes decoded(DecodeJpeg(out, length, width, height));
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(width, 256);
  EXPECT_EQ(height, 256);

  // As pixels the composed tile consumes the caller's buffer like any other.
  out = AllocateBuffer(64);
  int pixelLength = 0;
  slide->ReadTilePixels(10.0f, 0, 0, pixelLength, width, height, &out);
  LibraryBytes pixels(out);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(width, 256);
  EXPECT_EQ(height, 256);
  EXPECT_EQ(pixelLength, 256 * 256 * 3);

  // Quarter scale is stored: copied into the caller's buffer.
  std::vector<unsigned char> buffer(static_cast<std::size_t>(quarter->length));
  out = buffer.data();
  slide->ReadTileStream(5.0f, 0, 0, length, &out);
  EXPECT_EQ(out, buffer.data());
  EXPECT_EQ(length, quarter->length);
}

}  // namespace
}  // namespace strata::test::reader
