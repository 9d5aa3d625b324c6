// The C exports on SVS slides read natively give what the OpenSlide route
// gives (STRATA_NATIVE_TIFF=0 on the same file), byte for byte, except that
// a tile at a level's own scale that is one whole stored 256 x 256 JPEG tile
// is the stored tile; and they read http:// URLs, which OpenSlide cannot.
#include <gtest/gtest.h>

#include <cmath>

#include "foreign/foreign_test_util.h"
#include "strata/foreign/openslide_data_file.h"
#include "strata/slide.h"
#include "support/test_files.h"
#include "tiff/tiff_reference.h"
#include "tools/loopback/loopback_http_server.h"

namespace strata::test {
namespace {

std::vector<unsigned char> Region(IMAGE_INFO_STRUCT handle, float scale, int x, int y, int w,
                                  int h) {
  unsigned char* out = nullptr;
  int length = 0;
  if (!GetImageDataRoiFunc(handle, scale, x, y, w, h, &out, &length, false)) return {};
  ExportBuffer owned(out);
  return Bytes(out, length);
}

using ImageExport = bool (*)(IMAGE_INFO_STRUCT, unsigned char**, int*, int*, int*);

std::vector<unsigned char> AssociatedStream(IMAGE_INFO_STRUCT handle, ImageExport read) {
  unsigned char* data = nullptr;
  int length = 0, width = 0, height = 0;
  if (!read(handle, &data, &length, &width, &height)) return {};
  ExportBuffer owned(data);
  return Bytes(data, length);
}

class ExportRoutes : public ::testing::TestWithParam<TiffRecipe> {
 protected:
  void SetUp() override {
    path_ = TiffSlidePath(GetParam());
    native_ = std::make_unique<OpenSlide>(path_);
    {
      ScopedEnvironment openSlideRoute("STRATA_NATIVE_TIFF", "0");
      reference_ = std::make_unique<OpenSlide>(path_);
    }
    ASSERT_TRUE(native_->opened() && reference_->opened());
    auto* svs = dynamic_cast<CSVSDataFile*>(native_->handle().slide);
    ASSERT_NE(svs, nullptr);
    ASSERT_TRUE(svs->ReadsNatively());
    ASSERT_FALSE(dynamic_cast<CSVSDataFile*>(reference_->handle().slide)->ReadsNatively());
    ASSERT_TRUE(Slide::Open(path_, &slide_).ok());
  }
  IMAGE_INFO_STRUCT& Native() { return native_->handle(); }
  IMAGE_INFO_STRUCT& Reference() { return reference_->handle(); }
  float Scan() const { return static_cast<float>(slide_->Facts().objectivePower); }

