// SVS slides written with libtiff, read through Debian's OpenSlide: every
// tile and a set of regions equal OpenSlide's own pixels for the same
// request; damaged and foreign files end cleanly.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <thread>

#include "foreign/openslide_reference.h"
#include "strata/model/image_buffer.h"
#include "strata/model/lookup_table.h"
#include "strata/model/pixel_ops.h"
#include "strata/platform/file_io.h"
#include "support/test_files.h"
#include "tools/ndpi_writer.h"
#include "tools/svs_writer.h"

namespace strata::test {
namespace {

constexpr int kWidth = 2000;
constexpr int kHeight = 1500;

tools::SvsOptions SmallSvs() {
  tools::SvsOptions options;
  options.width = kWidth;
  options.height = kHeight;
  options.label = tools::FramedPicture(300, 150, 200, 180, 40);
  options.macro = tools::FramedPicture(400, 160, 40, 90, 200);
  return options;
}

std::string WriteSlide(const TempDir& dir, const std::string& name,
                       const tools::SvsOptions& options) {
  const std::string path = dir.File(name);
  std::string error;
  EXPECT_TRUE(tools::WriteSvs(path, options, tools::FillSvsTestPattern, &error)) << error;
  return path;
}

class OpenSvs : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    platform::UnsetEnvironmentValue("STRATA_OPENSLIDE_LIBRARY");
    // These cases are about the OpenSlide route; tests/tiff covers the native one.
    platform::SetEnvironmentValue("STRATA_NATIVE_TIFF", "0");
    dir_ = new TempDir();
    path_ = new std::string(WriteSlide(*dir_, "slide.svs", SmallSvs()));
  }
  static void TearDownTestSuite() {
    platform::UnsetEnvironmentValue("STRATA_NATIVE_TIFF");
    delete path_;
    delete dir_;
  }
  void SetUp() override { ASSERT_TRUE(InitImageFileFunc(&handle_, path_->c_str())); }
  void TearDown() override { UnInitImageFileFunc(&handle_); }

  static TempDir* dir_;
  static std::string* path_;
  IMAGE_INFO_STRUCT handle_{};
};
TempDir* OpenSvs::dir_ = nullptr;
std::string* OpenSvs::path_ = nullptr;

TEST_F(OpenSvs, HeaderFactsComeFromTheSlide) {
  int height = 0, width = 0, scale = 0, block = 0;
  float spend = -1, resolution = -1, version = 0;
  double when = -1;
  ASSERT_TRUE(
      GetHeaderInfoFunc(handle_, &height, &width, &scale, &spend, &when, &resolution, &block));
  EXPECT_EQ(width, kWidth);
  EXPECT_EQ(height, kHeight);
  EXPECT_EQ(scale, 20);
  EXPECT_EQ(block, 256);
  EXPECT_EQ(spend, 0.0f);
  EXPECT_EQ(when, 0.0);
  ASSERT_TRUE(GetVersionInfoFunc(&handle_, &version));
  EXPECT_EQ(version, 1.0f);
}

TEST_F(OpenSvs, EveryTileOfEveryLevelIsOpenSlidesPixels) {
  ExpectEveryTileIsOpenSlides(*path_, handle_, 20.0);
}

struct RegionCase {
  float scale;
  int x, y, w, h;
  int level;  // the stored level OpenSlide is read at
};

class SvsRegions : public OpenSvs, public ::testing::WithParamInterface<RegionCase> {};

