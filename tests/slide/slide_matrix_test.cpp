// Every façade operation on every format the library opens (slide_formats.h):
// opening and detection, facts and levels, properties, first and last tiles
// of each level, regions of every level against an independent picture,
// the outside of the slide, scaled reads, associated images, the ICC
// profile, the best level for a downsample, and requests that must fail.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "slide/slide_formats.h"
#include "strata/model/image_buffer.h"
#include "strata/model/tile_decoder.h"

namespace strata::test {
namespace {

using Code = Status::Code;

struct Cell {
  std::int64_t column, row;
};

// The top-left w x h of an RGB image; empty when it is smaller.
Image Cropped(const Image& rgb, int w, int h) {
  Image cut;
  if (rgb.width < w || rgb.height < h) return cut;
  cut.width = w;
  cut.height = h;
  cut.channels = 3;
  for (int y = 0; y < h; ++y) {
    const auto row = rgb.pixels.begin() + static_cast<std::ptrdiff_t>(y) * rgb.width * 3;
    cut.pixels.insert(cut.pixels.end(), row, row + w * 3);
  }
  return cut;
}

// A tile's stored bytes to its cell's RGB pixels, by the decoder alone.
Image DecodedTile(const Tile& tile) {
  Image rgb;
  rgb.width = tile.width;
  rgb.height = tile.height;
  rgb.channels = 3;
  if (tile.encoding == TileEncoding::kRgb) {
    rgb.pixels.assign(tile.bytes.begin(), tile.bytes.end());
    return rgb;
  }
  int w = 0, h = 0;
  const PixelBuffer pixels = DecodeTileStream(tile.bytes.data(), tile.bytes.size(),
                                              tile.encoding == TileEncoding::kBmp, kAnyFrame, w, h);
  if (pixels == nullptr) return {};
  rgb.width = w;
  rgb.height = h;
  rgb.pixels.assign(pixels.get(), pixels.get() + static_cast<std::size_t>(w) * h * 3);
  return Cropped(rgb, tile.width, tile.height);
}

Rgba Opaque(const Image& rgb) {
  Rgba rgba;
  for (std::size_t n = 0; n < rgb.pixels.size(); n += 3) {
    rgba.insert(rgba.end(), {rgb.pixels[n], rgb.pixels[n + 1], rgb.pixels[n + 2], 255});
  }
  return rgba;
}

// Byte for byte, or (tolerance > 0) alpha exact and colours within a mean
// absolute difference.
::testing::AssertionResult Matches(const Rgba& actual, const Rgba& expected, double tolerance) {
  if (actual.size() != expected.size()) {
    return ::testing::AssertionFailure() << actual.size() << " bytes, expected " << expected.size();
  }
  double difference = 0;
  for (std::size_t n = 0; n < actual.size(); ++n) {
    const int delta = std::abs(actual[n] - expected[n]);
    if (delta != 0 && (tolerance == 0 || n % 4 == 3)) {
      return ::testing::AssertionFailure()
             << "pixel " << n / 4 << " channel " << n % 4 << " is " << int{actual[n]}
             << ", expected " << int{expected[n]};
    }
    difference += delta;
  }
  const double mean = actual.empty() ? 0 : difference / static_cast<double>(actual.size());
  if (mean > tolerance) return ::testing::AssertionFailure() << "mean difference " << mean;
  return ::testing::AssertionSuccess();
}

class SlideMatrix : public ::testing::TestWithParam<SlideCase> {
 protected:
  void SetUp() override {
    slide_ = OpenCase(Case());
    ASSERT_NE(slide_, nullptr);
  }
  const SlideCase& Case() const { return GetParam(); }
  int LevelCount() const { return static_cast<int>(slide_->Levels().size()); }
  const SlideLevel& Level(int n) const { return slide_->Levels()[static_cast<std::size_t>(n)]; }
  Cell LastCell(int level) const {
    const SlideLevel& info = Level(level);
    return {(info.width + info.tileWidth - 1) / info.tileWidth - 1,
            (info.height + info.tileHeight - 1) / info.tileHeight - 1};
  }
  // The level-0 position of a level position (downsamples are whole here
  // or the reference takes the same rounding).
  std::int64_t Base(int level, std::int64_t levelPosition) const {
    return static_cast<std::int64_t>(std::llround(levelPosition * Level(level).downsample));
  }

