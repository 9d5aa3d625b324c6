// Annotations in strata serve: GeoJSON sidecars beside the slides or in the
// --annotations folder, read with a reason when they are unreadable, and
// saved by POST atomically, only for served slides, never over a file the
// viewer cannot read, never from another site and never on a read-only
// server.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "serve/served_slides.h"
#include "support/slide_fixtures.h"
#include "tools/loopback/nginx_server.h"

namespace strata::test {
namespace {

namespace fs = std::filesystem;

const std::string kPolygon =
    R"({"type": "FeatureCollection", "features": [{"type": "Feature", "geometry": {"type": )"
    R"("Polygon", "coordinates": [[[10, 10], [90, 10], [90, 60], [10, 10]]]}, "properties": )"
    R"({"name": "tumour", "classification": {"name": "Tumor", "color": [0, 255, 0]}}}]})";
const std::string kPoint =
    R"({"type": "FeatureCollection", "features": [{"type": "Feature", "geometry": )"
    R"({"type": "Point", "coordinates": [5, 6]}, "properties": null}]})";

std::string ReadText(const std::string& path) {
  const std::vector<unsigned char> bytes = ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

void WriteText(const std::string& path, const std::string& text) {
  WriteFileBytes(path, std::vector<unsigned char>(text.begin(), text.end()));
}

std::vector<std::string> FolderEntries(const std::string& path) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(path))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A POST of `body` with the given extra header lines.
HttpReply Post(int port, const std::string& target, const std::string& body,
               const std::string& headers = "Content-Type: application/geo+json\r\n") {
  HttpConnection connection(port);
  HttpReply reply;
  const std::string request = "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers +
                              "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  if (!connection.Exchange(request, false, &reply)) reply.status = 0;
  return reply;
}

// Slides of their own for every test: a.ztx and a folder with deep/b.ztx.
class AnnotationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SlideRecipe recipe;
    recipe.width = 300;
    recipe.height = 200;
    recipe.fileName = "a.ztx";
    MakeSlide(dir_, recipe);
    fs::create_directories(dir_.File("shelf/deep"));
    recipe.fileName = "shelf/deep/b.ztx";
    MakeSlide(dir_, recipe);
  }

  std::unique_ptr<ServeProcess> Start(std::vector<std::string> options = {}) {
    options.push_back(dir_.File("a.ztx"));
    options.push_back(dir_.File("shelf"));
    auto server = std::make_unique<ServeProcess>(options);
    EXPECT_TRUE(server->started()) << server->Output();
    return server;
  }

  TempDir dir_;
};

struct SidecarCase {
  std::vector<std::pair<std::string, std::string>> files;  // written before the server starts
  std::string slide;
  std::string expected;  // the body of the answer
};

class SidecarTest : public AnnotationTest, public ::testing::WithParamInterface<SidecarCase> {};

TEST_P(SidecarTest, IsFoundBesideTheSlideOrInTheAnnotationsFolder) {
  fs::create_directories(dir_.File("notes/deep"));
  for (const auto& [name, text] : GetParam().files) WriteText(dir_.File(name), text);
  auto server = Start({"--annotations", dir_.File("notes")});
  const HttpReply reply =
      Fetch(server->port(), "/slide/" + GetParam().slide + "/annotations.geojson");
  EXPECT_EQ(reply.status, 200) << reply.body;
  EXPECT_EQ(reply.headers.at("content-type"), "application/geo+json");
  EXPECT_EQ(reply.body, GetParam().expected);
}

const std::string kNone = "{\"type\": \"FeatureCollection\", \"features\": []}\n";

INSTANTIATE_TEST_SUITE_P(
    Places, SidecarTest,
    ::testing::Values(
        SidecarCase{{}, "a.ztx", kNone},
        SidecarCase{{{"a.ztx.geojson", kPolygon}}, "a.ztx", kPolygon},
        SidecarCase{{{"a.geojson", kPolygon}}, "a.ztx", kPolygon},
        SidecarCase{{{"a.geojson", kPoint}, {"a.ztx.geojson", kPolygon}}, "a.ztx", kPolygon},
        SidecarCase{{{"shelf/deep/b.geojson", kPoint}}, "deep/b.ztx", kPoint},
        // The annotations folder comes first, by the slide's name there.
        SidecarCase{{{"shelf/deep/b.ztx.geojson", kPoint}, {"notes/deep/b.ztx.geojson", kPolygon}},
                    "deep/b.ztx",
                    kPolygon},
        SidecarCase{
            {{"a.ztx.geojson", kPoint}, {"notes/a.geojson", kPolygon}}, "a.ztx", kPolygon}));

