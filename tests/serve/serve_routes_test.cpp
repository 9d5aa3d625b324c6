// strata serve, route by route, against a running server: what each route
// answers, the Deep Zoom geometry, stored tiles passed through byte for
// byte, composed tiles equal to the library's regions, and the header rules.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "serve/served_slides.h"
#include "support/slide_fixtures.h"
#include "tools/svs_writer.h"

namespace strata::test {
namespace {

class ServeTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(Served().server().started()) << Served().server().Output(); }
  static ServedSlides& Served() { return ServedSlides::Get(); }
  static HttpReply Get(const std::string& target, const std::string& extra = "") {
    return Fetch(Served().port(), target, extra);
  }
};

struct RouteCase {
  std::string target;
  std::string contentType;
  std::string bodyHas;
};

class RouteTest : public ServeTest, public ::testing::WithParamInterface<RouteCase> {};

TEST_P(RouteTest, AnswersWithItsContentType) {
  const HttpReply reply = Get(GetParam().target);
  ASSERT_EQ(reply.status, 200) << reply.body;
  EXPECT_EQ(reply.headers.at("content-type").rfind(GetParam().contentType, 0), 0u)
      << reply.headers.at("content-type");
  EXPECT_EQ(reply.headers.at("content-length"), std::to_string(reply.body.size()));
  EXPECT_NE(reply.body.find(GetParam().bodyHas), std::string::npos);
  // Nothing the pages name may come from another host.
  if (GetParam().contentType == "text/html") {
    EXPECT_EQ(reply.body.find("://"), std::string::npos);
    EXPECT_EQ(reply.body.find("src=\"//"), std::string::npos);
  }
}

const std::string kJpegStart = "\xFF\xD8";

INSTANTIATE_TEST_SUITE_P(
    Routes, RouteTest,
    ::testing::Values(
        RouteCase{"/", "text/html", "href=\"/view/odd.ztx\""},
        RouteCase{"/", "text/html", "/slide/deep/inner.ztx/thumbnail.jpg"},
        // The list names the slides and leaves their facts to the page.
        RouteCase{"/", "text/html", "data-info=\"/slide/odd.ztx/info.json\""},
        RouteCase{"/view/odd.ztx", "text/html", "data-dzi=\"/dz/odd.ztx.dzi\""},
        RouteCase{"/view/odd.ztx", "text/html", "/static/openseadragon/openseadragon.min.js"},
        RouteCase{"/view/odd.ztx", "text/html", "/slide/odd.ztx/label.jpg"},
        RouteCase{"/view/odd.ztx", "text/html", "data-microns-per-pixel=\"0.5\""},
        RouteCase{"/view/odd.ztx", "text/html", "data-objective-power=\"20\""},
        // Neighbours in the list's order; the last slide has no next one.
        RouteCase{"/view/odd.ztx", "text/html",
                  "id=\"previous-slide\" class=\"neighbour\" href=\"/view/mode1.ztx\""},
        RouteCase{"/view/odd.ztx", "text/html", "id=\"next-slide\" class=\"neighbour disabled\""},
        RouteCase{"/view/aperio.svs", "text/html",
                  "id=\"previous-slide\" class=\"neighbour disabled\""},
        RouteCase{"/view/aperio.svs", "text/html",
                  "id=\"next-slide\" class=\"neighbour\" href=\"/view/bmp.ztx\""},
        RouteCase{"/view/deep/inner.ztx", "text/html", "/dz/deep/inner.ztx.dzi"},
        RouteCase{"/dz/odd.ztx.dzi", "application/xml", "TileSize=\"256\" Overlap=\"0\""},
        RouteCase{"/dz/odd.ztx_files/10/0_0.jpeg", "image/jpeg", kJpegStart},
        RouteCase{"/dz/deep/inner.ztx_files/9/0_0.jpeg", "image/jpeg", kJpegStart},
        RouteCase{"/slide/odd.ztx/info.json", "application/json", "\"width\": 1001"},
        RouteCase{"/slide/odd.ztx/info.json", "application/json", "\"micronsPerPixel\": 0.5"},
        RouteCase{"/slide/aperio.svs/info.json", "application/json", "\"format\": \"aperio\""},
        // A slide without a scan date shows none.
        RouteCase{"/slide/aperio.svs/info.json", "application/json", "\"scanned\": null"},
        RouteCase{"/slide/aperio.svs/info.json", "application/json", "\"scanScale\": 20"},
        RouteCase{"/slide/odd.ztx/annotations.geojson", "application/geo+json", "\"features\": []"},
        RouteCase{"/slide/odd.ztx/label.jpg", "image/jpeg", kJpegStart},
        RouteCase{"/slide/odd.ztx/preview.jpg", "image/jpeg", kJpegStart},
        RouteCase{"/slide/odd.ztx/thumbnail.jpg", "image/jpeg", kJpegStart},
        RouteCase{"/slide/bmp.ztx/thumbnail.jpg", "image/jpeg", kJpegStart},
        RouteCase{"/slide/g3x2.ztx/thumbnail.jpg", "image/jpeg", kJpegStart},
        RouteCase{"/slide/odd.ztx/region?x=5&y=7&w=64&h=32", "image/jpeg", kJpegStart},
        RouteCase{"/slide/odd.ztx/region?x=5&y=7&w=64&h=32&format=png&scale=10", "image/png",
                  "\x89PNG"},
        RouteCase{"/static/openseadragon/openseadragon.min.js", "text/javascript", "OpenSeadragon"},
        RouteCase{"/static/openseadragon/images/zoomin_rest.png", "image/png", "PNG"},
        RouteCase{"/static/viewer.js", "text/javascript", "strataViewer"},
        RouteCase{"/static/slide_list.js", "text/javascript", "IntersectionObserver"}));

