// DICOM whole-slide series written with DCMTK read through the slide façade
// exactly as written: every level's regions against the written pixels
// (the decoded frames, for JPEG), tiles passed through as stored, sparse
// cells transparent, and what the series says about itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "dicom/dicom_writer.h"
#include "strata/slide.h"
#include "support/slide_fixtures.h"
#include "support/test_files.h"

namespace strata::test {
namespace {

struct SeriesCase {
  const char* name;
  FrameCoding coding;
  bool sparse;
  bool offsetTable;
  unsigned fragmentKilobytes;
};

void PrintTo(const SeriesCase& c, std::ostream* out) { *out << c.name; }

class DicomSeriesTest : public ::testing::TestWithParam<SeriesCase> {
 protected:
  void SetUp() override {
    DicomSlideRecipe recipe;
    recipe.coding = GetParam().coding;
    recipe.sparse = GetParam().sparse;
    recipe.offsetTable = GetParam().offsetTable;
    recipe.fragmentKilobytes = GetParam().fragmentKilobytes;
    written_ = WriteDicomSlide(dir_.path(), recipe);
    ASSERT_EQ(written_.levels.size(), 3u);
  }

  std::unique_ptr<Slide> Open(const std::string& location) {
    std::unique_ptr<Slide> slide;
    const Status opened = Slide::Open(location, &slide);
    EXPECT_TRUE(opened.ok()) << opened.message();
    return slide;
  }