// OpenSlide's pixels of the chosen level, resized with the library's bilinear
// rule when the request is not that level's scale, white outside the slide.
std::vector<unsigned char> ExpectedRegion(const DirectSlide& direct, const RegionCase& c) {
  const double downsample = direct.Downsample(c.level);
  const float levelScale = static_cast<float>(20.0 / downsample);
  const float ratio = c.scale / 20.0f;
  const int slideWidth = static_cast<int>(kWidth * ratio + 0.5f);
  const int slideHeight = static_cast<int>(kHeight * ratio + 0.5f);
  const int left = std::max(c.x, 0), top = std::max(c.y, 0);
  const int right = std::min(c.x + c.w, slideWidth), bottom = std::min(c.y + c.h, slideHeight);
  std::vector<unsigned char> out(static_cast<std::size_t>(c.w) * c.h * 3, 255);
  if (left >= right || top >= bottom) return out;
  const float factor = levelScale / c.scale;
  const int sw = std::max(1, static_cast<int>((right - left) * factor));
  const int sh = std::max(1, static_cast<int>((bottom - top) * factor));
  std::vector<unsigned char> level =
      direct.Pixels(c.level, std::llround(left * factor * downsample),
                    std::llround(top * factor * downsample), sw, sh);
  PixelBuffer resized(ResizeBilinear(level.data(), sw, sh, right - left, bottom - top));
  PastePixels(out.data(), c.w, c.h, resized.get(), right - left, bottom - top, left - c.x,
              top - c.y);
  return out;
}

TEST_P(SvsRegions, EqualOpenSlidesPixelsThroughTheConversionRule) {
  const RegionCase& c = GetParam();
  DirectSlide direct(*path_);
  ASSERT_TRUE(direct.ok());
  EXPECT_EQ(RegionPixels(handle_, c.scale, c.x, c.y, c.w, c.h), ExpectedRegion(direct, c));
}

INSTANTIATE_TEST_SUITE_P(
    Scales, SvsRegions,
    ::testing::Values(RegionCase{20.0f, 300, 200, 400, 300, 0},    // level 0
                      RegionCase{5.0f, 10, 20, 300, 200, 1},       // level 1's own scale
                      RegionCase{10.0f, 100, 50, 300, 200, 0},     // between: 10 / 5 > 1.5
                      RegionCase{7.0f, 40, 30, 200, 150, 1},       // between: 7 / 5 <= 1.5
                      RegionCase{40.0f, 100, 100, 256, 256, 0},    // above the scan scale
                      RegionCase{20.0f, 1900, 1400, 256, 256, 0},  // right and bottom edge
                      RegionCase{20.0f, -50, -20, 128, 64, 0}));   // partly before the slide

// Tiles are read straight from a level only at that level's own scale; a
// request a little off it (here 0.5 % and 5 % either side of the 5x level)
// is OpenSlide's level resized to the requested scale, as regions are.
class NearLevelScales : public OpenSvs, public ::testing::WithParamInterface<float> {};

TEST_P(NearLevelScales, TilesAndRegionsAreTheLevelResizedToTheRequest) {
  const float scale = 5.0f * GetParam();
  DirectSlide direct(*path_);
  ASSERT_TRUE(direct.ok());
  const RegionCase region{scale, 0, 0, 256, 256, 1};
  const std::vector<unsigned char> expected = ExpectedRegion(direct, region);
  EXPECT_EQ(RegionPixels(handle_, scale, 0, 0, 256, 256), expected);
  EXPECT_EQ(TileStream(handle_, scale, 0, 0), EncodeLikeLibrary(expected, 256, 256));
  // Off the level's scale, the level's own pixels at the tile's place are
  // not the answer.
  EXPECT_EQ(expected == direct.Pixels(1, 0, 0, 256, 256), GetParam() == 1.0f);
}

INSTANTIATE_TEST_SUITE_P(OffByAFraction, NearLevelScales,
                         ::testing::Values(1.0f, 0.995f, 1.005f, 0.95f, 1.05f));

TEST_F(OpenSvs, RegionWhollyOutsideTheSlideFails) {
  EXPECT_TRUE(RegionPixels(handle_, 20.0f, kWidth, 0, 64, 64).empty());
  EXPECT_TRUE(RegionPixels(handle_, 20.0f, -100, -100, 50, 50).empty());
}

TEST_F(OpenSvs, TileBetweenLevelsIsTheRegionAtThatScale) {
  // At scale 10 the slide is 1000 x 750: the tile's last rows end at 750.
  const std::vector<unsigned char> tile = TileStream(handle_, 10.0f, 256, 512);
  unsigned char* out = nullptr;
  int length = 0;
  ASSERT_TRUE(GetImageDataRoiFunc(handle_, 10.0f, 256, 512, 256, 238, &out, &length, true));
  PixelBuffer region(out);
  EXPECT_EQ(tile, std::vector<unsigned char>(out, out + length));
}

