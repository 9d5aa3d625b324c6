// strata serve under hostile and heavy use: every refusal, a URL fuzz loop,
// a damaged tile, a concurrent load run, the access log and a clean stop on
// SIGINT and SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "serve/served_slides.h"
#include "tools/loopback/nginx_server.h"

namespace strata::test {
namespace {

class SafetyTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(Served().server().started()) << Served().server().Output(); }
  static ServedSlides& Served() { return ServedSlides::Get(); }
};

struct RefusalCase {
  std::string request;  // the whole request head
  int status;
};

class RefusalTest : public SafetyTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(RefusalTest, IsAnsweredWithItsStatus) {
  HttpConnection connection(Served().port());
  HttpReply reply;
  ASSERT_TRUE(connection.Exchange(GetParam().request, false, &reply)) << GetParam().request;
  EXPECT_EQ(reply.status, GetParam().status) << GetParam().request << "\n" << reply.body;
  if (reply.status == 405) {
    EXPECT_EQ(reply.headers["allow"], "GET, HEAD");
  }
}

RefusalCase Get(const std::string& target, int status) {
  return {"GET " + target + " HTTP/1.1\r\nHost: x\r\n\r\n", status};
}

RefusalCase Method(const std::string& method, int status) {
  return {method + " /dz/odd.ztx.dzi HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n", status};
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, RefusalTest,
    ::testing::Values(
        // Leaving the served slides.
        Get("/dz/../../../etc/passwd", 403), Get("/slide/../odd.ztx/info.json", 403),
        Get("/slide/deep/../../odd.ztx/info.json", 403), Get("/static/../CMakeLists.txt", 403),
        Get("/slide/..%2F..%2Fetc%2Fpasswd/info.json", 403),
        Get("/slide/deep%2Finner.ztx/info.json", 403),
        Get("/slide/deep%2finner.ztx/info.json", 403),
        Get("/slide/deep%5Cinner.ztx/info.json", 403), Get("/slide/%2E%2E/odd.ztx/info.json", 403),
        Get("/slide/odd.ztx%00.png/info.json", 403), Get("/slide//etc/passwd/info.json", 403),
        Get("/dz//tmp/odd.ztx.dzi", 403), Get("/slide/deep\\inner.ztx/info.json", 403),
        Get("/slide/escape.ztx/info.json", 403), Get("/view/escape.ztx", 403),
        Get("/" + std::string(3000, 'a'), 414),
        Get("/dz/odd.ztx_files/10/0_0.jpeg?" + std::string(2100, 'q'), 414),
        // Unknown things.
        Get("/slide/notes.txt/info.json", 404), Get("/slide/nothere.ztx/info.json", 404),
        Get("/dz/nothere.ztx_files/0/0_0.jpeg", 404), Get("/etc/passwd", 404),
        Get("/static/package.json", 404), Get("/slide/odd.ztx/other.jpg", 404),
        // Outside the pyramid.
        Get("/dz/odd.ztx_files/11/0_0.jpeg", 404), Get("/dz/odd.ztx_files/10/4_0.jpeg", 404),
        Get("/dz/odd.ztx_files/10/0_3.jpeg", 404), Get("/dz/odd.ztx_files/0/0_1.jpeg", 404),
        Get("/slide/odd.ztx/region?x=5000&y=0&w=10&h=10", 404),
        // Malformed numbers.
        Get("/dz/odd.ztx_files/abc/0_0.jpeg", 400), Get("/dz/odd.ztx_files/10/-1_0.jpeg", 400),
        Get("/dz/odd.ztx_files/10/0_0x.jpeg", 400), Get("/dz/odd.ztx_files/10/1e2_0.jpeg", 400),
        Get("/dz/odd.ztx_files/10/0_0.png", 400), Get("/dz/odd.ztx_files/10/_0.jpeg", 400),
        Get("/dz/odd.ztx_files/99999999999/0_0.jpeg", 400),
        Get("/dz/odd.ztx_files/10/0_99999999999.jpeg", 400),
        Get("/slide/odd.ztx/region?x=0&y=0&w=10", 400),
        Get("/slide/odd.ztx/region?x=0&y=0&w=10&h=1.5", 400),
        Get("/slide/odd.ztx/region?x=0&y=0&w=0&h=10", 400),
        Get("/slide/odd.ztx/region?x=0&y=0&w=5000&h=10", 400),
        Get("/slide/odd.ztx/region?x=0&y=0&w=10&h=10&scale=abc", 400),
        Get("/slide/odd.ztx/region?x=0&y=0&w=10&h=10&scale=-1", 400),
        Get("/slide/odd.ztx/region?x=0&y=0&w=10&h=10&scale=nan", 400),
        Get("/slide/odd.ztx/region?x=0&y=0&w=10&h=10&format=gif", 400),
        // Other methods.
        Method("POST", 405), Method("PUT", 405), Method("DELETE", 405), Method("PATCH", 405),
        Method("OPTIONS", 405), Method("TRACE", 405),
        RefusalCase{"POST /slide/odd.ztx/info.json HTTP/1.1\r\nHost: x\r\n\r\n", 405}));