TEST_F(ServeTest, TheListIsInNaturalOrder) {
  const std::string page = Get("/").body;
  std::size_t previous = 0;
  for (const char* name : {"g3x2.ztx", "g257x255.ztx", "g1001x703.ztx", "g1500x17.ztx"}) {
    const std::size_t at = page.find(std::string("data-name=\"") + name + "\"");
    ASSERT_NE(at, std::string::npos) << name;
    EXPECT_GT(at, previous) << name;
    previous = at;
  }
  // Inside a served folder: nothing that is not a slide, nothing that leaves it.
  EXPECT_EQ(page.find("notes.txt"), std::string::npos);
  EXPECT_EQ(page.find("escape.ztx"), std::string::npos);
}

TEST_F(ServeTest, TheScanDateIsTheSlidesInLocalTime) {
  const std::time_t scanned = ServedSlides::kScanTime;
  std::tm local{};
  ASSERT_NE(localtime_r(&scanned, &local), nullptr);
  char date[40];
  std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &local);
  const HttpReply info = Get("/slide/odd.ztx/info.json");
  EXPECT_NE(info.body.find(std::string("\"scanned\": \"") + date + "\""), std::string::npos)
      << info.body;
  EXPECT_NE(Get("/view/odd.ztx").body.find(std::string("<dd>") + date + "</dd>"),
            std::string::npos);
}

// Expected Deep Zoom level sizes: halve (rounding up) down to one pixel.
std::vector<std::pair<int, int>> LevelSizes(int width, int height) {
  std::vector<std::pair<int, int>> sizes = {{width, height}};
  while (sizes.front().first > 1 || sizes.front().second > 1) {
    sizes.insert(sizes.begin(), {(sizes.front().first + 1) / 2, (sizes.front().second + 1) / 2});
  }
  return sizes;
}

class GeometryTest : public ServeTest, public ::testing::WithParamInterface<SizedSlide> {};

