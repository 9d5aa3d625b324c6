// Which reader a TIFF slide gets: the native one for files it reads exactly
// (local or http://), OpenSlide for the rest and whenever
// STRATA_NATIVE_TIFF=0; and a slide on a web server reads like the file.
#include <gtest/gtest.h>

#include "foreign/foreign_test_util.h"
#include "strata/slide.h"
#include "support/test_files.h"
#include "tiff/tiff_reference.h"
#include "tools/loopback/loopback_http_server.h"

namespace strata::test {
namespace {

std::string ServedObject(const std::string& path) {
  const std::vector<unsigned char> bytes = ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

class ServedTiff : public ::testing::TestWithParam<TiffRecipe> {
 protected:
  void SetUp() override {
    path_ = TiffSlidePath(GetParam());
    object_ = ServedObject(path_);
    server_ = std::make_unique<loopback::LoopbackHttpServer>(
        [this](const loopback::Request& request, int) {
          return loopback::RangeReply(object_, request);
        },
        1000000);
  }
  std::string path_;
  std::string object_;
  std::unique_ptr<loopback::LoopbackHttpServer> server_;
};

TEST_P(ServedTiff, ReadsExactlyLikeTheLocalFile) {
  std::unique_ptr<Slide> local, remote;
  ASSERT_TRUE(Slide::Open(path_, &local).ok());
  const Status opened = Slide::Open(server_->Url("/" + GetParam().name), &remote);
  ASSERT_TRUE(opened.ok()) << opened.message();
  EXPECT_EQ(remote->Properties(), local->Properties());
  EXPECT_EQ(remote->AssociatedImageNames(), local->AssociatedImageNames());
  EXPECT_EQ(remote->IccProfile(), local->IccProfile());
  for (int level = 0; level < static_cast<int>(local->Levels().size()); ++level) {
    const SlideLevel& info = local->Levels()[static_cast<std::size_t>(level)];
    for (std::int64_t row = 0; row * info.tileHeight < info.height; ++row) {
      for (std::int64_t column = 0; column * info.tileWidth < info.width; ++column) {
        Tile a, b;
        ASSERT_TRUE(remote->ReadTile(level, column, row, &a).ok());
        ASSERT_TRUE(local->ReadTile(level, column, row, &b).ok());
        ASSERT_TRUE(a.bytes == b.bytes && a.encoding == b.encoding) << level << ":" << column;
      }
    }
    Image a, b;
    const std::int64_t x = static_cast<std::int64_t>(37.5 * info.downsample);
    ASSERT_TRUE(remote->ReadRegion(level, x, 11, 400, 300, &a).ok());
    ASSERT_TRUE(local->ReadRegion(level, x, 11, 400, 300, &b).ok());
    EXPECT_TRUE(a.pixels == b.pixels) << "level " << level;
  }
  Image a, b;
  ASSERT_TRUE(remote->ReadScaled(3.3, 10, 20, 200, 150, &a).ok());
  ASSERT_TRUE(local->ReadScaled(3.3, 10, 20, 200, 150, &b).ok());
  EXPECT_TRUE(a.pixels == b.pixels);
}

TEST_P(ServedTiff, IsFoundByItsContentWhenTheNameSaysNothing) {
  EXPECT_EQ(Slide::DetectFormat(server_->Url("/slide")), IsAperio(GetParam()) ? "aperio"
                                                                              : "generic-tiff");
}

INSTANTIATE_TEST_SUITE_P(Slides, ServedTiff, ::testing::ValuesIn(TiffRecipes()), RecipeName);

// Stored JPEG tiles come out as stored only from the native reader; the
// OpenSlide route hands out pixels.
TileEncoding FirstTileEncoding(const std::string& location) {
  std::unique_ptr<Slide> slide;
  const Status opened = Slide::Open(location, &slide);
  EXPECT_TRUE(opened.ok()) << opened.message();
  if (!opened.ok()) return TileEncoding::kBmp;
  Tile tile;
  EXPECT_TRUE(slide->ReadTile(0, 0, 0, &tile).ok());
  return tile.encoding;
}

TEST(TiffRoute, NativeUnlessSwitchedOff) {
  const std::string& path = TiffSlidePath(TiffRecipes().front());
  EXPECT_EQ(FirstTileEncoding(path), TileEncoding::kJpeg);
  ScopedEnvironment openSlideRoute("STRATA_NATIVE_TIFF", "0");
  EXPECT_EQ(FirstTileEncoding(path), TileEncoding::kRgb);
}

// Another vendor's dialect (an XML description) is OpenSlide's to read; over
// HTTP, where OpenSlide cannot go, it fails with the native reader's reason.
TEST(TiffRoute, OtherDialectsGoToOpenSlide) {
  TempDir dir;
  TiffRecipe recipe = TiffRecipes().back();
  recipe.name = "dialect.tif";
  const std::string path = WriteTiffSlide(dir, recipe);
  ASSERT_TRUE(RewriteDescription(path, "<?xml version=\"1.0\"?><Scanner/>"));
  EXPECT_EQ(FirstTileEncoding(path), TileEncoding::kRgb);
  std::unique_ptr<Slide> slide;
  ASSERT_TRUE(Slide::Open(path, &slide).ok());
  EXPECT_EQ(slide->Properties().at("tiff.ImageDescription"), "<?xml version=\"1.0\"?><Scanner/>");

  const std::string object = ServedObject(path);
  loopback::LoopbackHttpServer server(
      [&](const loopback::Request& request, int) { return loopback::RangeReply(object, request); });
  const Status opened = Slide::Open(server.Url("/dialect.tif"), &slide);
  EXPECT_EQ(opened.code(), Status::Code::kUnsupported);
  EXPECT_NE(opened.message().find("XML"), std::string::npos) << opened.message();
}

}  // namespace
}  // namespace strata::test