TEST_F(OpenSvs, AdjustedTileAppliesTheLookupTable) {
  DirectSlide direct(*path_);
  std::vector<unsigned char> pixels = direct.Pixels(0, 256, 0, 256, 256);
  const float params[kLookupParameterCount] = {1.2f, 0.9f, 0.05f, 0.0f, 0.1f, -0.1f};
  int table[256][3];
  const bool keep[3] = {true, true, true};
  BuildLookupTable(params, table);
  ApplyLookupTable(table, keep, pixels.data(), pixels.size() / 3);
  unsigned char* out = nullptr;
  int length = 0;
  GetLUTImage(&handle_, 20.0f, 256, 0, &length, &out, params[0], params[1], params[2], params[3],
              params[4], params[5]);
  PixelBuffer owned(out);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(std::vector<unsigned char>(out, out + length), EncodeLikeLibrary(pixels, 256, 256));
}

using ImageGetter = bool (*)(IMAGE_INFO_STRUCT, unsigned char**, int*, int*, int*);
using PathImageGetter = bool (*)(const char*, unsigned char**, int*, int*, int*);
struct ImageCase {
  const char* name;  // OpenSlide's associated image
  ImageGetter byHandle;
  PathImageGetter byPath;
};
class SvsImages : public OpenSvs, public ::testing::WithParamInterface<ImageCase> {};