// Random request targets built from the pieces that trip parsers.
std::string FuzzTarget(std::mt19937& random) {
  static const std::vector<std::string> kPrefixes = {"/",
                                                     "/dz/",
                                                     "/dz/odd.ztx_files/",
                                                     "/dz/odd.ztx",
                                                     "/slide/",
                                                     "/slide/odd.ztx/",
                                                     "/slide/odd.ztx/region?",
                                                     "/view/",
                                                     "/static/",
                                                     "/slide/deep/inner.ztx/",
                                                     "//",
                                                     ""};
  static const std::vector<std::string> kPieces = {"odd.ztx",
                                                   "mode1.ztx",
                                                   "bmp.ztx",
                                                   "inner.ztx",
                                                   "deep",
                                                   "..",
                                                   ".",
                                                   "/",
                                                   "//",
                                                   "%2F",
                                                   "%2e",
                                                   "%00",
                                                   "%",
                                                   "%%",
                                                   "%ZZ",
                                                   "%C3%A9",
                                                   "\xC3\xA9",
                                                   "_files",
                                                   ".dzi",
                                                   ".jpeg",
                                                   "info.json",
                                                   "region",
                                                   "?",
                                                   "&",
                                                   "=",
                                                   "x=",
                                                   "y=",
                                                   "w=",
                                                   "h=",
                                                   "scale=",
                                                   "format=",
                                                   "png",
                                                   "-1",
                                                   "0",
                                                   "10",
                                                   "1e9",
                                                   "4294967296",
                                                   "99999999999999999999",
                                                   "0_0",
                                                   "_",
                                                   ";",
                                                   "'",
                                                   "<",
                                                   ">",
                                                   "\"",
                                                   "{",
                                                   "~",
                                                   "+",
                                                   "*",
                                                   "label.jpg",
                                                   "thumbnail.jpg",
                                                   "nan",
                                                   "inf",
                                                   "0x10",
                                                   " ",
                                                   "\t"};
  std::string target = kPrefixes[random() % kPrefixes.size()];
  const int pieces = static_cast<int>(random() % 8);
  for (int i = 0; i < pieces; ++i) target += kPieces[random() % kPieces.size()];
  // Spaces and control characters would break the request line itself.
  std::string safe;
  for (char c : target) safe += (c == ' ' || c == '\t') ? std::string("%20") : std::string(1, c);
  return safe.empty() || safe[0] != '/' ? "/" + safe : safe;
}

TEST_F(SafetyTest, FuzzedUrlsNeverFailTheServer) {
  std::mt19937 random(1234);
  auto connection = std::make_unique<HttpConnection>(Served().port());
  int answered = 0;
  for (int i = 0; i < 3000; ++i) {
    const std::string target = FuzzTarget(random);
    HttpReply reply;
    if (!connection->Get(target, &reply)) {
      // The server may close a connection after a request it refuses.
      connection = std::make_unique<HttpConnection>(Served().port());
      ASSERT_TRUE(connection->Get(target, &reply)) << "no answer to " << target;
    }
    ASSERT_GT(reply.status, 0) << target;
    ASSERT_LT(reply.status, 500) << target << "\n" << reply.body;
    ++answered;
  }
  EXPECT_EQ(answered, 3000);
  EXPECT_TRUE(Served().server().Alive());
  EXPECT_EQ(Fetch(Served().port(), "/").status, 200);
}