  TempDir dir_;
  WrittenSlide written_;
};

// Each level read whole, with a margin outside the slide on every side,
// equals what was written: transparent outside and in empty sparse cells.
TEST_P(DicomSeriesTest, LevelRegionsEqualTheWrittenPixels) {
  const std::unique_ptr<Slide> slide = Open(written_.levels[1].path);
  ASSERT_NE(slide, nullptr);
  ASSERT_EQ(slide->Levels().size(), 3u);
  constexpr int kMargin = 6;
  for (std::size_t level = 0; level < 3; ++level) {
    const SlideLevel& info = slide->Levels()[level];
    const auto [width, height] = written_.levelSizes[level];
    ASSERT_EQ(info.width, width);
    ASSERT_EQ(info.height, height);
    EXPECT_EQ(info.downsample, static_cast<double>(1 << level));
    EXPECT_EQ(info.tileWidth, 128);
    const Bytes expected = ExpectedLevelRgba(written_, level);
    Image region;
    const auto origin = static_cast<std::int64_t>(-kMargin * info.downsample);
    const Status read = slide->ReadRegion(static_cast<int>(level), origin, origin,
                                          width + 2 * kMargin, height + 2 * kMargin, &region);
    ASSERT_TRUE(read.ok()) << read.message();
    std::size_t mismatches = 0;
    for (int y = -kMargin; y < height + kMargin; ++y) {
      for (int x = -kMargin; x < width + kMargin; ++x) {
        const bool inside = x >= 0 && y >= 0 && x < width && y < height;
        const unsigned char* got =
            &region
                 .pixels[(static_cast<std::size_t>(y + kMargin) * region.width + x + kMargin) * 4];
        for (int c = 0; c < 4; ++c) {
          const unsigned char want =
              inside ? expected[(static_cast<std::size_t>(y) * width + x) * 4 + c] : 0;
          mismatches += got[c] != want;
        }
      }
    }
    EXPECT_EQ(mismatches, 0u) << "level " << level;
  }
}

// Tiles come back as stored: JPEG frames byte for byte, uncompressed frames
// as their pixels; empty sparse cells are NotFound.
TEST_P(DicomSeriesTest, TilesAreTheStoredFrames) {
  const std::unique_ptr<Slide> slide = Open(dir_.path());
  ASSERT_NE(slide, nullptr);
  for (std::size_t level = 0; level < 3; ++level) {
    const WrittenDicom& written = written_.levels[level];
    for (std::size_t frame = 0; frame < written.frames.size(); ++frame) {
      const auto [column, row] = written.tiles[frame];
      Tile tile;
      const Status read = slide->ReadTile(static_cast<int>(level), column, row, &tile);
      ASSERT_TRUE(read.ok()) << read.message();
      EXPECT_EQ(tile.encoding, written.jpeg ? TileEncoding::kJpeg : TileEncoding::kRgb);
      EXPECT_TRUE(tile.bytes == written.frames[frame]) << "level " << level << " frame " << frame;
    }
    const std::size_t cells =
        static_cast<std::size_t>(((written_.levelSizes[level].first + 127) / 128) *
                                 ((written_.levelSizes[level].second + 127) / 128));
    if (GetParam().sparse && written.frames.size() < cells) {
      Tile tile;
      // (1, 0) is left out of every sparse level: (1 + 2 * 0) % 3 == 1.
      EXPECT_EQ(slide->ReadTile(static_cast<int>(level), 1, 0, &tile).code(),
                Status::Code::kNotFound);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Codings, DicomSeriesTest,
    ::testing::Values(SeriesCase{"JpegFull", FrameCoding::kJpeg, false, true, 0},
                      SeriesCase{"JpegSparse", FrameCoding::kJpeg, true, true, 0},
                      SeriesCase{"JpegNoOffsetTable", FrameCoding::kJpeg, false, false, 0},
                      SeriesCase{"JpegFragmented", FrameCoding::kJpeg, true, true, 1},
                      SeriesCase{"ExplicitFull", FrameCoding::kExplicitLittle, false, true, 0},
                      SeriesCase{"ExplicitSparse", FrameCoding::kExplicitLittle, true, true, 0},
                      SeriesCase{"ImplicitFull", FrameCoding::kImplicitLittle, false, true, 0},
                      SeriesCase{"ImplicitSparse", FrameCoding::kImplicitLittle, true, true, 0}),
    [](const ::testing::TestParamInfo<SeriesCase>& info) { return info.param.name; });

TEST(DicomSlideTest, DescribesTheSeries) {
  TempDir dir;
  const WrittenSlide written = WriteDicomSlide(dir.path(), DicomSlideRecipe{});
  // A copy of an instance counts once; other files are passed over.
  WriteFileBytes(dir.File("copy.dcm"), ReadFileBytes(written.levels[0].path));
  WriteFileBytes(dir.File("notes.txt"), Bytes(300, 'x'));
  std::unique_ptr<Slide> slide;
  const Status opened = Slide::Open(written.levels[2].path, &slide);
  ASSERT_TRUE(opened.ok()) << opened.message();
  ASSERT_EQ(slide->Levels().size(), 3u);
  const SlideFacts& facts = slide->Facts();
  EXPECT_EQ(facts.format, "dicom");
  EXPECT_EQ(facts.width, 600);
  EXPECT_EQ(facts.height, 400);
  EXPECT_DOUBLE_EQ(facts.micronsPerPixelX, 0.25);
  EXPECT_DOUBLE_EQ(facts.objectivePower, 20);
  ASSERT_TRUE(facts.hasScanTime);
  EXPECT_EQ(facts.scanTime, 1714972689);  // 2024-05-06 07:18:09 +02:00
  EXPECT_EQ(slide->IccProfile(), DicomSlideRecipe{}.iccProfile);

  const std::map<std::string, std::string>& properties = slide->Properties();
  const std::map<std::string, std::string> expected = {
      {"dicom.SeriesInstanceUID", DicomSlideRecipe{}.seriesUid},
      {"dicom.PatientName", "Doe^Jane"},
      {"dicom.ImageType[2]", "VOLUME"},
      {"dicom.TotalPixelMatrixColumns", "600"},
      {"dicom.OpticalPathSequence[0].ObjectiveLensPower", "20"},
      {"dicom.SharedFunctionalGroupsSequence[0].PixelMeasuresSequence[0].PixelSpacing[1]",
       "0.00025"},
      {"openslide.vendor", "dicom"},
      {"openslide.mpp-x", "0.25"},
      {"openslide.objective-power", "20"},
      {"openslide.barcode", "SLIDE-0042"},
      {"openslide.level[2].downsample", "4"},
  };
  for (const auto& [key, value] : expected) {
    const auto found = properties.find(key);
    ASSERT_NE(found, properties.end()) << key;
    EXPECT_EQ(found->second, value) << key;
  }
  EXPECT_EQ(properties.count("dicom.OpticalPathSequence[0].ICCProfile"), 0u);

  // Magnification 5 is level 2 (20 / 4): white outside, the level inside.
  Image scaled;
  ASSERT_TRUE(slide->ReadScaled(5, -10, -10, 200, 150, &scaled).ok());
  const Bytes level2 = ExpectedLevelRgba(written, 2);
  std::size_t mismatches = 0;
  for (int y = 0; y < 150; ++y) {
    for (int x = 0; x < 200; ++x) {
      const bool inside = x >= 10 && y >= 10 && x < 160 && y < 110;
      for (int c = 0; c < 3; ++c) {
        const unsigned char want =
            inside ? level2[(static_cast<std::size_t>(y - 10) * 150 + x - 10) * 4 + c] : 255;
        mismatches += scaled.pixels[(static_cast<std::size_t>(y) * 200 + x) * 3 + c] != want;
      }
    }
  }
  EXPECT_EQ(mismatches, 0u);

  EXPECT_EQ(slide->AssociatedImageNames(),
            (std::vector<std::string>{"label", "macro", "thumbnail"}));
  Image label;
  ASSERT_TRUE(slide->ReadAssociatedImage("label", &label).ok());
  EXPECT_EQ(label.width, written.labelWidth);
  EXPECT_EQ(label.height, written.labelHeight);
  EXPECT_TRUE(std::equal(label.pixels.begin(), label.pixels.end(), written.label.begin(),
                         written.label.end()));
  Image thumbnail;
  ASSERT_TRUE(slide->ReadAssociatedImage("thumbnail", &thumbnail).ok());
  EXPECT_EQ(thumbnail.width, 75);

  EXPECT_EQ(Slide::DetectFormat(written.levels[0].path), "dicom");
  EXPECT_EQ(Slide::DetectFormat(dir.path()), "dicom");
}

// Threads reading one slide at once each get the pixels they would alone.
TEST(DicomSlideTest, ConcurrentReadsAgree) {
  TempDir dir;
  DicomSlideRecipe recipe;
  recipe.sparse = true;
  const WrittenSlide written = WriteDicomSlide(dir.path(), recipe);
  const Bytes expected = ExpectedLevelRgba(written, 0);
  std::unique_ptr<Slide> slide;
  ASSERT_TRUE(Slide::Open(dir.path(), &slide).ok());
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int thread = 0; thread < 4; ++thread) {
    threads.emplace_back([&, thread] {
      for (int read = 0; read < 25; ++read) {
        const int x = (thread * 97 + read * 53) % 400;
        const int y = (thread * 31 + read * 71) % 250;
        Image region;
        if (!slide->ReadRegion(0, x, y, 200, 150, &region).ok()) {
          ++mismatches;
          continue;
        }
        for (int row = 0; row < 150; ++row) {
          const auto from = expected.begin() + ((y + row) * 600 + x) * 4;
          mismatches += !std::equal(from, from + 200 * 4, region.pixels.begin() + row * 200 * 4);
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(mismatches.load(), 0);
}

// A level split over the instances of a concatenation reads as one.
TEST(DicomSlideTest, ConcatenatedLevelReadsWhole) {
  TempDir dir;
  DicomImageRecipe recipe;
  recipe.width = 600;
  recipe.height = 400;
  recipe.rgb = ExpectedBaseImage(recipe.width, recipe.height);
  recipe.coding = FrameCoding::kExplicitLittle;
  recipe.concatenationUid = "1.2.826.0.1.3680043.10.1137.77";
  recipe.concatenationTotal = 2;
  for (const int part : {2, 1}) {
    recipe.fileName = "part-" + std::to_string(part) + ".dcm";
    recipe.concatenationNumber = part;
    recipe.firstFrame = part == 1 ? 0 : 12;
    recipe.frameCount = part == 1 ? 12 : 8;
    WrittenDicom written;
    ASSERT_TRUE(WriteDicom(dir.path(), recipe, &written));
  }
  std::unique_ptr<Slide> slide;
  const Status opened = Slide::Open(dir.File("part-2.dcm"), &slide);
  ASSERT_TRUE(opened.ok()) << opened.message();
  Image region;
  ASSERT_TRUE(slide->ReadRegion(0, 0, 0, 600, 400, &region).ok());
  std::size_t mismatches = 0;
  for (std::size_t i = 0, j = 0; j < recipe.rgb.size(); i += 4, j += 3) {
    mismatches +=
        !std::equal(recipe.rgb.begin() + j, recipe.rgb.begin() + j + 3, region.pixels.begin() + i) ||
        region.pixels[i + 3] != 255;
  }
  EXPECT_EQ(mismatches, 0u);
}

// RGB frames whose JPEG streams do not say they are RGB still read in
// their colours (decoders would take them for YCbCr).
TEST(DicomSlideTest, UnmarkedRgbJpegFramesKeepTheirColours) {
  TempDir dir;
  DicomImageRecipe recipe;
  recipe.width = 200;
  recipe.height = 150;
  recipe.rgb.resize(static_cast<std::size_t>(recipe.width) * recipe.height * 3);
  for (std::size_t i = 0; i < recipe.rgb.size(); ++i) {
    recipe.rgb[i] = static_cast<unsigned char>(i % 3 == 0 ? 200 : i % 3 == 1 ? 40 : 90);
  }
  recipe.rgbJpeg = true;
  WrittenDicom written;
  ASSERT_TRUE(WriteDicom(dir.path(), recipe, &written));
  std::unique_ptr<Slide> slide;
  ASSERT_TRUE(Slide::Open(written.path, &slide).ok());
  Image region;
  ASSERT_TRUE(slide->ReadRegion(0, 0, 0, recipe.width, recipe.height, &region).ok());
  long error = 0;
  for (std::size_t i = 0, j = 0; j < recipe.rgb.size(); i += 4, j += 3) {
    for (int c = 0; c < 3; ++c) error += std::abs(region.pixels[i + c] - recipe.rgb[j + c]);
  }
  EXPECT_LT(error / static_cast<long>(recipe.rgb.size()), 3);
}

}  // namespace
}  // namespace strata::test