struct UnreadableCase {
  std::string name;
  std::string text;
  std::string reason;
};

class UnreadableTest : public AnnotationTest,
                       public ::testing::WithParamInterface<UnreadableCase> {};

TEST_P(UnreadableTest, SaysWhyAndTheSlideStillServes) {
  WriteText(dir_.File("a.ztx.geojson"), GetParam().text);
  auto server = Start();
  const HttpReply reply = Fetch(server->port(), "/slide/a.ztx/annotations.geojson");
  EXPECT_EQ(reply.status, 422);
  EXPECT_EQ(reply.body, "a.ztx.geojson: " + GetParam().reason + "\n");
  EXPECT_EQ(Fetch(server->port(), "/view/a.ztx").status, 200);
  EXPECT_EQ(Fetch(server->port(), "/dz/a.ztx_files/9/0_0.jpeg").status, 200);
}

std::string Feature(const std::string& geometry) {
  return R"({"type": "FeatureCollection", "features": [{"type": "Feature", "geometry": )" +
         geometry + R"(, "properties": {}}]})";
}

INSTANTIATE_TEST_SUITE_P(
    Files, UnreadableTest,
    ::testing::Values(
        // The unquoted name fails at its second letter, byte 32 ("false" cannot go on).
        UnreadableCase{"NotJson", "{\"type\": \"FeatureCollection\", features: []}",
                       "not valid JSON (at byte 32)"},
        UnreadableCase{"Empty", "", "not valid JSON (at byte 1)"},
        UnreadableCase{"AFeature", "{\"type\": \"Feature\", \"geometry\": null}",
                       "not a GeoJSON FeatureCollection (its \"type\" is \"Feature\")"},
        UnreadableCase{"AList", "[]", "not a GeoJSON FeatureCollection (its \"type\" is missing)"},
        UnreadableCase{"NoFeatures", "{\"type\": \"FeatureCollection\"}",
                       "a FeatureCollection needs a \"features\" list"},
        UnreadableCase{"FlatPolygon", Feature(R"({"type": "Polygon", "coordinates": [[1, 2]]})"),
                       "feature 1 of 1: a Polygon's coordinates must be rings of [x, y] positions"},
        UnreadableCase{"TextPoint", Feature(R"({"type": "Point", "coordinates": ["1", "2"]})"),
                       "feature 1 of 1: a Point's coordinates must be one [x, y] position"},
        UnreadableCase{"Circle", Feature(R"({"type": "Circle", "coordinates": [1, 2]})"),
                       "feature 1 of 1: \"Circle\" is not a GeoJSON geometry type"},
        UnreadableCase{"Nested", std::string(40, '[') + std::string(40, ']'),
                       "nested more than 32 levels deep"},
        UnreadableCase{"Huge", kPolygon + std::string(33 << 20, ' '),
                       "too large: 33.0 MB, the viewer takes up to 32.0 MB"}),
    [](const auto& info) { return info.param.name; });

TEST_F(AnnotationTest, SavingWritesTheSidecarAndReadsBackTheSame) {
  auto server = Start();
  const HttpReply saved = Post(server->port(), "/slide/a.ztx/annotations.geojson", kPolygon);
  ASSERT_EQ(saved.status, 200) << saved.body;
  EXPECT_EQ(saved.body, "{\"saved\": \"a.ztx.geojson\"}\n");
  EXPECT_EQ(ReadText(dir_.File("a.ztx.geojson")), kPolygon);
  EXPECT_EQ(Fetch(server->port(), "/slide/a.ztx/annotations.geojson").body, kPolygon);
  // Only the sidecar was added: no temporary file stays behind.
  EXPECT_EQ(FolderEntries(dir_.path()),
            (std::vector<std::string>{"a.ztx", "a.ztx.geojson", "shelf"}));
  // The sidecar is no slide of the list.
  EXPECT_EQ(Fetch(server->port(), "/").body.find("a.ztx.geojson"), std::string::npos);
}