TEST_P(GeometryTest, EveryLevelEndsWithTilesCutToTheLevel) {
  const SizedSlide& slide = GetParam();
  const HttpReply dzi = Get("/dz/" + slide.name + ".dzi");
  ASSERT_EQ(dzi.status, 200);
  EXPECT_NE(dzi.body.find("<Size Width=\"" + std::to_string(slide.width) + "\" Height=\"" +
                          std::to_string(slide.height) + "\"/>"),
            std::string::npos)
      << dzi.body;
  const auto sizes = LevelSizes(slide.width, slide.height);
  HttpConnection connection(Served().port());
  for (std::size_t level = 0; level < sizes.size(); ++level) {
    const int columns = (sizes[level].first + 255) / 256;
    const int rows = (sizes[level].second + 255) / 256;
    const std::string base = "/dz/" + slide.name + "_files/" + std::to_string(level) + "/";
    HttpReply reply;
    ASSERT_TRUE(connection.Get(
        base + std::to_string(columns - 1) + "_" + std::to_string(rows - 1) + ".jpeg", &reply));
    ASSERT_EQ(reply.status, 200) << base;
    int width = 0, height = 0;
    ASSERT_FALSE(DecodeJpegBytes(reply.body, &width, &height).empty()) << base;
    EXPECT_EQ(width, sizes[level].first - (columns - 1) * 256) << base;
    EXPECT_EQ(height, sizes[level].second - (rows - 1) * 256) << base;
    ASSERT_TRUE(connection.Get(base + std::to_string(columns) + "_0.jpeg", &reply));
    EXPECT_EQ(reply.status, 404) << base;
    ASSERT_TRUE(connection.Get(base + "0_" + std::to_string(rows) + ".jpeg", &reply));
    EXPECT_EQ(reply.status, 404) << base;
  }
  EXPECT_EQ(Get(TileTarget(slide.name, static_cast<int>(sizes.size()), 0, 0)).status, 404);
}

INSTANTIATE_TEST_SUITE_P(OddSizes, GeometryTest,
                         ::testing::ValuesIn(ServedSlides::GeometrySlides()), [](const auto& info) {
                           return "w" + std::to_string(info.param.width) + "h" +
                                  std::to_string(info.param.height);
                         });

struct StoredCase {
  int level;
  float scale;
  int column;
  int row;
};

class PassThroughTest : public ServeTest, public ::testing::WithParamInterface<StoredCase> {};

TEST_P(PassThroughTest, WholeStoredTilesGoOutAsStored) {
  const StoredCase& tile = GetParam();
  LibrarySlide library(Served().Path("odd.ztx"));
  const std::string stored = library.StoredTile(tile.scale, tile.column * 256, tile.row * 256);
  ASSERT_FALSE(stored.empty());
  const HttpReply reply = Get(TileTarget("odd.ztx", tile.level, tile.column, tile.row));
  ASSERT_EQ(reply.status, 200);
  EXPECT_TRUE(reply.body == stored) << "tile differs from the stored bytes";
}

// odd.ztx: level 10 is 1001 x 703 at 20x, level 9 is 501 x 352 at 10x.
INSTANTIATE_TEST_SUITE_P(Interior, PassThroughTest,
                         ::testing::Values(StoredCase{10, 20.0f, 0, 0}, StoredCase{10, 20.0f, 2, 1},
                                           StoredCase{10, 20.0f, 1, 0},
                                           StoredCase{9, 10.0f, 0, 0}));

struct ComposedCase {
  std::string slide;
  int level;
  float scale;
  int column;
  int row;
  int width;
  int height;
};

class ComposedTest : public ServeTest, public ::testing::WithParamInterface<ComposedCase> {};

TEST_P(ComposedTest, TilesEqualTheLibrarysRegion) {
  const ComposedCase& tile = GetParam();
  LibrarySlide library(Served().Path(tile.slide));
  const std::string region =
      library.Region(tile.scale, tile.column * 256, tile.row * 256, tile.width, tile.height, true);
  ASSERT_FALSE(region.empty());
  const std::string target = TileTarget(tile.slide, tile.level, tile.column, tile.row);
  const HttpReply reply = Get(target);
  ASSERT_EQ(reply.status, 200);
  EXPECT_TRUE(reply.body == region) << "tile differs from the library's region";
  // Served again from the cache: the same bytes.
  EXPECT_TRUE(Get(target).body == region);
}

