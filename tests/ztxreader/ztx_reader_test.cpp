// The reader core as C++ callers see it: result buffer reuse, code-page
// handling of paths that Python cannot pass, and regions against the
// fixture pattern.
#include "ztxreader/ztx_reader.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "support/slide_fixtures.h"
#include "support/test_files.h"

namespace {

using strata::test::ExpectedBasePixel;
using strata::test::MakeSlide;
using strata::test::SlideRecipe;
using strata::test::TempDir;

SlideRecipe BmpSlide(const std::string& fileName) {
  SlideRecipe recipe;
  recipe.encoding = strata::ztx::TileEncoding::kBmp;
  recipe.width = 700;
  recipe.height = 500;
  recipe.fileName = fileName;
  return recipe;
}

// Checks a BGR region against the fixture pattern, white outside 700 x 500.
void ExpectRegion(const unsigned char* data, int x, int y, int w, int h) {
  for (int row = 0; row < h; ++row) {
    for (int column = 0; column < w; ++column) {
      const unsigned char* pixel = data + (static_cast<std::size_t>(row) * w + column) * 3;
      const int sx = x + column;
      const int sy = y + row;
      if (sx < 0 || sy < 0 || sx >= 700 || sy >= 500) {
        ASSERT_EQ(pixel[0] & pixel[1] & pixel[2], 255) << sx << "," << sy;
        continue;
      }
      const auto rgb = ExpectedBasePixel(sx, sy);
      ASSERT_EQ(pixel[0], rgb[2]) << sx << "," << sy;
      ASSERT_EQ(pixel[1], rgb[1]) << sx << "," << sy;
      ASSERT_EQ(pixel[2], rgb[0]) << sx << "," << sy;
    }
  }
}

class ReaderTest : public ::testing::TestWithParam<bool> {};

TEST_P(ReaderTest, RegionsMatchThePatternInsideAndOutside) {
  TempDir dir;
  const std::string path = MakeSlide(dir, BmpSlide("slide.ztx"));
  lumora::reader reader;
  ASSERT_TRUE(reader.ReadInfo(path, 0.0, GetParam()));
  EXPECT_EQ(reader.getWidth(), 700);
  EXPECT_EQ(reader.getHeight(), 500);
  for (const auto& [x, y, w, h] : std::vector<std::array<int, 4>>{
           {0, 0, 700, 500}, {250, 250, 300, 10}, {-20, 480, 60, 40}, {690, -5, 30, 30}}) {
    unsigned char* data = nullptr;
    int size = 0;
    reader.ReadRoi(x, y, w, h, 20.0, &data, &size);
    ASSERT_EQ(size, w * h * 3);
    ExpectRegion(data, x, y, w, h);
  }
}

TEST_P(ReaderTest, ResultBufferIsReusedOnlyWhileNobodyHoldsIt) {
  TempDir dir;
  const std::string path = MakeSlide(dir, BmpSlide("slide.ztx"));
  lumora::reader reader;
  ASSERT_TRUE(reader.ReadInfo(path, 0.0, GetParam()));
  unsigned char* first = nullptr;
  unsigned char* second = nullptr;
  int size = 0;
  reader.ReadRoi(0, 0, 64, 64, 20.0, &first, &size);
  reader.ReadRoi(64, 64, 64, 64, 20.0, &second, &size);
  EXPECT_EQ(first, second);  // same size: same buffer

  const lumora::reader::SharedPixels held = reader.sharedResult();
  ASSERT_EQ(held.get(), second);
  unsigned char* third = nullptr;
  reader.ReadRoi(0, 0, 64, 64, 20.0, &third, &size);
  EXPECT_NE(third, held.get());  // the held pixels stay as they were
  ExpectRegion(held.get(), 64, 64, 64, 64);
  ExpectRegion(third, 0, 0, 64, 64);

  unsigned char* other = nullptr;
  reader.ReadRoi(0, 0, 10, 10, 20.0, &other, &size);
  EXPECT_EQ(size, 300);
  ExpectRegion(other, 0, 0, 10, 10);
  EXPECT_EQ(reader.clear(), 0);
  EXPECT_EQ(reader.sharedResult(), nullptr);
  ExpectRegion(held.get(), 64, 64, 64, 64);
}

INSTANTIATE_TEST_SUITE_P(Modes, ReaderTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Whole" : "Block"; });

TEST(ReaderPathTest, PathInTheZhCnCodePagePassesUnchanged) {
  TempDir dir;
  // "切片.ztx" in GBK: not UTF-8, so the reader hands it over byte for byte.
  const std::string gbkName = "\xC7\xD0\xC6\xAC.ztx";
  const std::string path = MakeSlide(dir, BmpSlide(gbkName));
  ASSERT_FALSE(path.empty());
  lumora::reader reader;
  ASSERT_TRUE(reader.ReadInfo(path));
  unsigned char* data = nullptr;
  int size = 0;
  reader.ReadRoi(100, 100, 20, 20, 20.0, &data, &size);
  ExpectRegion(data, 100, 100, 20, 20);
}

TEST(ReaderPathTest, Utf8PathIsConvertedToTheZhCnCodePage) {
  TempDir dir;
  const std::string path = MakeSlide(dir, BmpSlide("\xC7\xD0\xC6\xAC.ztx"));
  ASSERT_FALSE(path.empty());
  lumora::reader reader;
  EXPECT_TRUE(reader.ReadInfo(dir.path() + "/\xE5\x88\x87\xE7\x89\x87.ztx"));  // UTF-8
  EXPECT_EQ(reader.getWidth(), 700);
}

TEST(ReaderPathTest, CharacterCutOffAtTheEndCountsAsUtf8AndFailsToConvert) {
  lumora::reader reader;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(reader.ReadInfo("slide.ztx\xE5\x88"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), " not a ztx file.\n");
}

// A failed open says so on stderr and leaves stdout to the caller, in both
// open modes.
TEST(ReaderPathTest, MissingSlideWritesNothingToStdout) {
  TempDir dir;
  const std::string missing = dir.File("missing.ztx");
  for (const bool readAll : {false, true}) {
    lumora::reader reader;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(reader.ReadInfo(missing, 0.0, readAll));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Read " + missing + " failed.\n");
  }
}

TEST(ReaderPathTest, FourByteSequenceIsNotUtf8AndPassesUnchanged) {
  lumora::reader reader;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(reader.ReadInfo("\xF0\x9F\x94\xAC.ZTX"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "\xF0\x9F\x94\xAC.ZTX not a ztx file.\n");
}

TEST(ReaderPreviewTest, PreviewPixelsBelongToTheCaller) {
  TempDir dir;
  const std::string path = MakeSlide(dir, BmpSlide("slide.ztx"));
  lumora::reader reader;
  ASSERT_TRUE(reader.ReadInfo(path));
  unsigned char* data = nullptr;
  int size = 0;
  EXPECT_EQ(reader.ReadPreview(&data, &size), strata::test::kPreviewWidth);
  EXPECT_EQ(size, strata::test::kPreviewWidth * strata::test::kPreviewHeight * 3);
  lumora::reader::releaseImage(data);
  data = nullptr;
  EXPECT_EQ(reader.readLabelImage(&data, &size), strata::test::kLabelWidth);
  lumora::reader::releaseImage(data);
}

}  // namespace