TEST_F(SafetyTest, ADamagedTileIsWhiteAndTheRestServes) {
  const std::string base = "/dz/damaged.ztx_files/10/";
  const HttpReply damaged = Fetch(Served().port(), base + "1_1.jpeg");
  ASSERT_TRUE(damaged.status == 200 || damaged.status == 500) << damaged.status;
  if (damaged.status == 200) {
    int width = 0, height = 0;
    const std::vector<unsigned char> pixels = DecodeJpegBytes(damaged.body, &width, &height);
    ASSERT_EQ(width, 256);
    std::size_t white = 0;
    for (unsigned char value : pixels) white += value >= 250;
    EXPECT_GT(white, pixels.size() * 99 / 100);
  }
  LibrarySlide library(Served().Path("damaged.ztx"));
  const HttpReply neighbour = Fetch(Served().port(), base + "0_1.jpeg");
  ASSERT_EQ(neighbour.status, 200);
  EXPECT_TRUE(neighbour.body == library.StoredTile(20.0f, 0, 256));
  EXPECT_TRUE(Served().server().Alive());
}

TEST_F(SafetyTest, EightClientsFetchTwentyThousandTiles) {
  struct Tile {
    std::string target;
    std::size_t length;
  };
  // Stored, edge and composed tiles of two slides, fetched once for their sizes.
  std::vector<Tile> tiles;
  for (const std::string& slide : {std::string("odd.ztx"), std::string("mode1.ztx")}) {
    for (int level = 8; level <= 10; ++level) {
      for (int column = 0; column < 3; ++column) {
        const std::string target = TileTarget(slide, level, column, 0);
        const HttpReply reply = Fetch(Served().port(), target);
        if (reply.status == 200) tiles.push_back({target, reply.body.size()});
      }
    }
  }
  ASSERT_GE(tiles.size(), 12u);
  constexpr int kClients = 8;
  constexpr int kRequestsEach = 2500;
  std::atomic<int> good{0};
  std::atomic<int> bad{0};
  std::vector<std::thread> clients;
  for (int client = 0; client < kClients; ++client) {
    clients.emplace_back([&, client] {
      std::mt19937 random(static_cast<unsigned>(client));
      auto connection = std::make_unique<HttpConnection>(Served().port());
      for (int i = 0; i < kRequestsEach; ++i) {
        const Tile& tile = tiles[random() % tiles.size()];
        HttpReply reply;
        if (!connection->Get(tile.target, &reply)) {
          connection = std::make_unique<HttpConnection>(Served().port());
          if (!connection->Get(tile.target, &reply)) reply.status = 0;
        }
        (reply.status == 200 && reply.body.size() == tile.length ? good : bad)++;
      }
    });
  }
  for (std::thread& client : clients) client.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(good.load(), kClients * kRequestsEach);
}

class StopTest : public SafetyTest, public ::testing::WithParamInterface<int> {};

