// SVS and generic TIFF written at test time, read by the native reader and
// compared with Debian's OpenSlide on the same files: properties, levels,
// associated images, every tile of every level, regions at every level
// (whole and fractional level positions, negative positions, edges), and
// stored JPEG tiles handed out with their tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "strata/model/slide_format.h"
#include "strata/tiff/tiff_slide.h"
#include "tiff/tiff_reference.h"

namespace strata::test {
namespace {

using tools::SvsTileCoding;

class NativeTiff : public ::testing::TestWithParam<TiffRecipe> {
 protected:
  void SetUp() override {
    path_ = TiffSlidePath(GetParam());
    ASSERT_FALSE(path_.empty());
    ASSERT_TRUE(tiff::TiffSlide::Open(path_, &slide_).ok());
    reference_ = std::make_unique<ReferenceSlide>(path_);
    ASSERT_TRUE(reference_->ok());
  }
  const SlideLevel& Level(int n) const {
    return slide_->Description().levels[static_cast<std::size_t>(n)];
  }
  int LevelCount() const { return static_cast<int>(slide_->Description().levels.size()); }
  // Debian's OpenSlide reads tiles that are not JPEG through libtiff's RGBA
  // interface, which fails on levels narrower or shorter than one tile.
  bool ReferenceReads(int level) const {
    return IsJpeg(GetParam()) ||
           (Level(level).width >= Level(level).tileWidth &&
            Level(level).height >= Level(level).tileHeight);
  }