  Rgba Region(int level, std::int64_t x, std::int64_t y, int w, int h) const {
    Image rgba;
    const Status read = slide_->ReadRegion(level, x, y, w, h, &rgba);
    EXPECT_TRUE(read.ok()) << read.message();
    EXPECT_EQ(rgba.width, w);
    EXPECT_EQ(rgba.height, h);
    EXPECT_EQ(rgba.channels, 4);
    return Rgba(rgba.pixels.begin(), rgba.pixels.end());
  }

  // The level put together from its decoded tiles, with a margin on every
  // side that stays transparent.
  Rgba AssembledLevel(int level, int margin) const {
    const SlideLevel& info = Level(level);
    const int width = static_cast<int>(info.width) + 2 * margin;
    const int height = static_cast<int>(info.height) + 2 * margin;
    Rgba canvas(static_cast<std::size_t>(width) * height * 4, 0);
    const Cell last = LastCell(level);
    for (std::int64_t row = 0; row <= last.row; ++row) {
      for (std::int64_t column = 0; column <= last.column; ++column) {
        Tile tile;
        if (!slide_->ReadTile(level, column, row, &tile).ok()) continue;
        const Rgba pixels = Opaque(DecodedTile(tile));
        // A tile larger than its cell is reported by the tile test.
        if (column * info.tileWidth + tile.width > info.width ||
            row * info.tileHeight + tile.height > info.height) {
          continue;
        }
        for (int y = 0; y < tile.height && !pixels.empty(); ++y) {
          const std::size_t to =
              (static_cast<std::size_t>(row * info.tileHeight + y + margin) * width +
               column * info.tileWidth + margin) * 4;
          std::copy_n(&pixels[static_cast<std::size_t>(y) * tile.width * 4], tile.width * 4,
                      &canvas[to]);
        }
      }
    }
    return canvas;
  }