  std::string path_;
  std::unique_ptr<OpenSlide> native_;
  std::unique_ptr<OpenSlide> reference_;
  std::unique_ptr<Slide> slide_;
};

TEST_P(ExportRoutes, HeaderFactsAreTheSame) {
  int h1 = 0, w1 = 0, s1 = 0, b1 = 0, h2 = 0, w2 = 0, s2 = 0, b2 = 0;
  float spend1 = 0, r1 = 0, spend2 = 0, r2 = 0;
  double t1 = 0, t2 = 0;
  ASSERT_TRUE(GetHeaderInfoFunc(Native(), &h1, &w1, &s1, &spend1, &t1, &r1, &b1));
  ASSERT_TRUE(GetHeaderInfoFunc(Reference(), &h2, &w2, &s2, &spend2, &t2, &r2, &b2));
  EXPECT_EQ(std::make_tuple(h1, w1, s1, spend1, t1, r1, b1),
            std::make_tuple(h2, w2, s2, spend2, t2, r2, b2));
  EXPECT_EQ(w1, GetParam().options.width);
  EXPECT_EQ(b1, 256);
}

// At a level's own scale the export's tiles are 256 pixels, narrower at
// the level's edge. Where such a tile is one whole stored tile (stored
// tiles of 256, away from the edge) it is that tile, else the route's JPEG.
TEST_P(ExportRoutes, TilesAtLevelScalesPassStoredTilesThroughAndAreOtherwiseUnchanged) {
  int passed = 0;
  for (int level = 0; level < static_cast<int>(slide_->Levels().size()); ++level) {
    const SlideLevel& info = slide_->Levels()[static_cast<std::size_t>(level)];
    const float scale = static_cast<float>(Scan() / info.downsample);
    for (int y = 0; y < info.height + 256; y += 256) {
      for (int x = 0; x < info.width + 256; x += 256) {
        const std::vector<unsigned char> native = TileStream(Native(), scale, x, y);
        const bool whole = info.tileWidth == 256 && x + 256 <= info.width && y + 256 <= info.height;
        if (!whole) {
          ASSERT_EQ(native, TileStream(Reference(), scale, x, y)) << level << ": " << x << "," << y;
          continue;
        }
        Tile stored;
        ASSERT_TRUE(slide_->ReadTile(level, x / 256, y / 256, &stored).ok());
        ASSERT_TRUE(native == stored.bytes) << level << ": " << x << "," << y;
        ++passed;
      }
    }
  }
  EXPECT_EQ(passed > 0, GetParam().options.tileSize == 256);
}

TEST_P(ExportRoutes, RegionsAtAnyScaleAreTheSame) {
  const float scan = Scan();
  const struct {
    float scale;
    int x, y, w, h;
  } cases[] = {{scan, 300, 200, 400, 300},          {scan, -50, -20, 128, 64},
               {scan, 1900, 1100, 256, 256},        {scan / 3, 10, 20, 300, 200},
               {scan / 4, 100, 50, 300, 200},       {scan / 9, 40, 30, 200, 150},
               {scan / 16.5f, 0, 0, 150, 120},      {scan * 2, 100, 100, 256, 256},
               {scan / 7.3f, 33, 17, 210, 123}};
  for (const auto& c : cases) {
    EXPECT_EQ(Region(Native(), c.scale, c.x, c.y, c.w, c.h),
              Region(Reference(), c.scale, c.x, c.y, c.w, c.h))
        << c.scale << " " << c.x << "," << c.y;
  }
}

TEST_P(ExportRoutes, AssociatedImagesAreTheSame) {
  for (ImageExport read : {GetLableInfoFunc, GetPriviewInfoFunc, GetThumnailImageFunc}) {
    EXPECT_EQ(AssociatedStream(Native(), read), AssociatedStream(Reference(), read));
  }
}

INSTANTIATE_TEST_SUITE_P(Slides, ExportRoutes, ::testing::ValuesIn(TiffRecipesWhere(IsAperio)),
                         RecipeName);

// An SVS on a web server opens through the exports and reads as the file.
TEST(ExportsOverHttp, AnSvsUrlReadsLikeTheFile) {
  const TiffRecipe recipe = TiffRecipes().front();
  const std::string& path = TiffSlidePath(recipe);
  const std::vector<unsigned char> bytes = ReadFileBytes(path);
  const std::string object(bytes.begin(), bytes.end());
  loopback::LoopbackHttpServer server(
      [&](const loopback::Request& request, int) { return loopback::RangeReply(object, request); },
      100000);
  OpenSlide local(path);
  OpenSlide remote(server.Url("/" + recipe.name));
  ASSERT_TRUE(local.opened());
  ASSERT_TRUE(remote.opened());
  for (const float scale : {20.0f, 5.0f, 7.0f}) {
    for (int x = 0; x < 700; x += 256) {
      EXPECT_EQ(TileStream(remote.handle(), scale, x, 256), TileStream(local.handle(), scale, x, 256));
    }
    EXPECT_EQ(Region(remote.handle(), scale, 100, 50, 300, 200),
              Region(local.handle(), scale, 100, 50, 300, 200));
  }
  EXPECT_EQ(AssociatedStream(remote.handle(), GetLableInfoFunc),
            AssociatedStream(local.handle(), GetLableInfoFunc));
}

}  // namespace
}  // namespace strata::test