TEST_P(SvsImages, AreOpenSlidesAssociatedImagesByHandleAndByPath) {
  DirectSlide direct(*path_);
  int w = 0, h = 0;
  const std::vector<unsigned char> pixels = direct.AssociatedImage(GetParam().name, w, h);
  const std::vector<unsigned char> expected = EncodeLikeLibrary(pixels, w, h);
  ASSERT_GT(w, 0);
  for (bool byPath : {false, true}) {
    unsigned char* data = nullptr;
    int length = 0, width = 0, height = 0;
    const bool found = byPath ? GetParam().byPath(path_->c_str(), &data, &length, &width, &height)
                              : GetParam().byHandle(handle_, &data, &length, &width, &height);
    PixelBuffer owned(data);
    ASSERT_TRUE(found) << byPath;
    EXPECT_EQ(width, w);
    EXPECT_EQ(height, h);
    EXPECT_EQ(std::vector<unsigned char>(data, data + length), expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Names, SvsImages,
    ::testing::Values(ImageCase{"label", GetLableInfoFunc, GetLableInfoPathFunc},
                      ImageCase{"macro", GetPriviewInfoFunc, GetPriviewInfoPathFunc},
                      ImageCase{"thumbnail", GetThumnailImageFunc, GetThumnailImagePathFunc}));

TEST_F(OpenSvs, FourThreadsReadTilesAndRegionsOfOneHandle) {
  std::vector<std::vector<unsigned char>> expected;
  for (int i = 0; i < 8; ++i) expected.push_back(TileStream(handle_, 20.0f, 256 * i, 256));
  const std::vector<unsigned char> region = RegionPixels(handle_, 10.0f, 100, 100, 300, 300);
  std::vector<int> failures(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 4; ++round) {
        for (int i = 0; i < 8; ++i) {
          if (TileStream(handle_, 20.0f, 256 * i, 256) != expected[i]) ++failures[t];
        }
        if (RegionPixels(handle_, 10.0f, 100, 100, 300, 300) != region) ++failures[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));
}

// Files that must not open, and damaged ones that must end cleanly.
enum class Damage { kNoObjectivePower, kPlainTiledTiff, kNotTiff, kTruncated };
class RefusedFiles : public ::testing::TestWithParam<Damage> {};

TEST_P(RefusedFiles, DoNotOpen) {
  platform::UnsetEnvironmentValue("STRATA_OPENSLIDE_LIBRARY");
  TempDir dir;
  tools::SvsOptions options = SmallSvs();
  options.width = 600;
  options.height = 400;
  std::string path = dir.File("slide.svs");
  switch (GetParam()) {
    case Damage::kNoObjectivePower:
      options.appMag.clear();
      WriteSlide(dir, "slide.svs", options);
      break;
    case Damage::kPlainTiledTiff:
      options.aperioDescription = false;
      path = WriteSlide(dir, "slide.tif", options);
      break;
    case Damage::kNotTiff:
      path = dir.File("slide.tif");
      WriteFileBytes(path, std::vector<unsigned char>(5000, 0x5A));
      break;
    case Damage::kTruncated: {
      WriteSlide(dir, "slide.svs", options);
      std::vector<unsigned char> bytes = ReadFileBytes(path);
      bytes.resize(bytes.size() / 2);
      WriteFileBytes(path, bytes);
      break;
    }
  }
  IMAGE_INFO_STRUCT handle{};
  EXPECT_FALSE(InitImageFileFunc(&handle, path.c_str()));
  EXPECT_EQ(handle.slide, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Files, RefusedFiles,
                         ::testing::Values(Damage::kNoObjectivePower, Damage::kPlainTiledTiff,
                                           Damage::kNotTiff, Damage::kTruncated));

TEST(DamagedSvs, ADamagedTileGivesNoStreamAndFailsItsRegion) {
  platform::UnsetEnvironmentValue("STRATA_OPENSLIDE_LIBRARY");
  TempDir dir;
  tools::SvsOptions options = SmallSvs();
  options.width = 600;
  options.height = 400;
  const std::string path = WriteSlide(dir, "slide.svs", options);
  std::uint64_t offset = 0, size = 0;
  ASSERT_TRUE(tools::FindTiffTile(path, 0, 1, offset, size));
  std::vector<unsigned char> bytes = ReadFileBytes(path);
  std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
              std::min<std::uint64_t>(size, 64), 0);
  WriteFileBytes(path, bytes);

  IMAGE_INFO_STRUCT handle{};
  ASSERT_TRUE(InitImageFileFunc(&handle, path.c_str()));
  EXPECT_TRUE(TileStream(handle, 20.0f, 256, 0).empty());
  EXPECT_TRUE(RegionPixels(handle, 20.0f, 200, 0, 200, 200).empty());
  UnInitImageFileFunc(&handle);
}

// An NDPI written from the format's public description: one JPEG strip per
// level, offsets from the slide centre that size and shift nothing.
TEST(WrittenNdpi, OpensWithLevelZerosSizeAndServesOpenSlidesPixels) {
  platform::UnsetEnvironmentValue("STRATA_OPENSLIDE_LIBRARY");
  TempDir dir;
  const std::string path = dir.File("slide.ndpi");
  tools::NdpiOptions options;
  options.width = 1280;
  options.height = 960;
  options.offsetX = 1500;
  options.offsetY = -2500;
  options.macro = tools::FramedPicture(320, 120, 90, 160, 60);
  std::string error;
  ASSERT_TRUE(tools::WriteNdpi(path, options, tools::FillSvsTestPattern, &error)) << error;
  IMAGE_INFO_STRUCT handle{};
  ASSERT_TRUE(InitImageFileFunc(&handle, path.c_str()));
  int height = 0, width = 0, scale = 0, block = 0;
  float spend = 0, resolution = 0;
  double when = 0;
  ASSERT_TRUE(
      GetHeaderInfoFunc(handle, &height, &width, &scale, &spend, &when, &resolution, &block));
  EXPECT_EQ(width, 1280);
  EXPECT_EQ(height, 960);
  EXPECT_EQ(scale, 20);
  ExpectEveryTileIsOpenSlides(path, handle, 20.0);
  unsigned char* data = nullptr;
  int length = 0;
  EXPECT_TRUE(GetPriviewInfoFunc(handle, &data, &length, &width, &height));
  PixelBuffer macro(data);
  EXPECT_EQ(width, 320);
  EXPECT_EQ(height, 120);
  UnInitImageFileFunc(&handle);
}

}  // namespace
}  // namespace strata::test
