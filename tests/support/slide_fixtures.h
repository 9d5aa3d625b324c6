// Fixture slides for every test suite, made at test time with the project's
// own ZTX writer. The base level follows a fixed pattern (ExpectedBasePixel),
// so BMP slides can be checked pixel by pixel and JPEG slides approximately.
#ifndef STRATA_TESTS_SUPPORT_SLIDE_FIXTURES_H_
#define STRATA_TESTS_SUPPORT_SLIDE_FIXTURES_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "strata/ztx/ztx_writer.h"
#include "support/test_files.h"

namespace strata::test {

// What a fixture slide looks like. The defaults give a small 1.3 JPEG slide
// with label, preview and thumbnail.
struct SlideRecipe {
  float version = 1.3f;
  bool longMagic = false;
  ztx::TileEncoding encoding = ztx::TileEncoding::kJpeg;
  int width = 1000;
  int height = 700;
  int scanScale = 20;
  int blockSize = 256;
  int levelMode = 0;
  int smallestLevel = 256;
  bool compressIndex = false;
  int channelCount = 0;
  int jpegQuality = 90;
  std::vector<ztx::PropertyItem> items;  // 1.2 and later
  bool withLabel = true;
  bool withPreview = true;
  bool withThumbnail = true;  // ignored for 1.0, which has none
  std::int64_t scanTime = 0;
  std::uint32_t spendTimeMs = 0;
  float captureResolution = 0.0f;
  std::string fileName = "slide.ztx";
};

// Sizes of the associated images MakeSlide stores.
constexpr int kLabelWidth = 240;
constexpr int kLabelHeight = 120;
constexpr int kPreviewWidth = 320;
constexpr int kPreviewHeight = 160;

using Rgb = std::array<unsigned char, 3>;

// The base-level pixel at (x, y) of every fixture slide: gradients plus a
// colour offset hashed from the 256-pixel cell, so that neighbouring tiles
// differ. Never white (each channel is at most 254).
Rgb ExpectedBasePixel(int x, int y);

// The whole base level, width * height * 3 bytes.
std::vector<unsigned char> ExpectedBaseImage(int width, int height);

// Pyramid level `level` (0 = base) as the writer makes it: each step takes
// the rounded mean of 2 x 2 blocks, averaging only existing pixels at odd
// edges. Computed independently of the writer, for small slides.
std::vector<unsigned char> ExpectedLevelImage(int width, int height, int level, int* levelWidth,
                                              int* levelHeight);

// Fills rows of the pattern; usable as a ZtxWriter RowSource.
ztx::RowSource PatternRowSource(int width);

// Small associated images. JPEG streams unless `bmp` (thumbnail only).
ztx::StoredImage MakeLabelImage();
ztx::StoredImage MakePreviewImage();
// A thumbnail of the slide at the size the reader keeps unchanged (the slide
// halved until it fits in 256 x 256).
ztx::StoredImage MakeThumbnailImage(int slideWidth, int slideHeight, bool bmp);

// The thumbnail size MakeThumbnailImage chooses.
void ThumbnailSize(int slideWidth, int slideHeight, int* width, int* height);

// Writer options for a recipe (tests may adjust them before writing).
ztx::ZtxWriterOptions OptionsFor(const SlideRecipe& recipe);

// Writes the slide into `dir` and returns its path. A failure is reported as
// a test failure and gives "".
std::string MakeSlide(const TempDir& dir, const SlideRecipe& recipe,
                      ztx::ZtxLayout* layout = nullptr);

// Writes a slide with explicit options and the pattern source.
std::string MakeSlideWithOptions(const TempDir& dir, const std::string& fileName, int width,
                                 int height, const ztx::ZtxWriterOptions& options,
                                 ztx::ZtxLayout* layout = nullptr);

// Little-endian field reads from file bytes, for layout checks.
std::int32_t ReadI32(const std::vector<unsigned char>& bytes, std::size_t at);
std::uint32_t ReadU32(const std::vector<unsigned char>& bytes, std::size_t at);
std::int64_t ReadI64(const std::vector<unsigned char>& bytes, std::size_t at);
float ReadF32(const std::vector<unsigned char>& bytes, std::size_t at);

}  // namespace strata::test

#endif  // STRATA_TESTS_SUPPORT_SLIDE_FIXTURES_H_