TEST_P(StopTest, LogsEachRequestAndStopsCleanly) {
  ServeProcess server({"--log", Served().Path("odd.ztx")});
  ASSERT_TRUE(server.started()) << server.Output();
  EXPECT_EQ(server.url().rfind("http://127.0.0.1:", 0), 0u);  // loopback unless told otherwise
  // A connection held open across the stop must not keep the server up.
  HttpConnection idle(server.port());
  EXPECT_EQ(Fetch(server.port(), "/dz/odd.ztx.dzi").status, 200);
  EXPECT_EQ(Fetch(server.port(), "/dz/odd.ztx_files/20/0_0.jpeg").status, 404);
  EXPECT_EQ(server.Stop(GetParam()), 0);
  const std::string output = server.Output();
  EXPECT_NE(output.find("127.0.0.1 \"GET /dz/odd.ztx.dzi HTTP/1.1\" 200 "), std::string::npos)
      << output;
  EXPECT_NE(output.find("\"GET /dz/odd.ztx_files/20/0_0.jpeg HTTP/1.1\" 404 "), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Signals, StopTest, ::testing::Values(SIGINT, SIGTERM));

struct RefusedStart {
  std::vector<std::string>
      arguments;  // after `strata serve`; "DIR/" starts a path in the test's folder
  std::string message;
};

class ServeCommandTest : public ::testing::TestWithParam<RefusedStart> {};

TEST_P(ServeCommandTest, RefusesWhatItCannotServe) {
  TempDir dir;
  WriteFileBytes(dir.File("notes.txt"), {'x'});
  std::vector<std::string> arguments = {"serve"};
  for (const std::string& word : GetParam().arguments) {
    arguments.push_back(word.rfind("DIR/", 0) == 0 ? dir.File(word.substr(4)) : word);
  }
  std::string output;
  EXPECT_NE(RunStrata(arguments, &output), 0);
  EXPECT_NE(output.find(GetParam().message), std::string::npos) << output;
  EXPECT_EQ(output.find("strata serve: http"), std::string::npos) << output;
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, ServeCommandTest,
    ::testing::Values(RefusedStart{{"DIR/missing.ztx"}, "missing.ztx: no such file or folder"},
                      RefusedStart{{"DIR/notes.txt"}, "notes.txt: not a slide: starts with 78"},
                      RefusedStart{{"https://127.0.0.1:9/a.ztx"},
                                   "https:// URLs cannot be read; give the slide's http:// URL"},
                      RefusedStart{{"http://127.0.0.1:9/a.svs"},
                                   "a.svs: not the URL of a ZTX slide (other slides are read "
                                   "from local files)"},
                      RefusedStart{{"--annotations", "DIR/none", "DIR/"}, "--annotations"},
                      RefusedStart{{"--port", "70000", "DIR/"}, "--port"},
                      RefusedStart{{"--threads", "0", "DIR/"}, "--threads"}));

// A second server on a taken port fails (cpp-httplib would share the port
// through SO_REUSEPORT and the two would take turns over the requests),
// while the port can be taken again as soon as its server has stopped.
TEST(ServePortTest, ATakenPortFailsClearlyAndAFreedOneServesAgain) {
  const std::string slide = ServedSlides::Get().Path("odd.ztx");
  auto first = std::make_unique<ServeProcess>(std::vector<std::string>{slide});
  ASSERT_TRUE(first->started()) << first->Output();
  const std::string port = std::to_string(first->port());
  std::string output;
  EXPECT_EQ(RunStrata({"serve", "--port", port, slide}, &output), 1);
  EXPECT_EQ(output, "strata: cannot listen on 127.0.0.1 port " + port +
                        ": the port is already in use (another server listens there)\n");
  // A request leaves its connection waiting out its close on the server's side.
  EXPECT_EQ(Fetch(first->port(), "/dz/odd.ztx.dzi").status, 200);
  EXPECT_EQ(first->Stop(SIGTERM), 0);
  ServeProcess second({"--port", port, slide}, false);
  ASSERT_TRUE(second.started()) << second.Output();
  EXPECT_EQ(Fetch(second.port(), "/dz/odd.ztx.dzi").status, 200);
}

}  // namespace
}  // namespace strata::test

namespace strata::test {
namespace {

using strata::loopback::NginxServer;

// The list answers without opening a slide: slides read over HTTP show it,
// as their web server sees no request until a slide's facts are asked for.
TEST(ServeUrlTest, TheListOpensNoSlide) {
  NginxServer web(ServedSlides::Get().dir().path());
  ASSERT_TRUE(web.started()) << web.failure();
  ServeProcess server({web.Url("odd.ztx"), web.Url("mode1.ztx")});
  ASSERT_TRUE(server.started()) << server.Output();
  const HttpReply list = Fetch(server.port(), "/");
  ASSERT_EQ(list.status, 200);
  EXPECT_NE(list.body.find("data-name=\"mode1.ztx\""), std::string::npos);
  EXPECT_NE(list.body.find("data-name=\"odd.ztx\""), std::string::npos);
  EXPECT_EQ(web.AccessLogLines(1), 0);
  EXPECT_EQ(Fetch(server.port(), "/slide/odd.ztx/info.json").status, 200);
  EXPECT_GT(web.AccessLogLines(1), 0);
}

TEST(ServeUrlTest, ServesAZtxSlideGivenByItsUrl) {
  NginxServer web(ServedSlides::Get().dir().path());
  ASSERT_TRUE(web.started()) << web.failure();
  ServeProcess server({web.Url("odd.ztx")});
  ASSERT_TRUE(server.started()) << server.Output();
  const HttpReply dzi = Fetch(server.port(), "/dz/odd.ztx.dzi");
  ASSERT_EQ(dzi.status, 200);
  EXPECT_NE(dzi.body.find("<Size Width=\"1001\" Height=\"703\"/>"), std::string::npos);
  LibrarySlide library(ServedSlides::Get().Path("odd.ztx"));
  EXPECT_TRUE(Fetch(server.port(), "/dz/odd.ztx_files/10/1_1.jpeg").body ==
              library.StoredTile(20.0f, 256, 256));
  EXPECT_EQ(server.Stop(SIGTERM), 0);
}

}  // namespace
}  // namespace strata::test
