// Regions, the scan-scale mosaic and its memory check, on writer-made slides.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

#include "strata/model/image_codec.h"
#include "support/slide_fixtures.h"
#include "ztx/reader_test_util.h"

namespace strata::test {
namespace {

constexpr int kWidth = 1000;
constexpr int kHeight = 700;

struct Pixels {
  std::vector<unsigned char> rgb;
  int width = 0;
  int height = 0;
  const unsigned char* At(int x, int y) const {
    return &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
  }
};

// A region as raw pixels; fails the test when the call fails.
Pixels Region(CZTXDataFile& slide, float scale, int x, int y, int width, int height) {
  unsigned char* raw = nullptr;
  int length = -1;
  const int result = slide.ReadRegion(scale, x, y, width, height, &raw, length, false);
  LibraryBytes owned(raw);
  Pixels pixels;
  EXPECT_EQ(result, 1);
  if (result != 1 || raw == nullptr) return pixels;
  EXPECT_EQ(length, width * height * 3);
  pixels.rgb.assign(raw, raw + length);
  pixels.width = width;
  pixels.height = height;
  return pixels;
}

// The pixels of `image` (imageWidth wide) at (x, y), or white outside it.
Rgb ImagePixelOrWhite(const std::vector<unsigned char>& image, int imageWidth, int imageHeight,
                      int x, int y) {
  if (x < 0 || y < 0 || x >= imageWidth || y >= imageHeight) return {255, 255, 255};
  const unsigned char* p = &image[(static_cast<std::size_t>(y) * imageWidth + x) * 3];
  return {p[0], p[1], p[2]};
}

// Counts pixels that differ from `image` placed at (-x, -y) (white outside).
int CountMismatches(const Pixels& region, const std::vector<unsigned char>& image, int imageWidth,
                    int imageHeight, int x, int y) {
  int mismatches = 0;
  for (int j = 0; j < region.height; ++j) {
    for (int i = 0; i < region.width; ++i) {
      const Rgb expected = ImagePixelOrWhite(image, imageWidth, imageHeight, x + i, y + j);
      const unsigned char* got = region.At(i, j);
      if (got[0] != expected[0] || got[1] != expected[1] || got[2] != expected[2]) ++mismatches;
    }
  }
  return mismatches;
}

class RegionTest : public ::testing::Test {
 protected:
  std::unique_ptr<CZTXDataFile> Open(const SlideRecipe& recipe, ztx::ZtxLayout* layout = nullptr) {
    path_ = MakeSlide(dir_, recipe, layout);
    int result = -1;
    auto slide = reader::OpenLoaded(path_, &result);
    EXPECT_EQ(result, 0);
    return slide;
  }
  static SlideRecipe Bmp(int scanScale = 20, int levelMode = 0) {
    SlideRecipe recipe;
    recipe.encoding = ztx::TileEncoding::kBmp;
    recipe.scanScale = scanScale;
    recipe.levelMode = levelMode;
    return recipe;
  }

