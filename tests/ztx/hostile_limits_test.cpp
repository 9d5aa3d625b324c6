// Sizes taken from a file are bounded by what the file can hold before
// anything is allocated: thumbnail canvases, expanded indexes, decoded tiles
// and channel fallbacks. Also the edges that rounding and end-of-file checks
// decide, and composed tiles delivered into the caller's buffer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "strata/model/image_codec.h"
#include "strata/strata.h"
#include "support/hostile_input.h"
#include "support/slide_fixtures.h"
#include "support/test_files.h"
#include "ztx/reader_test_util.h"

namespace strata::test::reader {
namespace {

// A hostile call may touch a few megabytes; the faults touched gigabytes.
constexpr std::int64_t kMemoryAllowance = 64LL << 20;

struct Handle {
  IMAGE_INFO_STRUCT handle{};
  explicit Handle(const std::string& path) { InitImageFileFunc(&handle, path.c_str()); }
  ~Handle() { UnInitImageFileFunc(&handle); }
  bool open() const { return handle.slide != nullptr; }
};

class HostileLimitsTest : public ::testing::Test {
 protected:
  void Write(const SlideRecipe& recipe) {
    recipe_ = recipe;
    path_ = MakeSlide(dir_, recipe, &layout_);
    ASSERT_FALSE(path_.empty());
    file_ = ReadFileBytes(path_);
  }
  void Save() { WriteFileBytes(path_, file_); }
  const ztx::WrittenTile& FirstTile() const { return layout_.tiles.front(); }

