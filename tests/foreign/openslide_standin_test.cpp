// What real files cannot reach, served by the scripted stand-in library:
// region shifts, the thumbnail walk, colour conversion, missing functions and
// libraries, and unusable sizes and properties.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "foreign/openslide_reference.h"
#include "strata/foreign/openslide_data_file.h"
#include "strata/model/image_buffer.h"
#include "strata/platform/dynamic_library.h"
#include "strata/platform/file_io.h"
#include "strata/strata.h"
#include "support/test_files.h"

namespace strata::test {
namespace {

using Read = std::array<std::int64_t, 5>;  // x, y, level, w, h

// Points the library at a stand-in and scripts it.
class StandIn {
 public:
  explicit StandIn(const char* file = STANDIN_OPENSLIDE) : module_(platform::LoadModule(file)) {
    platform::SetEnvironmentValue("STRATA_OPENSLIDE_LIBRARY", file);
  }
  ~StandIn() { platform::UnsetEnvironmentValue("STRATA_OPENSLIDE_LIBRARY"); }
  // An (empty) file of that name: the stand-in reads no file, but a slide
  // path must name one.
  std::string Path(const std::string& name) const {
    const std::string path = dir_.File(name);
    WriteFileBytes(path, {});
    return path;
  }
  void Script(const std::string& text) const {
    using ScriptFunction = void (*)(const char*);
    reinterpret_cast<ScriptFunction>(platform::FindSymbol(module_, "openslide_standin_script"))(
        text.c_str());
  }
  Read LastRead() const {
    using LastReadFunction = void (*)(std::int64_t*);
    Read read{};
    reinterpret_cast<LastReadFunction>(
        platform::FindSymbol(module_, "openslide_standin_last_read"))(read.data());
    return read;
  }