TEST_F(AnnotationTest, SavingReplacesTheFileTheAnnotationsCameFrom) {
  WriteText(dir_.File("shelf/deep/b.geojson"), kPoint);
  auto server = Start();
  ASSERT_EQ(Post(server->port(), "/slide/deep/b.ztx/annotations.geojson", kPolygon).status, 200);
  EXPECT_EQ(ReadText(dir_.File("shelf/deep/b.geojson")), kPolygon);
  EXPECT_FALSE(fs::exists(dir_.File("shelf/deep/b.ztx.geojson")));
}

TEST_F(AnnotationTest, TheAnnotationsFolderTakesTheSavesInTheSlidesFolders) {
  fs::create_directories(dir_.File("notes"));
  auto server = Start({"--annotations", dir_.File("notes")});
  ASSERT_EQ(Post(server->port(), "/slide/deep/b.ztx/annotations.geojson", kPoint).status, 200);
  EXPECT_EQ(ReadText(dir_.File("notes/deep/b.ztx.geojson")), kPoint);
  EXPECT_FALSE(fs::exists(dir_.File("shelf/deep/b.ztx.geojson")));
}

TEST_F(AnnotationTest, ConcurrentSavesLeaveOneWholeFile) {
  auto server = Start();
  std::vector<std::string> bodies;
  for (int i = 0; i < 8; ++i) {
    bodies.push_back(R"({"type": "FeatureCollection", "features": [{"type": "Feature", )"
                     R"("geometry": {"type": "Point", "coordinates": [)" +
                     std::to_string(i) + R"(, 1]}, "properties": {"name": ")" +
                     std::string(20000, 'a' + i) + "\"}}]}");
  }
  std::vector<int> statuses(bodies.size());
  std::vector<std::thread> clients;
  for (std::size_t i = 0; i < bodies.size(); ++i) {
    clients.emplace_back([&, i] {
      statuses[i] = Post(server->port(), "/slide/a.ztx/annotations.geojson", bodies[i]).status;
    });
  }
  for (std::thread& client : clients) client.join();
  for (int status : statuses) EXPECT_EQ(status, 200);
  const std::string kept = ReadText(dir_.File("a.ztx.geojson"));
  EXPECT_NE(std::find(bodies.begin(), bodies.end(), kept), bodies.end());
  EXPECT_EQ(FolderEntries(dir_.path()).size(), 3u);
}

struct RefusedSave {
  std::string name;
  std::string target;
  std::string body;
  std::string headers;
  std::vector<std::string> options;  // of the server
  int status;
  std::string reason;  // the start of the answer
};

class RefusedSaveTest : public AnnotationTest, public ::testing::WithParamInterface<RefusedSave> {};

TEST_P(RefusedSaveTest, LeavesTheFilesAsTheyWere) {
  const RefusedSave& refused = GetParam();
  const std::string unreadable = "{\"type\": \"FeatureCollection\", \"features\": [1]}";
  WriteText(dir_.File("shelf/deep/b.ztx.geojson"), unreadable);
  auto server = Start(refused.options);
  const std::string request =
      refused.headers.empty() ? "POST " + refused.target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                                    "Content-Type: application/geo+json\r\nContent-Length: " +
                                    std::to_string(refused.body.size()) + "\r\n\r\n" + refused.body
                              : refused.headers;
  HttpConnection connection(server->port());
  HttpReply reply;
  ASSERT_TRUE(connection.Exchange(request, false, &reply));
  EXPECT_EQ(reply.status, refused.status) << reply.body;
  EXPECT_EQ(reply.body.rfind(refused.reason, 0), 0u) << reply.body;
  EXPECT_EQ(FolderEntries(dir_.path()), (std::vector<std::string>{"a.ztx", "shelf"}));
  EXPECT_EQ(FolderEntries(dir_.File("shelf/deep")),
            (std::vector<std::string>{"b.ztx", "b.ztx.geojson"}));
  EXPECT_EQ(ReadText(dir_.File("shelf/deep/b.ztx.geojson")), unreadable);
}

std::string RawPost(const std::string& target, const std::string& headers) {
  return "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers + "\r\n";
}

const std::string kA = "/slide/a.ztx/annotations.geojson";