  TempDir dir_;
  SlideRecipe recipe_;
  ztx::ZtxLayout layout_;
  std::string path_;
  Bytes file_;
};

// ---- thumbnail canvas ----

TEST_F(HostileLimitsTest, ThumbnailRecordFarFromItsImageGetsNoCanvas) {
  Write(SlideRecipe{});
  PutI32(file_, 20, 26000);  // header height and width
  PutI32(file_, 24, 26000);
  const std::size_t record = static_cast<std::size_t>(layout_.thumbnailOffset);
  PutI32(file_, record + kRecordHeight, 26001);
  PutI32(file_, record + kRecordWidth, 26001);
  Save();
  bool ok = true;
  const std::int64_t growth = PeakMemoryGrowth([&] {
    unsigned char* data = nullptr;
    int length = 0, width = 0, height = 0;
    ok = GetThumnailImagePathFunc(path_.c_str(), &data, &length, &width, &height);
    LibraryBytes owned(data);
    EXPECT_EQ(data, nullptr);
  });
  EXPECT_FALSE(ok);
  EXPECT_LT(growth, kMemoryAllowance);
}

TEST_F(HostileLimitsTest, ThumbnailStreamClaimingAHugeFrameIsNotDecoded) {
  Write(SlideRecipe{});
  PutI32(file_, 20, 26000);
  PutI32(file_, 24, 26000);
  const std::size_t record = static_cast<std::size_t>(layout_.thumbnailOffset);
  const Bytes stream = JpegClaimingFrame(26000, 26000);
  const std::int64_t offset = static_cast<std::int64_t>(file_.size()) - layout_.thumbnailOffset;
  file_.insert(file_.end(), stream.begin(), stream.end());
  PutI32(file_, record + kRecordHeight, 26001);
  PutI32(file_, record + kRecordWidth, 26001);
  PutI32(file_, record + kRecordLength, static_cast<std::int32_t>(stream.size()));
  PutI64(file_, record + kRecordOffset, offset);
  Save();
  Handle open(path_);
  ASSERT_TRUE(open.open());
  bool ok = true;
  const std::int64_t growth = PeakMemoryGrowth([&] {
    unsigned char* data = nullptr;
    int length = 0, width = 0, height = 0;
    ok = GetThumnailImageFunc(open.handle, &data, &length, &width, &height);
    LibraryBytes owned(data);
  });
  EXPECT_FALSE(ok);
  EXPECT_LT(growth, kMemoryAllowance);
}

// ---- expanding a compressed index ----

TEST_F(HostileLimitsTest, ExpandingAnIndexWithAHugeTileCountAllocatesNothing) {
  SlideRecipe recipe;
  recipe.compressIndex = true;
  Write(recipe);
  PutI32(file_, 16, 33554431);
  Save();
  const std::uint64_t before = FileChecksum(path_);
  bool ok = true;
  const std::int64_t growth =
      PeakMemoryGrowth([&] { ok = UnCompressBlockDataInfoFunc(path_.c_str()); });
  EXPECT_FALSE(ok);
  EXPECT_LT(growth, kMemoryAllowance);
  EXPECT_EQ(FileChecksum(path_), before);
}

// ---- tiles decode no larger than their record and block size ----

enum class TileRoute { kPixels, kAdjusted, kRegion };

struct FrameCase {
  const char* name;
  int frameWidth;
  int frameHeight;
  bool truncated;  // the frame header lies about a small stream
  TileRoute route;
};

class TileFrameTest : public HostileLimitsTest, public ::testing::WithParamInterface<FrameCase> {};

TEST_P(TileFrameTest, OversizedFrameGivesNoPixelsAndTouchesNoMemory) {
  const FrameCase c = GetParam();
  Write(SlideRecipe{});
  const ztx::WrittenTile tile = FirstTile();
  const Bytes stream = c.truncated ? JpegClaimingFrame(c.frameWidth, c.frameHeight)
                                   : ColourJpeg(c.frameWidth, c.frameHeight);
  RepointTile(file_, layout_, 0, stream);
  Save();
  Handle open(path_);
  ASSERT_TRUE(open.open());
  const std::int64_t growth = PeakMemoryGrowth([&] {
    unsigned char* out = nullptr;
    int length = 0, width = 0, height = 0;
    switch (c.route) {
      case TileRoute::kPixels:
        GetImageRGBDataStreamFunc(&open.handle, tile.scale, tile.x, tile.y, &length, &width,
                                  &height, &out);
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(length, 0);
        break;
      case TileRoute::kAdjusted:
        GetLUTImage(&open.handle, tile.scale, tile.x, tile.y, &length, &out, 1.2f, 1, 1, 1, 1, 1);
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(length, 0);
        break;
      case TileRoute::kRegion: {
        // The damaged tile's square is white; its neighbour is not.
        ASSERT_TRUE(GetImageDataRoiFunc(open.handle, tile.scale, tile.x, tile.y, 300, 20, &out,
                                        &length, false));
        ASSERT_EQ(length, 300 * 20 * 3);
        EXPECT_EQ(std::count(out, out + 256 * 3, 255), 256 * 3);
        EXPECT_LT(std::count(out + 256 * 3, out + 300 * 3, 255), 44 * 3);
        break;
      }
    }
    LibraryBytes owned(out);
  });
  EXPECT_LT(growth, kMemoryAllowance);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, TileFrameTest,
    ::testing::Values(FrameCase{"HugePixels", 26000, 26000, true, TileRoute::kPixels},
                      FrameCase{"HugeAdjusted", 26000, 26000, true, TileRoute::kAdjusted},
                      FrameCase{"HugeRegion", 26000, 26000, true, TileRoute::kRegion},
                      FrameCase{"WiderPixels", 512, 256, false, TileRoute::kPixels},
                      FrameCase{"TallerAdjusted", 256, 300, false, TileRoute::kAdjusted},
                      FrameCase{"LargerRegion", 512, 512, false, TileRoute::kRegion}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(JpegFrameTest, FrameBeyondTheStreamsMeansIsRefusedWithoutLimits) {
  const Bytes stream = JpegClaimingFrame(26000, 26000);
  int width = 0, height = 0;
  const std::int64_t growth = PeakMemoryGrowth([&] {
    LibraryBytes decoded(DecodeJpeg(stream.data(), static_cast<int>(stream.size()), width, height));
    EXPECT_EQ(decoded, nullptr);
  });
  EXPECT_LT(growth, kMemoryAllowance);
}

TEST(JpegFrameTest, ScanDataEndingAtAMarkerIsDamage) {
  Bytes stream = ColourJpeg(64, 64);
  // Cut the scan in half and close the stream: the decoder meets the end
  // marker where it expects coefficients.
  std::size_t scan = 0;
  for (std::size_t i = 0; i + 1 < stream.size(); ++i) {
    if (stream[i] == 0xFF && stream[i + 1] == 0xDA) scan = i;
  }
  ASSERT_GT(scan, 0u);
  stream.resize(scan + (stream.size() - scan) / 2);
  stream.push_back(0xFF);
  stream.push_back(0xD9);
  int width = 0, height = 0;
  LibraryBytes decoded(DecodeJpeg(stream.data(), static_cast<int>(stream.size()), width, height));
  EXPECT_EQ(decoded, nullptr);
}

// ---- multi-channel tile with no channel chosen ----

TEST_F(HostileLimitsTest, ChannelFallbackKeepsToTheBlockSize) {
  SlideRecipe recipe;
  recipe.channelCount = 3;
  Write(recipe);
  const std::size_t entry = IndexEntryAt(layout_, recipe.version, 0);
  PutI32(file_, entry + kEntryWidth, 26000);
  PutI32(file_, entry + kEntryHeight, 26000);
  Save();
  Handle open(path_);
  ASSERT_TRUE(open.open());
  const ztx::WrittenTile tile = FirstTile();
  unsigned char* out = nullptr;
  int length = 0;
  const std::int64_t growth = PeakMemoryGrowth([&] {
    GetImageStreamManyPassagewayFunc(&open.handle, tile.scale, tile.x, tile.y, &length, &out, false,
                                     false, false, false, false, false);
  });
  LibraryBytes owned(out);
  EXPECT_LT(growth, kMemoryAllowance);
  ASSERT_NE(out, nullptr);
  int width = 0, height = 0;
  LibraryBytes pixels(DecodeJpeg(out, length, width, height));
  EXPECT_EQ(width, 256);
  EXPECT_EQ(height, 256);
}

// ---- composed tiles of levels the file does not store ----

class ComposedTileTest : public HostileLimitsTest {
 protected:
  void SetUp() override {
    SlideRecipe recipe;
    recipe.levelMode = 1;
    Write(recipe);
  }
};

TEST_F(ComposedTileTest, SizeQueryThenFetchIntoTheCallersBuffer) {
  Handle open(path_);
  ASSERT_TRUE(open.open());
  unsigned char* buffer = nullptr;
  int length = 0;
  GetImageStreamFunc(&open.handle, 10.0f, 256, 0, &length, &buffer);
  EXPECT_EQ(buffer, nullptr);
  ASSERT_GT(length, 0);
  Bytes callers(static_cast<std::size_t>(length), 0);
  buffer = callers.data();
  int fetched = 0;
  GetImageStreamFunc(&open.handle, 10.0f, 256, 0, &fetched, &buffer);
  EXPECT_EQ(buffer, callers.data());
  ASSERT_EQ(fetched, length);
  int width = 0, height = 0;
  LibraryBytes pixels(DecodeJpeg(callers.data(), fetched, width, height));
  EXPECT_EQ(width, 256);
  EXPECT_EQ(height, 256);
}

TEST_F(ComposedTileTest, TileThatCannotBeComposedLeavesTheCallersBuffer) {
  Handle open(path_);
  ASSERT_TRUE(open.open());
  Bytes callers(64, 0xAB);
  unsigned char* buffer = callers.data();
  int length = -1;
  GetImageStreamFunc(&open.handle, 10.0f, 100000, 0, &length, &buffer);
  EXPECT_EQ(buffer, callers.data());
  EXPECT_EQ(length, 0);
  EXPECT_EQ(std::count(callers.begin(), callers.end(), 0xAB), 64);
}

// ---- edges ----

TEST_F(HostileLimitsTest, RegionAtTheEdgeOfAnOddSlideAtAHalfScaleReachesTheLastPixel) {
  SlideRecipe recipe;
  recipe.encoding = ztx::TileEncoding::kBmp;
  recipe.width = 1001;  // 500.5 x 350.5 at half scale: 501 x 351 pixels
  recipe.height = 701;
  Write(recipe);
  Handle open(path_);
  ASSERT_TRUE(open.open());
  unsigned char* out = nullptr;
  int length = 0;
  ASSERT_TRUE(GetImageDataRoiFunc(open.handle, 10.0f, 491, 341, 10, 10, &out, &length, false));
  LibraryBytes owned(out);
  ASSERT_EQ(length, 10 * 10 * 3);
  for (int i = 0; i < 10; ++i) {
    const unsigned char* lastColumn = out + (static_cast<std::size_t>(i) * 10 + 9) * 3;
    const unsigned char* lastRow = out + (static_cast<std::size_t>(9) * 10 + i) * 3;
    EXPECT_FALSE(lastColumn[0] == 255 && lastColumn[1] == 255 && lastColumn[2] == 255) << i;
    EXPECT_FALSE(lastRow[0] == 255 && lastRow[1] == 255 && lastRow[2] == 255) << i;
  }
}

enum class Section { kLabel, kPreview, kThumbnail };

class ImageAtTheEndTest : public HostileLimitsTest,
                          public ::testing::WithParamInterface<Section> {};

// The writer puts tiles after the images, so the image bytes are moved to
// the very end of the file.
TEST_P(ImageAtTheEndTest, ImageWhoseBytesEndTheFileIsRead) {
  Write(SlideRecipe{});
  std::int64_t position = layout_.labelOffset;
  if (GetParam() == Section::kPreview) position = layout_.previewOffset;
  if (GetParam() == Section::kThumbnail) position = layout_.thumbnailOffset;
  const std::size_t record = static_cast<std::size_t>(position);
  const std::int32_t length = ReadI32(file_, record + kRecordLength);
  const std::int64_t oldOffset = ReadI64(file_, record + kRecordOffset);
  const auto start = file_.begin() + position + oldOffset;
  const Bytes stream(start, start + length);
  PutI64(file_, record + kRecordOffset, static_cast<std::int64_t>(file_.size()) - position);
  file_.insert(file_.end(), stream.begin(), stream.end());
  Save();
  Handle open(path_);
  ASSERT_TRUE(open.open());
  unsigned char* data = nullptr;
  int got = 0, width = 0, height = 0;
  bool ok = false;
  switch (GetParam()) {
    case Section::kLabel: ok = GetLableInfoFunc(open.handle, &data, &got, &width, &height); break;
    case Section::kPreview:
      ok = GetPriviewInfoFunc(open.handle, &data, &got, &width, &height);
      break;
    case Section::kThumbnail:
      ok = GetThumnailImageFunc(open.handle, &data, &got, &width, &height);
      break;
  }
  LibraryBytes owned(data);
  ASSERT_TRUE(ok);
  ASSERT_EQ(got, length);
  EXPECT_TRUE(std::equal(stream.begin(), stream.end(), data));
}

INSTANTIATE_TEST_SUITE_P(Sections, ImageAtTheEndTest,
                         ::testing::Values(Section::kLabel, Section::kPreview,
                                           Section::kThumbnail));

struct EdgeCase {
  int x;
  int y;
  bool expected;
};

class MosaicEdgeTest : public HostileLimitsTest, public ::testing::WithParamInterface<EdgeCase> {};

// 1000 x 700 with 256-pixel blocks: neither side is a multiple of the block.
TEST_P(MosaicEdgeTest, RectangleStartingAtTheSlidesEdgeHasNoMosaic) {
  const EdgeCase c = GetParam();
  Write(SlideRecipe{});
  Handle open(path_);
  ASSERT_TRUE(open.open());
  EXPECT_EQ(ISCanGetMaxFunc(open.handle, 20.0f, c.x, c.y, 50, 50), c.expected);
  unsigned char* out = nullptr;
  int length = 0;
  EXPECT_EQ(GetImageDataMaxFunc(open.handle, 20.0f, c.x, c.y, 50, 50, &out, &length, false),
            c.expected);
  LibraryBytes owned(out);
  EXPECT_EQ(out != nullptr, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Edges, MosaicEdgeTest,
                         ::testing::Values(EdgeCase{1000, 0, false}, EdgeCase{0, 700, false},
                                           EdgeCase{1000, 700, false}, EdgeCase{999, 0, true},
                                           EdgeCase{0, 699, true}));

}  // namespace
}  // namespace strata::test::reader