  std::string path_;
  std::unique_ptr<tiff::TiffSlide> slide_;
  std::unique_ptr<ReferenceSlide> reference_;
};

TEST_P(NativeTiff, DescribesTheSlideAsOpenSlideDoes) {
  const SlideDescription& description = slide_->Description();
  EXPECT_EQ(description.properties, reference_->Properties());
  const std::vector<SlideLevel> levels = reference_->Levels();
  ASSERT_EQ(description.levels.size(), levels.size());
  for (std::size_t n = 0; n < levels.size(); ++n) {
    EXPECT_EQ(description.levels[n].width, levels[n].width);
    EXPECT_EQ(description.levels[n].height, levels[n].height);
    EXPECT_EQ(description.levels[n].downsample, levels[n].downsample);  // bit for bit
  }
  EXPECT_EQ(description.facts.format, GetParam().options.aperioDescription ? "aperio"
                                                                            : "generic-tiff");
  EXPECT_EQ(description.iccProfile, GetParam().options.iccProfile);
  ASSERT_EQ(description.associatedImages, reference_->AssociatedImageNames());
  for (const std::string& name : description.associatedImages) {
    Image native;
    ASSERT_TRUE(slide_->ReadAssociatedImage(name, &native).ok()) << name;
    const Image expected = reference_->AssociatedImage(name);
    EXPECT_EQ(native.width, expected.width) << name;
    EXPECT_EQ(native.height, expected.height) << name;
    EXPECT_TRUE(native.pixels == expected.pixels) << name;
  }
}

TEST_P(NativeTiff, EveryTileOfEveryLevelIsTheLevelsPixels) {
  const bool lossless = !IsJpeg(GetParam());
  for (int level = 0; level < LevelCount(); ++level) {
    const SlideLevel& info = Level(level);
    const int w = static_cast<int>(info.width);
    const int h = static_cast<int>(info.height);
    std::vector<unsigned char> expected;
    if (lossless) {
      expected = WrittenLevel(GetParam().options, level);
    } else {
      // Whole level pixels from the level's origin: OpenSlide copies tiles.
      for (const std::uint32_t pixel : reference_->Argb(level, 0, 0, w, h)) {
        ASSERT_EQ(pixel >> 24, 255u);
        expected.insert(expected.end(), {static_cast<unsigned char>(pixel >> 16),
                                         static_cast<unsigned char>(pixel >> 8),
                                         static_cast<unsigned char>(pixel)});
      }
    }
    for (std::int64_t row = 0; row * info.tileHeight < h; ++row) {
      for (std::int64_t column = 0; column * info.tileWidth < w; ++column) {
        Tile tile;
        ASSERT_TRUE(slide_->ReadTile(level, column, row, &tile).ok());
        EXPECT_EQ(tile.encoding, lossless ? TileEncoding::kRgb : TileEncoding::kJpeg);
        int dw = 0, dh = 0;
        const PixelBuffer pixels = slide_->DecodeTile(level, tile, dw, dh);
        ASSERT_NE(pixels, nullptr);
        ASSERT_GE(dw, tile.width);
        for (int y = 0; y < tile.height; ++y) {
          const std::size_t at =
              (static_cast<std::size_t>(row * info.tileHeight + y) * w + column * info.tileWidth) * 3;
          ASSERT_EQ(std::memcmp(pixels.get() + static_cast<std::size_t>(y) * dw * 3,
                                expected.data() + at, static_cast<std::size_t>(tile.width) * 3),
                    0)
              << "level " << level << " tile " << column << "," << row << " row " << y;
        }
      }
    }
    Tile beyond;
    EXPECT_EQ(slide_->ReadTile(level, (w + info.tileWidth - 1) / info.tileWidth, 0, &beyond).code(),
              Status::Code::kNotFound);
  }
}

struct Window {
  std::int64_t x, y;  // level-0 position
  int w, h;
};

// Windows at whole and fractional level positions, across tile seams,
// partly before the slide, over its edges and wholly outside.
std::vector<Window> WindowsOf(const SlideLevel& level) {
  const auto at = [&](double levelX, double levelY) {
    return std::make_pair(static_cast<std::int64_t>(levelX * level.downsample),
                          static_cast<std::int64_t>(levelY * level.downsample));
  };
  std::vector<Window> windows;
  const auto add = [&](std::pair<std::int64_t, std::int64_t> p, int w, int h) {
    windows.push_back({p.first, p.second, w, h});
  };
  add({0, 0}, static_cast<int>(level.width), static_cast<int>(level.height));
  add(at(level.tileWidth - 37.3, level.tileHeight - 21.7), 90, 70);
  add({7, 3}, 300, 41);
  add({-23, -40}, 120, 90);
  add({-5000, 11}, 30, 30);
  add(at(level.width - 50.5, level.height - 30.25), 100, 80);
  add(at(level.width + 3, 0), 20, 20);
  return windows;
}

TEST_P(NativeTiff, RegionsArePaintedExactlyAsOpenSlidePaintsThem) {
  for (int level = 0; level < LevelCount(); ++level) {
    if (!ReferenceReads(level)) continue;
    for (const Window& window : WindowsOf(Level(level))) {
      const std::vector<std::uint32_t> expected =
          reference_->Argb(level, window.x, window.y, window.w, window.h);
      std::vector<std::uint32_t> argb(expected.size());
      ASSERT_TRUE(
          slide_->ReadLevelArgb(level, window.x, window.y, window.w, window.h, argb.data()).ok());
      const auto differ = std::mismatch(argb.begin(), argb.end(), expected.begin());
      ASSERT_TRUE(differ.first == argb.end())
          << "level " << level << " window " << window.x << "," << window.y << " " << window.w
          << "x" << window.h << ": pixel " << (differ.first - argb.begin()) << " is " << std::hex
          << *differ.first << ", OpenSlide " << *differ.second;
      // The façade hands the same pixels out straight, as OpenSlide's
      // Python binding does: colour * 255 / alpha, truncated.
      Image rgba;
      ASSERT_TRUE(slide_->ReadRegion(level, window.x, window.y, window.w, window.h, TileCacheUse{},
                                     &rgba)
                      .ok());
      for (std::size_t n = 0; n < expected.size(); ++n) {
        const std::uint32_t a = expected[n] >> 24;
        const unsigned char* pixel = rgba.pixels.data() + n * 4;
        ASSERT_EQ(pixel[3], a);
        for (int c = 0; c < 3; ++c) {
          const std::uint32_t premultiplied = (expected[n] >> (16 - 8 * c)) & 0xFF;
          ASSERT_EQ(pixel[c], a == 0 ? 0u : premultiplied * 255 / a) << n;
        }
      }
    }
  }
}

class NativeJpegTiff : public NativeTiff {};

TEST_P(NativeJpegTiff, StoredTilesPassThroughWithTheirTables) {
  const bool rgb = GetParam().options.coding == SvsTileCoding::kJpegRgb;
  for (int level = 0; level < LevelCount(); ++level) {
    const int directory = slide_->Layout().levels[static_cast<std::size_t>(level)].directory;
    for (std::uint32_t index : {0u, 1u}) {
      std::vector<unsigned char> stored;
      std::string tables;
      if (!StoredTiffTile(path_, directory, index, &stored, &tables)) continue;
      const std::int64_t across = (Level(level).width + Level(level).tileWidth - 1) / Level(level).tileWidth;
      Tile tile;
      ASSERT_TRUE(slide_->ReadTile(level, index % across, index / across, &tile).ok());
      // Start of image, the RGB declaration where the samples are RGB, the
      // tables without their start and end, then the stored tile unchanged.
      std::vector<unsigned char> expected(stored.begin(), stored.begin() + 2);
      if (rgb) {
        const unsigned char adobe[] = {0xFF, 0xEE, 0, 14, 'A', 'd', 'o', 'b', 'e', 0, 100, 0, 0, 0, 0, 0};
        expected.insert(expected.end(), adobe, adobe + sizeof adobe);
      }
      ASSERT_GT(tables.size(), 4u);
      expected.insert(expected.end(), tables.begin() + 2, tables.end() - 2);
      expected.insert(expected.end(), stored.begin() + 2, stored.end());
      EXPECT_TRUE(tile.bytes == expected) << "level " << level << " tile " << index;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Slides, NativeTiff, ::testing::ValuesIn(TiffRecipes()), RecipeName);
INSTANTIATE_TEST_SUITE_P(Slides, NativeJpegTiff, ::testing::ValuesIn(TiffRecipesWhere(IsJpeg)),
                         RecipeName);

}  // namespace
}  // namespace strata::test