INSTANTIATE_TEST_SUITE_P(
    Refusals, RefusedSaveTest,
    ::testing::Values(
        RefusedSave{"ReadOnly",
                    kA,
                    kPolygon,
                    "",
                    {"--read-only"},
                    403,
                    "the server is read-only (--read-only)"},
        RefusedSave{"NotGeoJson",
                    kA,
                    "{\"type\": 1}",
                    "",
                    {},
                    400,
                    "not saved: not a GeoJSON FeatureCollection"},
        RefusedSave{"OverAnUnreadableFile",
                    "/slide/deep/b.ztx/annotations.geojson",
                    kPolygon,
                    "",
                    {},
                    409,
                    "not saved: b.ztx.geojson: feature 1 of 1: not an object; move it"},
        RefusedSave{"UnknownSlide",
                    "/slide/c.ztx/annotations.geojson",
                    kPolygon,
                    "",
                    {},
                    404,
                    "no such slide"},
        RefusedSave{"OutOfTheFolder",
                    "/slide/deep/../../a.ztx/annotations.geojson",
                    kPolygon,
                    "",
                    {},
                    403,
                    "refused"},
        RefusedSave{"PlainText",
                    kA,
                    "",
                    RawPost(kA, "Content-Type: text/plain\r\nContent-Length: 0\r\n"),
                    {},
                    415,
                    "annotations are saved as application/geo+json"},
        RefusedSave{"OtherSite",
                    kA,
                    "",
                    RawPost(kA,
                            "Origin: http://elsewhere.example\r\nContent-Type: "
                            "application/json\r\nContent-Length: 0\r\n"),
                    {},
                    403,
                    "refused: the request comes from another site"},
        RefusedSave{"CrossSiteFetch",
                    kA,
                    "",
                    RawPost(kA,
                            "Sec-Fetch-Site: cross-site\r\nContent-Type: "
                            "application/json\r\nContent-Length: 0\r\n"),
                    {},
                    403,
                    "refused: the request comes from another site"},
        RefusedSave{"TooLarge",
                    kA,
                    "",
                    RawPost(kA, "Content-Type: application/json\r\nContent-Length: 40000000\r\n"),
                    {},
                    413,
                    "the annotations are too large: 38.1 MB"},
        RefusedSave{"NotAnAnnotationsAddress",
                    "/slide/a.ztx/info.json",
                    kPolygon,
                    "",
                    {},
                    405,
                    "method not allowed"}),
    [](const auto& info) { return info.param.name; });

TEST_F(AnnotationTest, OtherMethodsAreNamedInTheAnswer) {
  auto server = Start();
  HttpConnection connection(server->port());
  HttpReply reply;
  ASSERT_TRUE(connection.Exchange("PUT " + kA + " HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n",
                                  false, &reply));
  EXPECT_EQ(reply.status, 405);
  EXPECT_EQ(reply.headers["allow"], "GET, HEAD, POST");
}

TEST(AnnotationUrlTest, SlidesReadOverHttpSaveOnlyToTheAnnotationsFolder) {
  TempDir dir;
  SlideRecipe recipe;
  recipe.width = 300;
  recipe.height = 200;
  recipe.fileName = "remote.ztx";
  MakeSlide(dir, recipe);
  fs::create_directories(dir.File("notes"));
  loopback::NginxServer web(dir.path());
  ASSERT_TRUE(web.started()) << web.failure();
  const std::string target = "/slide/remote.ztx/annotations.geojson";
  {
    ServeProcess server({web.Url("remote.ztx")});
    ASSERT_TRUE(server.started()) << server.Output();
    const HttpReply refused = Post(server.port(), target, kPoint);
    EXPECT_EQ(refused.status, 403);
    EXPECT_EQ(refused.body,
              "not saved: the slide is read over HTTP: start the server with --annotations DIR to "
              "save its annotations\n");
  }
  ServeProcess server({"--annotations", dir.File("notes"), web.Url("remote.ztx")});
  ASSERT_TRUE(server.started()) << server.Output();
  ASSERT_EQ(Post(server.port(), target, kPoint).status, 200);
  EXPECT_EQ(ReadText(dir.File("notes/remote.ztx.geojson")), kPoint);
  EXPECT_EQ(Fetch(server.port(), target).body, kPoint);
}

TEST_F(AnnotationTest, ASidecarThatLinksOutOfItsFolderIsNotRead) {
  WriteText(dir_.File("outside.geojson"), kPolygon);
  fs::create_symlink(dir_.File("outside.geojson"), dir_.File("shelf/deep/b.ztx.geojson"));
  auto server = Start();
  const HttpReply reply = Fetch(server->port(), "/slide/deep/b.ztx/annotations.geojson");
  EXPECT_EQ(reply.status, 422);
  EXPECT_EQ(reply.body, "b.ztx.geojson links outside its folder\n");
}

}  // namespace
}  // namespace strata::test