INSTANTIATE_TEST_SUITE_P(
    EdgesLevelsAndFormats, ComposedTest,
    ::testing::Values(ComposedCase{"odd.ztx", 10, 20.0f, 3, 0, 233, 256},  // right edge
                      ComposedCase{"odd.ztx", 10, 20.0f, 1, 2, 256, 191},  // bottom edge
                      ComposedCase{"mode1.ztx", 10, 10.0f, 0, 0, 256,
                                   256},  // level the file leaves out
                      ComposedCase{"mode1.ztx", 10, 10.0f, 2, 1, 238, 194},
                      ComposedCase{"bmp.ztx", 10, 20.0f, 1, 0, 256, 256}));  // BMP tiles

struct PatternCase {
  int level;
  int column;
  int row;
  double downsample;  // of the Deep Zoom level
};

class SvsTileTest : public ServeTest, public ::testing::WithParamInterface<PatternCase> {};

// An SVS slide's tiles show the pattern it was written with, at stored
// levels (0 and 1) and at levels composed between them.
TEST_P(SvsTileTest, ShowsThePatternOfItsLevel) {
  const PatternCase& tile = GetParam();
  int width = 0, height = 0;
  const std::vector<unsigned char> served = DecodeJpegBytes(
      Get(TileTarget("aperio.svs", tile.level, tile.column, tile.row)).body, &width, &height);
  ASSERT_FALSE(served.empty());
  const int levelWidth = static_cast<int>(std::ceil(1000 / tile.downsample));
  const int levelHeight = static_cast<int>(std::ceil(700 / tile.downsample));
  ASSERT_EQ(width, std::min(256, levelWidth - tile.column * 256));
  ASSERT_EQ(height, std::min(256, levelHeight - tile.row * 256));
  std::vector<unsigned char> expected(served.size());
  tools::FillSvsTestPattern(tile.column * 256, tile.row * 256, width, height, tile.downsample,
                            expected.data());
  EXPECT_LT(MeanDifference(served, expected), 4.0);
}

// aperio.svs: Deep Zoom level 10 is level 0, 9 is composed, 8 is level 1.
INSTANTIATE_TEST_SUITE_P(StoredAndComposed, SvsTileTest,
                         ::testing::Values(PatternCase{10, 1, 1, 1.0}, PatternCase{10, 3, 2, 1.0},
                                           PatternCase{9, 1, 0, 2.0}, PatternCase{8, 0, 0, 4.0}));

TEST_F(ServeTest, LevelsBelowTheSmallestStoredOneShowTheSlide) {
  // odd.ztx stores nothing below 251 x 176 (level 8); level 5 is 32 x 22.
  LibrarySlide library(Served().Path("odd.ztx"));
  int sourceWidth = 0, sourceHeight = 0;
  const std::vector<unsigned char> source =
      DecodeJpegBytes(library.Region(5.0f, 0, 0, 251, 176, true), &sourceWidth, &sourceHeight);
  ASSERT_FALSE(source.empty());
  int width = 0, height = 0;
  const std::vector<unsigned char> tile =
      DecodeJpegBytes(Get("/dz/odd.ztx_files/5/0_0.jpeg").body, &width, &height);
  ASSERT_EQ(width, 32);
  ASSERT_EQ(height, 22);
  for (int channel = 0; channel < 3; ++channel) {
    double tileMean = 0, sourceMean = 0;
    for (std::size_t i = channel; i < tile.size(); i += 3) tileMean += tile[i];
    for (std::size_t i = channel; i < source.size(); i += 3) sourceMean += source[i];
    tileMean /= tile.size() / 3;
    sourceMean /= source.size() / 3;
    EXPECT_NEAR(tileMean, sourceMean, 12.0) << "channel " << channel;
  }
}

TEST_F(ServeTest, RegionsAreTheLibrarysRegions) {
  LibrarySlide library(Served().Path("odd.ztx"));
  const HttpReply jpeg = Get("/slide/odd.ztx/region?x=-10&y=600&w=300&h=200&scale=20");
  ASSERT_EQ(jpeg.status, 200);
  EXPECT_TRUE(jpeg.body == library.Region(20.0f, -10, 600, 300, 200, true));

  const HttpReply png = Get("/slide/odd.ztx/region?x=30&y=40&w=120&h=90&scale=7.5&format=png");
  ASSERT_EQ(png.status, 200);
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_memory(&image, png.body.data(), png.body.size()));
  image.format = PNG_FORMAT_RGB;
  std::string pixels(PNG_IMAGE_SIZE(image), '\0');
  ASSERT_TRUE(png_image_finish_read(&image, nullptr, &pixels[0], 0, nullptr));
  EXPECT_EQ(image.width, 120u);
  EXPECT_TRUE(pixels == library.Region(7.5f, 30, 40, 120, 90, false));
}