  std::unique_ptr<Slide> slide_;
};

TEST_P(SlideMatrix, OpensAndDetectsItsFormat) {
  EXPECT_EQ(slide_->Facts().format, Case().format);
  EXPECT_EQ(DetectCase(Case()), Case().detected);
  EXPECT_EQ(slide_->Location(), Case().make());
  EXPECT_GT(slide_->Facts().width, 0);
  EXPECT_GT(slide_->Facts().height, 0);
  // The same name without its file: a reason, and no slide.
  std::unique_ptr<Slide> missing;
  const Status opened = Slide::Open(Case().make() + ".missing", &missing);
  EXPECT_FALSE(opened.ok());
  EXPECT_FALSE(opened.message().empty());
  EXPECT_EQ(missing, nullptr);
}

TEST_P(SlideMatrix, LevelsDescendFromTheFacts) {
  ASSERT_GE(LevelCount(), 2);
  EXPECT_EQ(Level(0).width, slide_->Facts().width);
  EXPECT_EQ(Level(0).height, slide_->Facts().height);
  EXPECT_EQ(Level(0).downsample, 1.0);
  for (int n = 0; n < LevelCount(); ++n) {
    const SlideLevel& level = Level(n);
    EXPECT_GT(level.tileWidth, 0) << n;
    EXPECT_GT(level.tileHeight, 0) << n;
    // The level spans the slide, to within a pixel of the level.
    EXPECT_LE(std::fabs(level.width * level.downsample - Level(0).width), level.downsample) << n;
    EXPECT_LE(std::fabs(level.height * level.downsample - Level(0).height), level.downsample) << n;
    if (n > 0) {
      EXPECT_GT(level.downsample, Level(n - 1).downsample) << n;
    }
  }
  if (Case().reference != Reference::kOpenSlide) return;
  const std::vector<SlideLevel> theirs = ReferenceLevels(Case());
  ASSERT_EQ(theirs.size(), slide_->Levels().size());
  for (std::size_t n = 0; n < theirs.size(); ++n) {
    EXPECT_EQ(slide_->Levels()[n].width, theirs[n].width);
    EXPECT_EQ(slide_->Levels()[n].height, theirs[n].height);
    EXPECT_EQ(slide_->Levels()[n].downsample, theirs[n].downsample);
  }
}

TEST_P(SlideMatrix, PropertiesCarryTheVendorsKeys) {
  const auto& properties = slide_->Properties();
  for (const std::string& key : Case().vendorKeys) EXPECT_EQ(properties.count(key), 1u) << key;
  ASSERT_EQ(properties.count("openslide.vendor"), 1u);
  EXPECT_EQ(properties.at("openslide.vendor"), Case().format);
  EXPECT_EQ(properties.at("openslide.level-count"), std::to_string(LevelCount()));
  if (Case().reference != Reference::kOpenSlide) return;
  for (const auto& [key, value] : ReferenceProperties(Case())) {
    const auto ours = properties.find(key);
    ASSERT_NE(ours, properties.end()) << key;
    EXPECT_EQ(ours->second, value) << key;
  }
}

TEST_P(SlideMatrix, FirstAndLastTilesOfEveryLevelDecodeToTheirPixels) {
  for (int level = 0; level < LevelCount(); ++level) {
    const SlideLevel& info = Level(level);
    const Cell last = LastCell(level);
    for (const Cell cell : {Cell{0, 0}, last}) {
      SCOPED_TRACE("level " + std::to_string(level) + " tile " + std::to_string(cell.column) +
                   "," + std::to_string(cell.row));
      Tile tile;
      const Status read = slide_->ReadTile(level, cell.column, cell.row, &tile);
      ASSERT_TRUE(read.ok()) << read.message();
      const std::int64_t left = cell.column * info.tileWidth;
      const std::int64_t top = cell.row * info.tileHeight;
      EXPECT_EQ(tile.width, std::min<std::int64_t>(info.tileWidth, info.width - left));
      EXPECT_EQ(tile.height, std::min<std::int64_t>(info.tileHeight, info.height - top));
      Image pixels;
      ASSERT_TRUE(slide_->ReadTilePixels(level, cell.column, cell.row, &pixels).ok());
      if (Case().regionCaveat != nullptr) continue;
      const Image decoded = DecodedTile(tile);
      ASSERT_FALSE(decoded.pixels.empty());
      EXPECT_EQ(Cropped(pixels, tile.width, tile.height).pixels, decoded.pixels);
      // The region over the tile's cell is its pixels, and so is the reference.
      const Rgba region =
          Region(level, Base(level, left), Base(level, top), tile.width, tile.height);
      EXPECT_TRUE(Matches(region, Opaque(decoded), 0));
      const Rgba expected = ExpectedRegion(Case(), *slide_, level, Base(level, left),
                                           Base(level, top), tile.width, tile.height);
      if (!expected.empty()) {
        EXPECT_TRUE(Matches(Opaque(decoded), expected, Case().tolerance));
      }
    }
    // Past the grid: no such cell (DICOM says the grid has no such place).
    Tile beyond;
    for (const Cell cell : {Cell{last.column + 1, 0}, Cell{0, last.row + 1}}) {
      const Code code = slide_->ReadTile(level, cell.column, cell.row, &beyond).code();
      EXPECT_TRUE(code == Code::kNotFound || code == Code::kOutOfRange) << static_cast<int>(code);
    }
  }
  if (Case().regionCaveat != nullptr) GTEST_SKIP() << "tile pixels: " << Case().regionCaveat;
}

// Each level whole with a margin around it: the reference's picture (byte
// for byte where the reference is exact), and the level's own tiles where
// the reference is only close or missing.
TEST_P(SlideMatrix, RegionsOfEveryLevelAreTheReference) {
  const int margin = Case().paintsOutside != nullptr ? 0 : 9;
  for (int level = 0; level < LevelCount(); ++level) {
    SCOPED_TRACE("level " + std::to_string(level));
    const int w = static_cast<int>(Level(level).width) + 2 * margin;
    const int h = static_cast<int>(Level(level).height) + 2 * margin;
    const std::int64_t origin = -Base(level, margin);
    const Rgba region = Region(level, origin, origin, w, h);
    if (Case().regionCaveat != nullptr) GTEST_SKIP() << "region pixels: " << Case().regionCaveat;
    const Rgba expected = ExpectedRegion(Case(), *slide_, level, origin, origin, w, h);
    if (!expected.empty()) {
      EXPECT_TRUE(Matches(region, expected, Case().tolerance));
    }
    if (Case().tolerance > 0) {
      EXPECT_TRUE(Matches(region, AssembledLevel(level, margin), 0));
    }
  }
}

TEST_P(SlideMatrix, OutsideTheSlideIsTransparent) {
  if (Case().paintsOutside != nullptr) GTEST_SKIP() << Case().paintsOutside;
  if (Case().regionCaveat != nullptr) GTEST_SKIP() << Case().regionCaveat;
  for (int level = 0; level < LevelCount(); ++level) {
    const SlideLevel& info = Level(level);
    // Over the bottom-right corner: 10 x 10 inside, the rest outside, but
    // for a seam where a fractional downsample puts the corner between
    // level pixels (the region test holds those to OpenSlide's).
    const Rgba corner = Region(level, Base(level, info.width - 10), Base(level, info.height - 10),
                               30, 30);
    for (int y = 0; y < 30; ++y) {
      for (int x = 0; x < 30; ++x) {
        const unsigned char* pixel = &corner[(static_cast<std::size_t>(y) * 30 + x) * 4];
        if (x < 9 && y < 9) {
          ASSERT_EQ(pixel[3], 255) << "level " << level << " at " << x << "," << y;
        } else if (x > 10 || y > 10) {
          ASSERT_EQ(pixel[0] | pixel[1] | pixel[2] | pixel[3], 0)
              << "level " << level << " at " << x << "," << y;
        }
      }
    }
    const Rgba away = Region(level, -Base(level, 500), Base(level, 20), 40, 40);
    EXPECT_TRUE(std::all_of(away.begin(), away.end(), [](unsigned char b) { return b == 0; }));
  }
}

TEST_P(SlideMatrix, ScaledReadsComposeTheLevels) {
  const double power = slide_->Facts().objectivePower > 0 ? slide_->Facts().objectivePower : 1.0;
  const std::int64_t x = slide_->Facts().width / 3, y = slide_->Facts().height / 3;
  Image scaled;
  ASSERT_TRUE(slide_->ReadScaled(power, x, y, 300, 200, &scaled).ok());
  ASSERT_EQ(scaled.channels, 3);
  ASSERT_EQ(scaled.pixels.size(), 300u * 200 * 3);
  if (Case().regionCaveat != nullptr) GTEST_SKIP() << "scaled pixels: " << Case().regionCaveat;
  EXPECT_TRUE(Matches(Opaque(scaled), Region(0, x, y, 300, 200), 0));
  // Past the slide's corner the picture is white.
  Image corner;
  ASSERT_TRUE(slide_->ReadScaled(power, slide_->Facts().width - 4, slide_->Facts().height - 4, 12,
                                 12, &corner)
                  .ok());
  EXPECT_TRUE(std::all_of(corner.pixels.end() - 3 * 4, corner.pixels.end(),
                          [](unsigned char b) { return b == 255; }));
  // Below the smallest level: the whole slide, shrunk, and not blank.
  const double small = power / Level(LevelCount() - 1).downsample / 3;
  const int w = static_cast<int>(slide_->Facts().width * small / power);
  const int h = static_cast<int>(slide_->Facts().height * small / power);
  Image thumbnail;
  ASSERT_TRUE(slide_->ReadScaled(small, 0, 0, w, h, &thumbnail).ok());
  ASSERT_EQ(thumbnail.pixels.size(), static_cast<std::size_t>(w) * h * 3);
  EXPECT_FALSE(std::all_of(thumbnail.pixels.begin(), thumbnail.pixels.end(),
                           [&](unsigned char b) { return b == thumbnail.pixels[0]; }));
}

TEST_P(SlideMatrix, AssociatedImagesByName) {
  EXPECT_EQ(slide_->AssociatedImageNames(), Case().images);
  for (const std::string& name : slide_->AssociatedImageNames()) {
    Image image;
    const Status read = slide_->ReadAssociatedImage(name, &image);
    ASSERT_TRUE(read.ok()) << name << ": " << read.message();
    ASSERT_FALSE(image.empty()) << name;
    EXPECT_EQ(image.pixels.size(), static_cast<std::size_t>(image.width) * image.height * 3);
    const Image expected = ExpectedAssociatedImage(Case(), name);
    if (expected.empty()) continue;
    EXPECT_EQ(image.width, expected.width) << name;
    EXPECT_EQ(image.height, expected.height) << name;
    EXPECT_TRUE(image.pixels == expected.pixels) << name;
  }
  Image none;
  EXPECT_EQ(slide_->ReadAssociatedImage("overview-of-nothing", &none).code(), Code::kNotFound);
}

TEST_P(SlideMatrix, IccProfileIsTheStoredOne) {
  EXPECT_EQ(slide_->IccProfile(), Case().iccProfile);
}

TEST_P(SlideMatrix, BestLevelForDownsample) {
  EXPECT_EQ(slide_->BestLevelForDownsample(0.5), 0);
  EXPECT_EQ(slide_->BestLevelForDownsample(1e9), LevelCount() - 1);
  for (int n = 0; n < LevelCount(); ++n) {
    const double downsample = Level(n).downsample;
    EXPECT_EQ(slide_->BestLevelForDownsample(downsample), n);
    EXPECT_EQ(slide_->BestLevelForDownsample(downsample * 0.999), std::max(n - 1, 0));
  }
}

TEST_P(SlideMatrix, BadRequestsFailWithAReason) {
  Image image;
  Tile tile;
  const int count = LevelCount();
  EXPECT_EQ(slide_->ReadRegion(-1, 0, 0, 8, 8, &image).code(), Code::kOutOfRange);
  EXPECT_EQ(slide_->ReadRegion(count, 0, 0, 8, 8, &image).code(), Code::kOutOfRange);
  EXPECT_EQ(slide_->ReadTile(count, 0, 0, &tile).code(), Code::kOutOfRange);
  EXPECT_EQ(slide_->ReadTile(0, -1, 0, &tile).code(), Code::kInvalidArgument);
  EXPECT_EQ(slide_->ReadRegion(0, 0, 0, -5, 8, &image).code(), Code::kInvalidArgument);
  EXPECT_EQ(slide_->ReadRegion(0, 0, 0, 8, -5, &image).code(), Code::kInvalidArgument);
  EXPECT_EQ(slide_->ReadRegion(0, 0, 0, 30000, 30000, &image).code(), Code::kTooLarge);
  EXPECT_EQ(slide_->ReadRegion(count - 1, 0, 0, std::numeric_limits<int>::max(),
                               std::numeric_limits<int>::max(), &image)
                .code(),
            Code::kTooLarge);
  EXPECT_EQ(slide_->ReadScaled(1.0, 0, 0, 30000, 30000, &image).code(), Code::kTooLarge);
  EXPECT_EQ(slide_->ReadScaled(0.0, 0, 0, 8, 8, &image).code(), Code::kInvalidArgument);
  EXPECT_EQ(slide_->ReadScaled(std::nan(""), 0, 0, 8, 8, &image).code(), Code::kInvalidArgument);
  EXPECT_EQ(slide_->ReadScaled(1.0, 0, 0, 0, 8, &image).code(), Code::kInvalidArgument);
  // Far outside the slide: a result or a failure, never a crash.
  const Status far = slide_->ReadRegion(0, std::int64_t{1} << 40, std::int64_t{1} << 40, 16, 16,
                                        &image);
  if (far.ok() && Case().paintsOutside == nullptr) {
    EXPECT_TRUE(std::all_of(image.pixels.begin(), image.pixels.end(),
                            [](unsigned char b) { return b == 0; }));
  }
}

std::string CaseName(const ::testing::TestParamInfo<SlideCase>& info) {
  std::string name = info.param.name;
  std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
  return name;
}

INSTANTIATE_TEST_SUITE_P(Formats, SlideMatrix, ::testing::ValuesIn(SlideCases()), CaseName);

}  // namespace
}  // namespace strata::test