 private:
  platform::ModuleHandle module_;
  TempDir dir_;
};

const std::string kPyramid =
    "prop.openslide.objective-power=20\nlevel=1000,800,1\nlevel=250,200,4\nlevel=62,50,16\n";
const std::string kOneRegion =
    "prop.openslide.region[0].x=100\nprop.openslide.region[0].y=50\n"
    "prop.openslide.region[0].width=900\nprop.openslide.region[0].height=700\n";
const std::string kSecondRegion =
    "prop.openslide.region[1].x=10\nprop.openslide.region[1].y=10\n"
    "prop.openslide.region[1].width=50\nprop.openslide.region[1].height=50\n";

class OpenedStandIn {
 public:
  bool Open(const std::string& name) { return InitImageFileFunc(&handle, name.c_str()); }
  ~OpenedStandIn() { UnInitImageFileFunc(&handle); }
  void Size(int& width, int& height) {
    int scale = 0, block = 0;
    float spend = 0, resolution = 0;
    double when = 0;
    GetHeaderInfoFunc(handle, &height, &width, &scale, &spend, &when, &resolution, &block);
  }
  IMAGE_INFO_STRUCT handle{};
};

struct ShiftCase {
  std::string file;
  std::string script;
  int width, height;  // header size
  float scale;        // tile request
  int x, y;
  Read read;  // what OpenSlide is asked for
};

class RegionShifts : public ::testing::TestWithParam<ShiftCase> {};

TEST_P(RegionShifts, SizeTheSlideAndShiftItsReads) {
  const ShiftCase& c = GetParam();
  StandIn standIn;
  standIn.Script(kPyramid + c.script);
  OpenedStandIn slide;
  ASSERT_TRUE(slide.Open(standIn.Path(c.file)));
  int width = 0, height = 0;
  slide.Size(width, height);
  EXPECT_EQ(width, c.width);
  EXPECT_EQ(height, c.height);
  EXPECT_FALSE(TileStream(slide.handle, c.scale, c.x, c.y).empty());
  EXPECT_EQ(standIn.LastRead(), c.read);
}

const std::string kBounds =
    "prop.openslide.bounds-x=300\nprop.openslide.bounds-y=200\n"
    "prop.openslide.bounds-width=600\nprop.openslide.bounds-height=500\n";

INSTANTIATE_TEST_SUITE_P(
    Formats, RegionShifts,
    ::testing::Values(
        // BIF with one region: sized by it, shifted by its offset at every level.
        ShiftCase{"a.bif", kOneRegion, 900, 700, 20.0f, 256, 0, {356, 50, 0, 256, 256}},
        ShiftCase{"a.bif", kOneRegion, 900, 700, 5.0f, 0, 0, {100, 50, 1, 225, 175}},
        // Two regions: neither sizes nor shifts.
        ShiftCase{"a.bif", kOneRegion + kSecondRegion, 1000, 800, 20.0f, 0, 0, {0, 0, 0, 256, 256}},
        // MRXS: sized and shifted by the scanned bounds; the tile at the
        // bounds' right edge is narrower.
        ShiftCase{"a.mrxs", kBounds, 600, 500, 20.0f, 512, 256, {812, 456, 0, 88, 244}},
        ShiftCase{"a.mrxs", kBounds, 600, 500, 5.0f, 0, 0, {300, 200, 1, 150, 125}},
        // NDPI and SVS are sized by the bounds too but read unshifted.
        ShiftCase{"a.ndpi", kBounds, 600, 500, 20.0f, 256, 0, {256, 0, 0, 256, 256}},
        ShiftCase{"a.svs", "", 1000, 800, 5.0f, 0, 0, {0, 0, 1, 250, 200}}));

struct ThumbnailCase {
  std::string script;
  bool byPath;
  int width, height;  // 0: no thumbnail
};

class BifThumbnail : public ::testing::TestWithParam<ThumbnailCase> {};

TEST_P(BifThumbnail, WalksTheLevelsOrTakesTheStoredImage) {
  const ThumbnailCase& c = GetParam();
  StandIn standIn;
  standIn.Script(c.script);
  unsigned char* data = nullptr;
  int length = 0, width = 0, height = 0;
  bool found = false;
  OpenedStandIn slide;
  if (c.byPath) {
    found =
        GetThumnailImagePathFunc(standIn.Path("a.bif").c_str(), &data, &length, &width, &height);
  } else {
    ASSERT_TRUE(slide.Open(standIn.Path("a.bif")));
    found = GetThumnailImageFunc(slide.handle, &data, &length, &width, &height);
  }
  PixelBuffer owned(data);
  EXPECT_EQ(found, c.width > 0);
  EXPECT_EQ(width, c.width);
  EXPECT_EQ(height, c.height);
  EXPECT_EQ(length > 0, c.width > 0);
}

const std::string kThumbnailImage = "image.thumbnail=64,48\n";

INSTANTIATE_TEST_SUITE_P(
    Forms, BifThumbnail,
    ::testing::Values(
        // 62 x 50 is under 128 on both sides: level 1 (250 x 200) less the
        // region offset halved once (100 / 2, 50 / 2).
        ThumbnailCase{kPyramid + kOneRegion, false, 200, 175},
        ThumbnailCase{kPyramid + kOneRegion, true, 200, 175},
        // The loaded slide always walks; the path form takes the image.
        ThumbnailCase{kPyramid + kOneRegion + kThumbnailImage, false, 200, 175},
        ThumbnailCase{kPyramid + kOneRegion + kThumbnailImage, true, 64, 48},
        ThumbnailCase{kPyramid, false, 250, 200},
        // No level reaches 128 pixels: no thumbnail.
        ThumbnailCase{"prop.openslide.objective-power=20\nlevel=100,80,1\n", false, 0, 0}));

// Region pixel (X, Y) of the stand-in at level 0 before premultiplication.
std::array<unsigned, 3> StandInColour(int x, int y) {
  return {static_cast<unsigned>((x * 3 + y) % 251), static_cast<unsigned>((x + y * 5) % 253), 7u};
}

struct ColourCase {
  unsigned alpha;
  std::string background;  // "" for none
  std::array<unsigned char, 3> firstPixel;
};

class ColourConversion : public ::testing::TestWithParam<ColourCase> {};

TEST_P(ColourConversion, CompositesOverTheBackgroundOrWhitensTranslucentPixels) {
  const ColourCase& c = GetParam();
  StandIn standIn;
  std::string script = kPyramid + "alpha=" + std::to_string(c.alpha) + "\n";
  if (!c.background.empty()) script += "prop.openslide.background-color=" + c.background + "\n";
  standIn.Script(script);
  OpenedStandIn slide;
  ASSERT_TRUE(slide.Open(standIn.Path("a.svs")));
  const std::vector<unsigned char> pixels = RegionPixels(slide.handle, 20.0f, 0, 0, 16, 4);
  ASSERT_EQ(pixels.size(), 16u * 4 * 3);
  EXPECT_EQ(pixels[0], c.firstPixel[0]);
  EXPECT_EQ(pixels[1], c.firstPixel[1]);
  EXPECT_EQ(pixels[2], c.firstPixel[2]);
  const unsigned long background = c.background.empty() ? 0 : std::stoul(c.background, nullptr, 16);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 16; ++x) {
      const std::array<unsigned, 3> colour = StandInColour(x, y);
      for (int k = 0; k < 3; ++k) {
        const unsigned premultiplied = colour[k] * c.alpha / 255;
        unsigned expected = premultiplied;
        if (!c.background.empty()) {
          const double under = static_cast<double>((background >> (16 - 8 * k)) & 0xFF);
          expected = static_cast<unsigned>(
              (under / 255 * (1 - c.alpha / 255.0) + premultiplied / 255.0) * 255 + 0.5);
        } else if (c.alpha < 250) {
          expected = 255;
        }
        ASSERT_EQ(pixels[(static_cast<std::size_t>(y) * 16 + x) * 3 + k], expected)
            << x << "," << y << " channel " << k;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Alphas, ColourConversion,
    ::testing::Values(ColourCase{128, "FF8000", {127, 64, 3}},  // 127.5, 64.25, 3.5 truncated
                      ColourCase{0, "102030", {16, 32, 48}}, ColourCase{255, "102030", {0, 0, 7}},
                      ColourCase{249, "", {255, 255, 255}}, ColourCase{250, "", {0, 0, 6}},
                      ColourCase{100, "", {255, 255, 255}}));

// Unusable sizes and properties, and slides OpenSlide will not give: no open.
class RefusedScripts : public ::testing::TestWithParam<std::string> {};

TEST_P(RefusedScripts, DoNotOpen) {
  StandIn standIn;
  standIn.Script(GetParam());
  OpenedStandIn slide;
  EXPECT_FALSE(slide.Open(standIn.Path("a.svs")));
  EXPECT_EQ(slide.handle.slide, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, RefusedScripts,
    ::testing::Values("level=1000,800,1\n",  // no objective power
                      "prop.openslide.objective-power=abc\nlevel=1000,800,1\n",
                      "prop.openslide.objective-power=20\n",  // no levels
                      kPyramid + "open=fail\n", kPyramid + "prop.openslide.bounds-width=abc\n",
                      kPyramid + "prop.openslide.bounds-width=1000000\n",  // beyond level 0
                      kPyramid + "prop.openslide.region[0].x=-5\n",
                      kPyramid + "prop.openslide.bounds-y=0x7fffffffffff\n",
                      kPyramid + "prop.openslide.background-color=white\n",
                      "prop.openslide.objective-power=20\nlevel=-4,800,1\n"));

template <typename Header>
bool IsA(CDataHeader* header) {
  return dynamic_cast<Header*>(header) != nullptr;
}

TEST(StandInSlide, EachFormatHasTheHeaderClassOfItsStem) {
  StandIn standIn;
  standIn.Script(kPyramid);
  const std::pair<const char*, bool (*)(CDataHeader*)> formats[] = {
      {"a.svs", IsA<CSVSDataHeader>},
      {"a.ndpi", IsA<CNDPIDataHeader>},
      {"a.mrxs", IsA<CMIRAXDataHeader>},
      {"a.bif", IsA<CBIFDataHeader>}};
  for (const auto& [name, isExpected] : formats) {
    OpenedStandIn slide;
    ASSERT_TRUE(slide.Open(standIn.Path(name)));
    EXPECT_TRUE(isExpected(slide.handle.slide->GetHeader())) << name;
  }
}

TEST(StandInSlide, UnusableLevelsDeliverNothing) {
  StandIn standIn;
  standIn.Script("prop.openslide.objective-power=20\nlevel=1000,800,1\nlevel=250,200,0\n");
  OpenedStandIn slide;
  ASSERT_TRUE(slide.Open(standIn.Path("a.svs")));
  EXPECT_TRUE(TileStream(slide.handle, 20.0f, 0, 0).empty());
  EXPECT_TRUE(RegionPixels(slide.handle, 20.0f, 0, 0, 10, 10).empty());
}

TEST(StandInSlide, FailedReadsAndOversizedRegionsDeliverNothing) {
  StandIn standIn;
  standIn.Script(kPyramid + "image.label=0,0\nimage.macro=40,30\nimage-fail=macro\n");
  OpenedStandIn slide;
  ASSERT_TRUE(slide.Open(standIn.Path("a.svs")));
  // Far beyond the memory budget of one region.
  EXPECT_TRUE(RegionPixels(slide.handle, 400.0f, 0, 0, 20000, 20000).empty());
  unsigned char* data = nullptr;
  int length = -1, width = -1, height = -1;
  EXPECT_FALSE(GetLableInfoFunc(slide.handle, &data, &length, &width, &height));    // empty image
  EXPECT_FALSE(GetPriviewInfoFunc(slide.handle, &data, &length, &width, &height));  // error set
  EXPECT_EQ(data, nullptr);
  standIn.Script(kPyramid + "read-fail=1\n");
  OpenedStandIn failing;
  ASSERT_TRUE(failing.Open(standIn.Path("a.svs")));
  int untouched = 77;
  unsigned char* stream = nullptr;
  GetImageStreamFunc(&failing.handle, 20.0f, 0, 0, &untouched, &stream);
  EXPECT_EQ(stream, nullptr);
  EXPECT_EQ(untouched, 77);
  EXPECT_TRUE(RegionPixels(failing.handle, 20.0f, 0, 0, 10, 10).empty());
}

TEST(StandInSlide, TileScalesPickLevelsOrComposeRegions) {
  StandIn standIn;
  standIn.Script(kPyramid);
  OpenedStandIn slide;
  ASSERT_TRUE(slide.Open(standIn.Path("a.svs")));
  // A level's own scale reads that level at level-0 coordinates.
  EXPECT_FALSE(TileStream(slide.handle, 5.0f, 0, 0).empty());
  EXPECT_EQ(standIn.LastRead(), (Read{0, 0, 1, 250, 200}));
  // Below every level's scale the tile is composed from the smallest level.
  EXPECT_FALSE(TileStream(slide.handle, 0.5f, 0, 0).empty());
  EXPECT_EQ(standIn.LastRead(), (Read{0, 0, 2, 62, 50}));
  // Between levels: the composed tile equals the region at that scale.
  unsigned char* out = nullptr;
  int length = 0;
  ASSERT_TRUE(GetImageDataRoiFunc(slide.handle, 8.0f, 256, 0, 144, 256, &out, &length, true));
  PixelBuffer region(out);
  EXPECT_EQ(TileStream(slide.handle, 8.0f, 256, 0), std::vector<unsigned char>(out, out + length));
}

TEST(StandInSlide, MissingFunctionsDeliverNothing) {
  StandIn standIn(STANDIN_OPENSLIDE_PARTIAL);
  standIn.Script(kPyramid + "image.label=40,30\n");
  OpenedStandIn slide;
  ASSERT_TRUE(slide.Open(standIn.Path("a.svs")));
  int width = 0, height = 0;
  slide.Size(width, height);
  EXPECT_EQ(width, 1000);
  EXPECT_TRUE(TileStream(slide.handle, 20.0f, 0, 0).empty());
  EXPECT_TRUE(RegionPixels(slide.handle, 20.0f, 0, 0, 10, 10).empty());
  unsigned char* data = nullptr;
  int length = 0;
  EXPECT_FALSE(GetLableInfoFunc(slide.handle, &data, &length, &width, &height));
  EXPECT_EQ(GetThumnailImageFunc(slide.handle, &data, &length, &width, &height), false);
}

TEST(StandInSlide, MissingLibraryOpensNothing) {
  TempDir dir;
  const std::string path = dir.File("a.svs");
  WriteFileBytes(path, {});
  platform::SetEnvironmentValue("STRATA_OPENSLIDE_LIBRARY", "/nonexistent/libopenslide.so.0");
  IMAGE_INFO_STRUCT handle{};
  EXPECT_FALSE(InitImageFileFunc(&handle, path.c_str()));
  unsigned char* data = reinterpret_cast<unsigned char*>(&handle);
  int length = 5, width = 5, height = 5;
  EXPECT_FALSE(GetLableInfoPathFunc(path.c_str(), &data, &length, &width, &height));
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(length, 0);
  platform::UnsetEnvironmentValue("STRATA_OPENSLIDE_LIBRARY");
}

}  // namespace
}  // namespace strata::test