  TempDir dir_;
  std::string path_;
};

// ---- unscaled regions on BMP tiles are exact ----

struct Window {
  int x, y, width, height;
};

class UnscaledRegionTest : public RegionTest, public ::testing::WithParamInterface<Window> {};

TEST_P(UnscaledRegionTest, MatchesBaseImageAndIsWhiteOutsideTheSlide) {
  auto slide = Open(Bmp());
  const Window w = GetParam();
  const Pixels region = Region(*slide, 20.0f, w.x, w.y, w.width, w.height);
  ASSERT_EQ(region.width, w.width);
  ASSERT_EQ(region.height, w.height);
  const std::vector<unsigned char> base = ExpectedBaseImage(kWidth, kHeight);
  EXPECT_EQ(CountMismatches(region, base, kWidth, kHeight, w.x, w.y), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Windows, UnscaledRegionTest,
    ::testing::Values(Window{256, 256, 256, 256},     // one whole tile
                      Window{0, 0, kWidth, kHeight},  // the whole slide
                      Window{100, 50, 500, 400},      // across tile borders
                      Window{-30, -20, 200, 100},     // starts left of and above the slide
                      Window{900, 600, 300, 200},     // leaves at the right and bottom
                      Window{-5, 690, 1020, 40},      // wider than the slide
                      Window{999, 699, 1, 1}));       // last pixel

TEST_F(RegionTest, NegativeXIsWhiteInItsFirstColumns) {
  auto slide = Open(Bmp());
  const Pixels region = Region(*slide, 20.0f, -40, 0, 100, 10);
  ASSERT_EQ(region.width, 100);
  for (int j = 0; j < region.height; ++j) {
    for (int i = 0; i < 40; ++i) {
      EXPECT_EQ(region.At(i, j)[0], 255);
      EXPECT_EQ(region.At(i, j)[1], 255);
      EXPECT_EQ(region.At(i, j)[2], 255);
    }
    // The pattern is never white (channels at most 254).
    EXPECT_LT(region.At(40, j)[0], 255);
  }
}

TEST_F(RegionTest, StoredLowerLevelIsReadWithoutResampling) {
  auto slide = Open(Bmp());
  int levelWidth = 0;
  int levelHeight = 0;
  const std::vector<unsigned char> level =
      ExpectedLevelImage(kWidth, kHeight, 1, &levelWidth, &levelHeight);
  const Pixels region = Region(*slide, 10.0f, 30, 20, 400, 300);
  EXPECT_EQ(CountMismatches(region, level, levelWidth, levelHeight, 30, 20), 0);
}

// The bilinear rule written out independently: float sampling positions,
// neighbours clamped to the last column/row, truncated weighted sums.
std::vector<unsigned char> ReferenceResize(const std::vector<unsigned char>& source, int sw, int sh,
                                           int dw, int dh) {
  std::vector<unsigned char> out(static_cast<std::size_t>(dw) * dh * 3);
  for (int i = 0; i < dh; ++i) {
    const float y = static_cast<float>(sh) / static_cast<float>(dh) * static_cast<float>(i);
    const int y0 = std::min(static_cast<int>(y), sh - 1);
    const int y1 = std::min(y0 + 1, sh - 1);
    const float fy = y - static_cast<float>(static_cast<int>(y));
    for (int j = 0; j < dw; ++j) {
      const float x = static_cast<float>(sw) / static_cast<float>(dw) * static_cast<float>(j);
      const int x0 = std::min(static_cast<int>(x), sw - 1);
      const int x1 = std::min(x0 + 1, sw - 1);
      const float fx = x - static_cast<float>(static_cast<int>(x));
      for (int k = 0; k < 3; ++k) {
        auto at = [&](int xx, int yy) {
          return static_cast<float>(source[(static_cast<std::size_t>(yy) * sw + xx) * 3 + k]);
        };
        const float sum = (1.0f - fy) * (1.0f - fx) * at(x0, y0) + (1.0f - fy) * fx * at(x1, y0) +
                          fy * (1.0f - fx) * at(x0, y1) + fy * fx * at(x1, y1);
        out[(static_cast<std::size_t>(i) * dw + j) * 3 + k] =
            static_cast<unsigned char>(std::min(255.0f, std::max(0.0f, sum)));
      }
    }
  }
  return out;
}

TEST_F(RegionTest, ScaleBetweenLevelsResamplesTheChosenLevelBilinearly) {
  auto slide = Open(Bmp());
  // 15x on a 20x slide reads the 10x level (15 / 10 is not above 1.5) and
  // enlarges a 100 x 80 window of it to 150 x 120.
  ASSERT_FLOAT_EQ(slide->SelectSourceScale(15.0f), 10.0f);
  int levelWidth = 0;
  int levelHeight = 0;
  const std::vector<unsigned char> level =
      ExpectedLevelImage(kWidth, kHeight, 1, &levelWidth, &levelHeight);
  // Region (300, 150) at 15x starts at (200, 100) of the 10x level.
  std::vector<unsigned char> window(100 * 80 * 3);
  for (int y = 0; y < 80; ++y) {
    for (int x = 0; x < 100; ++x) {
      for (int k = 0; k < 3; ++k) {
        window[(y * 100 + x) * 3 + k] =
            level[(static_cast<std::size_t>(100 + y) * levelWidth + 200 + x) * 3 + k];
      }
    }
  }
  const std::vector<unsigned char> expected = ReferenceResize(window, 100, 80, 150, 120);
  const Pixels region = Region(*slide, 15.0f, 300, 150, 150, 120);
  ASSERT_EQ(region.rgb.size(), expected.size());
  EXPECT_EQ(region.rgb, expected);
}

TEST_F(RegionTest, JpegSlideRegionIsCloseToThePattern) {
  auto slide = Open(SlideRecipe{});
  const Pixels region = Region(*slide, 20.0f, 200, 100, 600, 500);
  const std::vector<unsigned char> base = ExpectedBaseImage(kWidth, kHeight);
  double error = 0.0;
  for (int j = 0; j < region.height; ++j) {
    for (int i = 0; i < region.width; ++i) {
      for (int k = 0; k < 3; ++k) {
        error += std::abs(region.At(i, j)[k] -
                          base[(static_cast<std::size_t>(100 + j) * kWidth + 200 + i) * 3 + k]);
      }
    }
  }
  EXPECT_LT(error / (region.width * region.height * 3.0), 3.0);
}

TEST_F(RegionTest, JpegTilesAtTheScanScaleArriveAsTheDecoderGivesThem) {
  ztx::ZtxLayout layout;
  auto slide = Open(SlideRecipe{}, &layout);
  // Interior tiles are decoded in place, edge tiles through a tile buffer:
  // both must equal a plain decode of the stored stream.
  const Pixels region = Region(*slide, 20.0f, 100, 100, 700, 500);
  const std::vector<unsigned char> file = ReadFileBytes(path_);
  int checked = 0;
  for (const ztx::WrittenTile& t : layout.tiles) {
    if (t.scale != 20.0f) continue;
    int width = 0;
    int height = 0;
    const unsigned char* stream = file.data() + layout.indexOffset + t.offset;
    LibraryBytes tile(DecodeJpeg(stream, t.length, width, height));
    ASSERT_NE(tile, nullptr);
    for (int y = 0; y < height; y += 5) {
      for (int x = 0; x < width; x += 3) {
        const int rx = t.x + x - 100;
        const int ry = t.y + y - 100;
        if (rx < 0 || ry < 0 || rx >= 700 || ry >= 500) continue;
        const unsigned char* expected = tile.get() + (static_cast<std::size_t>(y) * width + x) * 3;
        ASSERT_EQ(std::memcmp(region.At(rx, ry), expected, 3), 0) << t.x + x << "," << t.y + y;
        ++checked;
      }
    }
  }
  EXPECT_GT(checked, 700 * 500 / 20);
}

TEST_F(RegionTest, EncodedRegionIsAJpegOfTheRequestedSize) {
  auto slide = Open(Bmp());
  unsigned char* raw = nullptr;
  int length = 0;
  ASSERT_EQ(slide->ReadRegion(7.5f, -10, 5, 123, 77, &raw, length, true), 1);
  LibraryBytes stream(raw);
  ASSERT_NE(raw, nullptr);
  int width = 0;
  int height = 0;
  LibraryBytes pixels(DecodeJpeg(raw, length, width, height));
  ASSERT_NE(pixels, nullptr);
  EXPECT_EQ(width, 123);
  EXPECT_EQ(height, 77);
}

struct BadRequest {
  float scale;
  int x, y, width, height;
};

class RefusedRegionTest : public RegionTest, public ::testing::WithParamInterface<BadRequest> {};

TEST_P(RefusedRegionTest, FailsWithoutHandingOutABuffer) {
  auto slide = Open(Bmp());
  const BadRequest r = GetParam();
  unsigned char* sentinel = reinterpret_cast<unsigned char*>(&sentinel);
  unsigned char* raw = sentinel;
  int length = 0;
  EXPECT_EQ(slide->ReadRegion(r.scale, r.x, r.y, r.width, r.height, &raw, length, false), 0);
  EXPECT_EQ(raw, nullptr);
  raw = sentinel;
  EXPECT_EQ(slide->ReadRegionMax(r.scale, r.x, r.y, r.width, r.height, &raw, length, false), 0);
  EXPECT_EQ(raw, nullptr);
  EXPECT_FALSE(slide->CanReadRegionMax(r.scale, r.x, r.y, r.width, r.height));
}

INSTANTIATE_TEST_SUITE_P(
    Requests, RefusedRegionTest,
    ::testing::Values(BadRequest{20.0f, 1001, 0, 10, 10},  // right of the slide
                      BadRequest{20.0f, 0, 701, 10, 10},   // below the slide
                      BadRequest{20.0f, -50, 0, 20, 10},   // left of the slide
                      BadRequest{20.0f, 0, -50, 10, 20},   // above the slide
                      BadRequest{20.0f, 10, 10, 0, 10},    // empty
                      BadRequest{20.0f, 10, 10, 10, -5},   // negative height
                      BadRequest{0.0f, 0, 0, 10, 10},      // no scale
                      BadRequest{-20.0f, 0, 0, 10, 10},    // negative scale
                      BadRequest{std::numeric_limits<float>::quiet_NaN(), 0, 0, 10, 10},
                      BadRequest{std::numeric_limits<float>::infinity(), 0, 0, 10, 10},
                      BadRequest{1e-30f, 0, 0, 10, 10}));  // no pixel at that scale

TEST_F(RegionTest, RegionOverTheMemoryBudgetFailsCleanly) {
  auto slide = Open(Bmp());
  unsigned char* raw = nullptr;
  int length = 0;
  // 20000 x 20000 x 3 bytes is far over 512 MiB, though it starts inside.
  EXPECT_EQ(slide->ReadRegion(20.0f, 0, 0, 20000, 20000, &raw, length, false), 0);
  EXPECT_EQ(raw, nullptr);
  EXPECT_EQ(slide->ReadRegion(20.0f, 0, 0, std::numeric_limits<int>::max(),
                              std::numeric_limits<int>::max(), &raw, length, false),
            0);
  EXPECT_EQ(raw, nullptr);
}

TEST_F(RegionTest, WithoutALoadedHeaderEveryRegionFails) {
  CZTXDataFile slide;
  unsigned char* raw = nullptr;
  int length = 0;
  EXPECT_EQ(slide.ReadRegion(20.0f, 0, 0, 10, 10, &raw, length, false), 0);
  EXPECT_EQ(slide.ReadRegionMax(20.0f, 0, 0, 10, 10, &raw, length, false), 0);
  EXPECT_FALSE(slide.CanReadRegionMax(20.0f, 0, 0, 10, 10));
  EXPECT_EQ(raw, nullptr);
}

TEST_F(RegionTest, MissingTilesStayWhiteAndShiftNothing) {
  ztx::ZtxLayout layout;
  SlideRecipe recipe = Bmp();
  path_ = MakeSlide(dir_, recipe, &layout);
  // Move the (0, 256) scan-level tile off its key by changing its y in the index.
  std::vector<unsigned char> bytes = ReadFileBytes(path_);
  int entry = -1;
  for (std::size_t i = 0; i < layout.tiles.size(); ++i) {
    const ztx::WrittenTile& t = layout.tiles[i];
    if (t.scale == 20.0f && t.x == 0 && t.y == 256) entry = static_cast<int>(i);
  }
  ASSERT_GE(entry, 0);
  // Each 64-byte entry starts with scale (f32), x (i32), y (i32).
  const std::size_t at = static_cast<std::size_t>(layout.indexOffset) + entry * 64 + 8;
  ASSERT_EQ(ReadI32(bytes, at), 256);
  reader::PutI32(bytes, at, 99999);
  WriteFileBytes(path_, bytes);
  int result = -1;
  auto slide = reader::OpenLoaded(path_, &result);
  ASSERT_EQ(result, 0);
  const Pixels region = Region(*slide, 20.0f, 0, 0, 512, 768);
  const std::vector<unsigned char> base = ExpectedBaseImage(kWidth, kHeight);
  for (int y = 0; y < 768; y += 17) {
    for (int x = 0; x < 512; x += 13) {
      const bool inMissingTile = x < 256 && y >= 256 && y < 512;
      const Rgb expected =
          inMissingTile ? Rgb{255, 255, 255} : ImagePixelOrWhite(base, kWidth, kHeight, x, y);
      ASSERT_EQ(region.At(x, y)[0], expected[0]) << x << "," << y;
      ASSERT_EQ(region.At(x, y)[2], expected[2]) << x << "," << y;
    }
  }
}

// ---- source scale selection ----

struct ScaleCase {
  int scanScale;
  int levelMode;
  float requested;
  float expected;
};

class SourceScaleTest : public RegionTest, public ::testing::WithParamInterface<ScaleCase> {};

TEST_P(SourceScaleTest, PicksTheLevelByTheOneAndAHalfRule) {
  const ScaleCase c = GetParam();
  SlideRecipe recipe;
  recipe.scanScale = c.scanScale;
  recipe.levelMode = c.levelMode;
  recipe.width = 600;
  recipe.height = 400;
  auto slide = Open(recipe);
  EXPECT_FLOAT_EQ(slide->SelectSourceScale(c.requested), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Scales, SourceScaleTest,
    ::testing::Values(ScaleCase{40, 0, 35.0f, 40.0f}, ScaleCase{40, 0, 25.0f, 20.0f},
                      ScaleCase{40, 0, 10.0f, 10.0f}, ScaleCase{40, 0, 30.0f, 20.0f},
                      ScaleCase{40, 0, 31.0f, 40.0f}, ScaleCase{40, 0, 80.0f, 40.0f},
                      ScaleCase{40, 1, 20.0f, 40.0f}, ScaleCase{40, 1, 10.0f, 10.0f},
                      ScaleCase{20, 0, 0.3f, 0.3125f}));

// ---- the scan-scale mosaic ----

struct MosaicCase {
  float scale;
  int x, y, width, height;
  int left, top, canvasWidth, canvasHeight;  // expected mosaic placement
};

class MosaicTest : public RegionTest, public ::testing::WithParamInterface<MosaicCase> {};

TEST_P(MosaicTest, HoldsTheWholeTilesUnderTheRectangle) {
  auto slide = Open(Bmp());
  const MosaicCase c = GetParam();
  ASSERT_TRUE(slide->CanReadRegionMax(c.scale, c.x, c.y, c.width, c.height));
  unsigned char* raw = nullptr;
  int length = 0;
  ASSERT_EQ(slide->ReadRegionMax(c.scale, c.x, c.y, c.width, c.height, &raw, length, false), 1);
  LibraryBytes owned(raw);
  ASSERT_EQ(length, c.canvasWidth * c.canvasHeight * 3);
  Pixels mosaic;
  mosaic.rgb.assign(raw, raw + length);
  mosaic.width = c.canvasWidth;
  mosaic.height = c.canvasHeight;
  const std::vector<unsigned char> base = ExpectedBaseImage(kWidth, kHeight);
  EXPECT_EQ(CountMismatches(mosaic, base, kWidth, kHeight, c.left, c.top), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Rectangles, MosaicTest,
    ::testing::Values(MosaicCase{20.0f, 300, 300, 300, 200, 256, 256, 512, 256},
                      MosaicCase{10.0f, 150, 150, 150, 100, 256, 256, 512, 256},
                      // Reaches past the right edge: clipped to 1000, whole tiles kept.
                      MosaicCase{20.0f, 700, 0, 300, 100, 512, 0, 512, 256},
                      MosaicCase{20.0f, 0, 0, 1000, 700, 0, 0, 1024, 768}));

TEST_F(RegionTest, EncodedMosaicIsAJpegOfTheCanvas) {
  auto slide = Open(Bmp());
  unsigned char* raw = nullptr;
  int length = 0;
  ASSERT_EQ(slide->ReadRegionMax(20.0f, 300, 300, 300, 200, &raw, length, true), 1);
  LibraryBytes owned(raw);
  int width = 0;
  int height = 0;
  LibraryBytes pixels(DecodeJpeg(raw, length, width, height));
  ASSERT_NE(pixels, nullptr);
  EXPECT_EQ(width, 512);
  EXPECT_EQ(height, 256);
}

TEST_F(RegionTest, HugeMosaicIsRefusedBeforeAnyAllocation) {
  path_ = MakeSlide(dir_, Bmp());
  // Claim a 100000 x 100000 slide: the mosaic would need about 30 GB.
  std::vector<unsigned char> bytes = ReadFileBytes(path_);
  reader::PutI32(bytes, 20, 100000);
  reader::PutI32(bytes, 24, 100000);
  WriteFileBytes(path_, bytes);
  int result = -1;
  auto slide = reader::OpenLoaded(path_, &result);
  ASSERT_EQ(result, 0);
  EXPECT_FALSE(slide->CanReadRegionMax(20.0f, 0, 0, 100000, 100000));
  unsigned char* raw = nullptr;
  int length = 7;
  EXPECT_EQ(slide->ReadRegionMax(20.0f, 0, 0, 100000, 100000, &raw, length, false), 0);
  EXPECT_EQ(raw, nullptr);
  EXPECT_EQ(length, 0);
  EXPECT_TRUE(slide->CanReadRegionMax(20.0f, 0, 0, 1000, 700));
}

TEST_F(RegionTest, MosaicOfAHugeRectangleIsClippedToTheSlide) {
  auto slide = Open(Bmp());
  EXPECT_TRUE(slide->CanReadRegionMax(20.0f, 0, 0, 100000, 100000));
  unsigned char* raw = nullptr;
  int length = 0;
  ASSERT_EQ(slide->ReadRegionMax(20.0f, 0, 0, 100000, 100000, &raw, length, false), 1);
  LibraryBytes owned(raw);
  EXPECT_EQ(length, 1024 * 768 * 3);
}

// ---- a level the file does not store ----

TEST_F(RegionTest, MissingLevelTileIsComposedFromTheScanLevel) {
  // Mode 1 stores 20x, 5x, ...; 10x is composed as a 256 x 256 JPEG.
  auto slide = Open(Bmp(20, 1));
  int length = 0;
  unsigned char* composed = nullptr;
  ASSERT_TRUE(slide->ComposeMissingLevelTile(10.0f, 0, 0, length, &composed));
  LibraryBytes owned(composed);
  int width = 0;
  int height = 0;
  LibraryBytes pixels(DecodeJpeg(composed, length, width, height));
  ASSERT_NE(pixels, nullptr);
  EXPECT_EQ(width, 256);
  EXPECT_EQ(height, 256);
  const Pixels region = Region(*slide, 10.0f, 0, 0, 256, 256);
  double error = 0.0;
  for (std::size_t i = 0; i < region.rgb.size(); ++i) {
    error += std::abs(static_cast<int>(pixels.get()[i]) - region.rgb[i]);
  }
  EXPECT_LT(error / region.rgb.size(), 3.0);
  // A quarter of the scan scale is stored: nothing is composed.
  unsigned char* none = nullptr;
  EXPECT_FALSE(slide->ComposeMissingLevelTile(5.0f, 0, 0, length, &none));
  EXPECT_EQ(none, nullptr);
}

// ---- several readers on one handle ----

TEST_F(RegionTest, RegionsFromFourThreadsBesideTheAdjustment) {
  auto slide = Open(Bmp());
  const Window windows[4] = {
      {0, 0, 300, 200}, {-20, 100, 400, 300}, {500, 300, 600, 500}, {10, 10, 999, 690}};
  const float scales[4] = {20.0f, 13.0f, 20.0f, 7.0f};
  std::vector<Pixels> expected;
  for (int t = 0; t < 4; ++t) {
    expected.push_back(
        Region(*slide, scales[t], windows[t].x, windows[t].y, windows[t].width, windows[t].height));
  }
  std::atomic<int> failures{0};
  std::atomic<bool> done{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 3; ++round) {
        unsigned char* raw = nullptr;
        int length = 0;
        const Window& w = windows[t];
        if (slide->ReadRegion(scales[t], w.x, w.y, w.width, w.height, &raw, length, false) != 1) {
          ++failures;
          continue;
        }
        LibraryBytes owned(raw);
        if (std::vector<unsigned char>(raw, raw + length) != expected[t].rgb) ++failures;
      }
    });
  }
  std::thread adjuster([&] {
    int round = 0;
    while (!done.load()) {
      unsigned char* raw = nullptr;
      int length = 0;
      const float gamma = (round++ % 2 == 0) ? 0.7f : 1.4f;
      slide->ReadTileAdjusted(20.0f, 256, 0, length, &raw, gamma, 1.2f, 0.0f, 0.0f, 0.0f, 0.0f);
      LibraryBytes owned(raw);
      if (raw == nullptr || length <= 0) ++failures;
    }
  });
  for (std::thread& t : threads) t.join();
  done = true;
  adjuster.join();
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace strata::test