TEST_F(ServeTest, AssociatedImagesAreTheSlides) {
  LibrarySlide library(Served().Path("odd.ztx"));
  int width = 0, height = 0, libraryWidth = 0, libraryHeight = 0;
  const std::vector<unsigned char> label =
      DecodeJpegBytes(Get("/slide/odd.ztx/label.jpg").body, &width, &height);
  const std::vector<unsigned char> stored =
      DecodeJpegBytes(library.Label(), &libraryWidth, &libraryHeight);
  EXPECT_EQ(width, libraryWidth);
  EXPECT_EQ(height, libraryHeight);
  EXPECT_LT(MeanDifference(label, stored), 2.0);
  // A BMP thumbnail goes out as JPEG of the same size.
  ASSERT_FALSE(DecodeJpegBytes(Get("/slide/bmp.ztx/thumbnail.jpg").body, &width, &height).empty());
  int expectedWidth = 0, expectedHeight = 0;
  ThumbnailSize(600, 400, &expectedWidth, &expectedHeight);
  EXPECT_EQ(width, expectedWidth);
  EXPECT_EQ(height, expectedHeight);
  EXPECT_EQ(Get("/slide/g3x2.ztx/label.jpg").status, 404);
}

TEST_F(ServeTest, TilesCarryCachingHeadersAndAnswerConditionalRequests) {
  const std::string tile = "/dz/odd.ztx_files/10/1_1.jpeg";
  const HttpReply first = Get(tile);
  ASSERT_EQ(first.status, 200);
  const std::string etag = first.headers.at("etag");
  ASSERT_EQ(etag.size(), 18u);
  EXPECT_TRUE(etag.front() == '"' && etag.back() == '"');
  EXPECT_EQ(etag.find_first_not_of("0123456789abcdef", 1), 17u) << etag;
  EXPECT_NE(first.headers.at("cache-control").find("max-age="), std::string::npos);
  EXPECT_EQ(first.headers.at("content-type"), "image/jpeg");
  EXPECT_EQ(Get("/dz/odd.ztx_files/10/0_1.jpeg").headers.at("etag") == etag, false);

  for (const std::string& condition : {etag, "W/" + etag, "\"other\", " + etag, std::string("*")}) {
    const HttpReply again = Get(tile, "If-None-Match: " + condition + "\r\n");
    EXPECT_EQ(again.status, 304) << condition;
    EXPECT_TRUE(again.body.empty());
    ASSERT_EQ(again.headers.count("etag"), 1u);
    EXPECT_EQ(again.headers.at("etag"), etag);
  }
  EXPECT_EQ(Get(tile, "If-None-Match: \"0000000000000000\"\r\n").status, 200);

  HttpConnection connection(Served().port());
  HttpReply head;
  ASSERT_TRUE(connection.Exchange("HEAD " + tile + " HTTP/1.1\r\nHost: x\r\n\r\n", true, &head));
  EXPECT_EQ(head.status, 200);
  EXPECT_EQ(head.headers["content-length"], std::to_string(first.body.size()));
  EXPECT_EQ(head.headers["etag"], etag);
}

TEST_F(ServeTest, ConnectionsStayOpenAcrossRequests) {
  HttpConnection connection(Served().port());
  for (int i = 0; i < 5; ++i) {
    HttpReply reply;
    ASSERT_TRUE(
        connection.Get("/dz/odd.ztx_files/10/" + std::to_string(i % 4) + "_0.jpeg", &reply));
    EXPECT_EQ(reply.status, 200);
  }
  EXPECT_FALSE(connection.ClosedByPeer());
}

}  // namespace
}  // namespace strata::test
