// Reused connections, prefetched ranges and the block cache of the HTTP
// reader: results equal the local file's with the cache on and off, faults
// on kept-alive connections and on joined requests pass like any other
// attempt, the cache keeps to its bound, and one handle serves four threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "strata/model/byte_buffer.h"
#include "strata/model/http_file_operation_tool.h"
#include "strata/model/image_buffer.h"
#include "strata/strata.h"
#include "strata/ztx/ztx_data_file.h"
#include "support/scoped_environment.h"
#include "support/slide_fixtures.h"
#include "support/test_files.h"
#include "tools/loopback/latency_proxy.h"
#include "tools/loopback/loopback_http_server.h"
#include "tools/loopback/nginx_server.h"

namespace {

using strata::loopback::LatencyProxy;
using strata::loopback::LoopbackHttpServer;
using strata::loopback::MakeReply;
using strata::loopback::NginxServer;
using strata::loopback::RangeReply;
using strata::loopback::Reply;
using strata::loopback::Request;
using strata::test::ScopedEnvironment;
using strata::test::SlideRecipe;
using strata::test::TempDir;

using Bytes = std::vector<unsigned char>;
constexpr const char* kCacheVariable = CHTTPFileOperationTool::kCacheSizeVariable;
constexpr const char* kReuseVariable = CHTTPFileOperationTool::kConnectionReuseVariable;

std::string PatternObject(std::size_t size) {
  std::string object(size, '\0');
  for (std::size_t i = 0; i < size; ++i) object[i] = static_cast<char>((i * 131 + i / 977) & 0xFF);
  return object;
}

std::string ReadText(CHTTPFileOperationTool& reader, std::uint64_t offset, int length) {
  ByteBuffer buffer;
  if (!reader.Read(offset, length, &buffer)) return "<failed>";
  return std::string(reinterpret_cast<const char*>(buffer.Storage()), buffer.Filled());
}

// ---------------------------------------------------------------- reader level

class HttpReuseTest : public ::testing::Test {
 protected:
  const std::string object_ = PatternObject(200000);
};

TEST_F(HttpReuseTest, SequentialReadsShareOneConnection) {
  LoopbackHttpServer server([&](const Request& r, int) { return RangeReply(object_, r); });
  CHTTPFileOperationTool reader;
  ASSERT_TRUE(reader.Open(server.Url("/a.ztx").c_str()));
  for (int i = 0; i < 10; ++i)
    EXPECT_EQ(ReadText(reader, 1000 * i, 700), object_.substr(1000 * i, 700));
  EXPECT_EQ(server.RequestCount(), 10);
  EXPECT_EQ(server.ConnectionCount(), 1);
  EXPECT_EQ(reader.GetStatistics().requests, 10u);
}

TEST_F(HttpReuseTest, WithoutReuseEveryReadOpensItsConnection) {
  ScopedEnvironment noReuse(kReuseVariable, "0");
  LoopbackHttpServer server([&](const Request& r, int) { return RangeReply(object_, r); });
  CHTTPFileOperationTool reader;
  ASSERT_TRUE(reader.Open(server.Url("/a.ztx").c_str()));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(ReadText(reader, 10 * i, 7), object_.substr(10 * i, 7));
  EXPECT_EQ(server.ConnectionCount(), 4);
}

TEST_F(HttpReuseTest, ReuseSurvivesTheServerClosingIdleConnections) {
  LoopbackHttpServer server([&](const Request& r, int) { return RangeReply(object_, r); });
  CHTTPFileOperationTool reader;
  ASSERT_TRUE(reader.Open(server.Url("/a.ztx").c_str()));
  testing::internal::CaptureStderr();
  for (int round = 0; round < 3; ++round) {
    EXPECT_EQ(ReadText(reader, 5000 + round, 300), object_.substr(5000 + round, 300));
    server.CloseIdleConnections();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(server.ConnectionCount(), 3);
}

// Prefetched ranges closer than the join gap go as one request; the cache
// then answers the reads without asking the server again.
TEST_F(HttpReuseTest, NeighbouringRangesGoAsOneRequestAndReadsComeFromTheCache) {
  LoopbackHttpServer server([&](const Request& r, int) { return RangeReply(object_, r); });
  CHTTPFileOperationTool reader;
  ASSERT_TRUE(reader.Open(server.Url("/a.ztx").c_str()));
  reader.Prefetch({{1000, 500}, {1600, 400}, {2000, 100}, {150000, 1000}});
  ASSERT_EQ(server.RequestCount(), 2);
  std::vector<std::string> ranges;
  for (const Request& request : server.Requests()) ranges.push_back(request.Header("range"));
  std::sort(ranges.begin(), ranges.end());
  EXPECT_EQ(ranges, (std::vector<std::string>{"bytes=1000-2099", "bytes=150000-150999"}));
  EXPECT_EQ(ReadText(reader, 1600, 400), object_.substr(1600, 400));
  EXPECT_EQ(ReadText(reader, 150100, 10), object_.substr(150100, 10));
  EXPECT_EQ(server.RequestCount(), 2);
  // A read the cache cannot answer whole goes to the server as it is.
  EXPECT_EQ(ReadText(reader, 2050, 100), object_.substr(2050, 100));
  EXPECT_EQ(server.RequestCount(), 3);
  EXPECT_EQ(server.Requests().back().Header("range"), "bytes=2050-2149");
  const auto statistics = reader.GetStatistics();
  EXPECT_EQ(statistics.cache.hits, 2u);
  EXPECT_EQ(statistics.cache.storedBytes, 2100u);
}

// The cache answers a read only when one stored range holds every byte of
// it: reads ending (or starting) at, one byte inside and one byte outside the
// edges of the range [1000, 1500) a prefetch stored.
struct EdgeRead {
  const char* name;
  std::int64_t offset;  // from the range's start
  int length;
  bool fromCache;
};

class CacheEdgeTest : public HttpReuseTest, public ::testing::WithParamInterface<EdgeRead> {};

TEST_P(CacheEdgeTest, ServesOnlyReadsTheStoredRangeHoldsWhole) {
  constexpr std::uint64_t kStart = 1000;
  LoopbackHttpServer server([&](const Request& r, int) { return RangeReply(object_, r); });
  CHTTPFileOperationTool reader;
  ASSERT_TRUE(reader.Open(server.Url("/a.ztx").c_str()));
  reader.Prefetch({{kStart, 500}});
  ASSERT_EQ(server.RequestCount(), 1);
  const EdgeRead& c = GetParam();
  const std::uint64_t offset = kStart + c.offset;
  EXPECT_EQ(ReadText(reader, offset, c.length), object_.substr(offset, c.length));
  const auto cache = reader.GetStatistics().cache;
  EXPECT_EQ(cache.hits, c.fromCache ? 1u : 0u);
  EXPECT_EQ(cache.misses, c.fromCache ? 0u : 1u);
  EXPECT_EQ(server.RequestCount(), c.fromCache ? 1 : 2);
}

INSTANTIATE_TEST_SUITE_P(
    Edges, CacheEdgeTest,
    ::testing::Values(EdgeRead{"EndsAtTheEnd", 400, 100, true},
                      EdgeRead{"EndsOneByteBeforeTheEnd", 399, 100, true},
                      EdgeRead{"EndsOneBytePastTheEnd", 401, 100, false},
                      EdgeRead{"StartsAtTheStart", 0, 100, true},
                      EdgeRead{"StartsOneByteAfterTheStart", 1, 100, true},
                      EdgeRead{"StartsOneByteBeforeTheStart", -1, 100, false}),
    [](const ::testing::TestParamInfo<EdgeRead>& info) { return info.param.name; });

// Faults of one joined request: it is retried, and the others are untouched.
struct JoinedFault {
  const char* name;
  Reply (*first)(const std::string& object, const Request& request);
};

Reply ResetHalfway(const std::string& object, const Request& request) {
  Reply whole = RangeReply(object, request);
  whole.bytes.resize(whole.bytes.size() / 2);
  whole.ending = Reply::Ending::kReset;
  return whole;
}

Reply ServerError(const std::string&, const Request&) {
  return MakeReply(503, "Service Unavailable", "busy");
}

class JoinedFaultTest : public HttpReuseTest, public ::testing::WithParamInterface<JoinedFault> {};

TEST_P(JoinedFaultTest, FaultyJoinedRequestIsRetriedAndTheOthersAreUnaffected) {
  std::atomic<int> faults{0};
  LoopbackHttpServer server([&](const Request& r, int) {
    if (r.Header("range") == "bytes=60000-89999" && faults++ == 0) {
      return GetParam().first(object_, r);
    }
    return RangeReply(object_, r);
  });
  CHTTPFileOperationTool reader;
  ASSERT_TRUE(reader.Open(server.Url("/a.ztx").c_str()));
  testing::internal::CaptureStderr();
  reader.Prefetch({{0, 20000}, {20000, 10000}, {60000, 10000}, {70000, 20000}, {120000, 30000}});
  const std::string debug = testing::internal::GetCapturedStderr();
  EXPECT_NE(debug.find("Retry Time 1 \n"), std::string::npos);
  EXPECT_EQ(faults.load(), 2);
  EXPECT_EQ(server.RequestCount(), 4);
  const int before = server.RequestCount();
  for (std::uint64_t offset : {0u, 25000u, 60000u, 85000u, 149000u}) {
    EXPECT_EQ(ReadText(reader, offset, 1000), object_.substr(offset, 1000)) << offset;
  }
  EXPECT_EQ(server.RequestCount(), before) << "every read came from the cache";
}

INSTANTIATE_TEST_SUITE_P(Faults, JoinedFaultTest,
                         ::testing::Values(JoinedFault{"ResetMidResponse", ResetHalfway},
                                           JoinedFault{"ServerError", ServerError}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(HttpReuseTest, CacheNeverExceedsItsBound) {
  ScopedEnvironment oneMegabyte(kCacheVariable, "1");
  const std::string big = PatternObject(3 << 20);
  LoopbackHttpServer server([&](const Request& r, int) { return RangeReply(big, r); });
  CHTTPFileOperationTool reader;
  ASSERT_TRUE(reader.Open(server.Url("/big.ztx").c_str()));
  for (std::uint64_t start = 0; start + 300000 <= big.size(); start += 300000) {
    reader.Prefetch({{start, 100000}, {start + 150000, 100000}});
    const auto statistics = reader.GetStatistics().cache;
    EXPECT_LE(statistics.storedBytes, 1u << 20);
    EXPECT_LE(statistics.peakBytes, 1u << 20);
    EXPECT_EQ(ReadText(reader, start + 150000, 5000), big.substr(start + 150000, 5000));
  }
  const auto statistics = reader.GetStatistics().cache;
  EXPECT_EQ(statistics.limitBytes, 1u << 20);
  EXPECT_GT(statistics.evictions, 0u);
  EXPECT_GT(statistics.peakBytes, 512u << 10);
}

// Tile reads that walk through the object fetch the blocks after the missed
// one too, in parallel (so over several connections), and are then served
// from memory; an object that ends mid-window stops the walk ahead.
TEST_F(HttpReuseTest, TileReadsWalkingThroughTheObjectFetchTheNextBlocksAhead) {
  constexpr std::uint64_t kBlock = CHTTPFileOperationTool::kBlockBytes;
  const std::string big = PatternObject(8 * kBlock - 1000);
  LoopbackHttpServer server([&](const Request& r, int) { return RangeReply(big, r); });
  CHTTPFileOperationTool reader;
  ASSERT_TRUE(reader.Open(server.Url("/big.ztx").c_str()));
  for (std::size_t offset = 0; offset < big.size(); offset += 90000) {
    const std::size_t length = std::min<std::size_t>(7000, big.size() - offset);
    std::string tile(length, '\0');
    std::size_t delivered = 0;
    ASSERT_TRUE(
        reader.ReadInto(offset, length, reinterpret_cast<unsigned char*>(tile.data()), delivered));
    ASSERT_EQ(delivered, length);
    ASSERT_EQ(tile, big.substr(offset, length)) << offset;
  }
  const auto statistics = reader.GetStatistics();
  // Block 0 alone, then a window of blocks per miss.
  const std::uint64_t windows = (8 - 1 + CHTTPFileOperationTool::kReadAheadBlocks - 1) /
                                CHTTPFileOperationTool::kReadAheadBlocks;
  EXPECT_LE(statistics.cache.misses, 1 + windows);
  EXPECT_GE(server.ConnectionCount(), 2);
  EXPECT_LE(statistics.requests, 8u + CHTTPFileOperationTool::kReadAheadBlocks);
}

// Whole reads deliver every byte or leave the buffer as it was, with the
// cache on (bytes land in place) and off (through scratch memory).
class HttpWholeReadTest : public ::testing::TestWithParam<const char*> {};

TEST_P(HttpWholeReadTest, DeliversEveryByteOrLeavesTheBufferAsItWas) {
  ScopedEnvironment cache(kCacheVariable, GetParam());
  const std::string object = PatternObject(300000);
  LoopbackHttpServer server([&](const Request& r, int) {
    return r.target == "/a.ztx" ? RangeReply(object, r) : MakeReply(404, "Not Found", "");
  });
  CHTTPFileOperationTool reader;
  ASSERT_TRUE(reader.Open(server.Url("/a.ztx").c_str()));
  std::string buffer(6000, 'x');
  auto* destination = reinterpret_cast<unsigned char*>(buffer.data());
  ASSERT_TRUE(reader.ReadWhole(1000, 6000, destination));
  EXPECT_EQ(buffer, object.substr(1000, 6000));
  buffer.assign(6000, 'x');
  EXPECT_FALSE(reader.ReadWhole(object.size() - 100, 6000, destination));  // short: past the end
  EXPECT_EQ(buffer, std::string(6000, 'x'));
  ASSERT_TRUE(reader.Open(server.Url("/missing.ztx").c_str()));
  EXPECT_FALSE(reader.ReadWhole(0, 6000, destination));
  EXPECT_EQ(buffer, std::string(6000, 'x'));
}

INSTANTIATE_TEST_SUITE_P(Cache, HttpWholeReadTest, ::testing::Values("32", "0"));

TEST_F(HttpReuseTest, CacheOffMakesPrefetchANoOp) {
  ScopedEnvironment off(kCacheVariable, "0");
  LoopbackHttpServer server([&](const Request& r, int) { return RangeReply(object_, r); });
  CHTTPFileOperationTool reader;
  ASSERT_TRUE(reader.Open(server.Url("/a.ztx").c_str()));
  reader.Prefetch({{0, 1000}, {1000, 1000}});
  EXPECT_EQ(server.RequestCount(), 0);
  EXPECT_EQ(ReadText(reader, 500, 10), object_.substr(500, 10));
  EXPECT_EQ(server.Requests().at(0).Header("range"), "bytes=500-509");
  EXPECT_EQ(reader.GetStatistics().cache.storedBytes, 0u);
}

TEST_F(HttpReuseTest, LargeReadsGoAsParallelPiecesOfTheSameBytes) {
  const std::string big = PatternObject(5 << 20);
  LoopbackHttpServer server([&](const Request& r, int) { return RangeReply(big, r); });
  CHTTPFileOperationTool reader;
  ASSERT_TRUE(reader.Open(server.Url("/big.ztx").c_str()));
  const int length = (4 << 20) + 12345;
  EXPECT_EQ(ReadText(reader, 1000, length), big.substr(1000, length));
  EXPECT_EQ(server.RequestCount(), 5);
  // Past the end the pieces deliver what the object holds, like one read.
  ByteBuffer tail;
  ASSERT_TRUE(reader.Read(big.size() - (3 << 20), 4 << 20, &tail));
  EXPECT_EQ(tail.Filled(), 3u << 20);
}

TEST(LatencyProxyTest, DelaysEachRequestAndPassesTheAnswerOn) {
  const std::string object = PatternObject(50000);
  LoopbackHttpServer upstream([&](const Request& r, int) { return RangeReply(object, r); });
  LatencyProxy proxy(upstream.port(), std::chrono::milliseconds(40), 20);
  CHTTPFileOperationTool reader;
  ASSERT_TRUE(reader.Open(proxy.Url("/a.ztx").c_str()));
  for (int i = 0; i < 3; ++i) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadText(reader, 100 * i, 4000), object.substr(100 * i, 4000));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));
  }
  EXPECT_EQ(proxy.RequestCount(), 3);
  EXPECT_EQ(proxy.ConnectionCount(), 1);
  EXPECT_EQ(upstream.RequestCount(), 3);
}

// ---------------------------------------------------------------- slide level

struct CacheSetting {
  const char* name;
  const char* megabytes;
  const char* reuse;
};

class HttpSlideCacheTest : public ::testing::TestWithParam<CacheSetting> {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    SlideRecipe recipe;
    recipe.width = 2300;
    recipe.height = 1700;
    recipe.blockSize = 256;
    recipe.fileName = "served slide.ztx";
    layout_ = new strata::ztx::ZtxLayout();
    path_ = new std::string(strata::test::MakeSlide(*dir_, recipe, layout_));
    server_ = new NginxServer(dir_->path(), 5);
  }
  static void TearDownTestSuite() {
    delete server_;
    delete path_;
    delete layout_;
    delete dir_;
  }
  void SetUp() override {
    ASSERT_FALSE(path_->empty());
    ASSERT_TRUE(server_->started()) << server_->failure();
    cache_ = std::make_unique<ScopedEnvironment>(kCacheVariable, GetParam().megabytes);
    reuse_ = std::make_unique<ScopedEnvironment>(kReuseVariable, GetParam().reuse);
    ASSERT_TRUE(InitImageFileFunc(&local_, path_->c_str()));
    ASSERT_TRUE(InitImageFileFunc(&remote_, server_->Url("served slide.ztx").c_str()));
  }
  void TearDown() override {
    UnInitImageFileFunc(&local_);
    UnInitImageFileFunc(&remote_);
  }

  static Bytes Tile(IMAGE_INFO_STRUCT& handle, const strata::ztx::WrittenTile& tile) {
    Bytes bytes(static_cast<std::size_t>(tile.length) + 16, 0);
    unsigned char* out = bytes.data();
    int length = 0;
    GetImageStreamFunc(&handle, tile.scale, tile.x, tile.y, &length, &out);
    bytes.resize(static_cast<std::size_t>(std::max(length, 0)));
    return bytes;
  }

  static Bytes Region(IMAGE_INFO_STRUCT& handle, float scale, int x, int y, int w, int h) {
    unsigned char* out = nullptr;
    int length = 0;
    if (!GetImageDataRoiFunc(handle, scale, x, y, w, h, &out, &length, false)) return {};
    Bytes bytes(out, out + length);
    DeleteImageDataFunc(out);
    return bytes;
  }

  CHTTPFileOperationTool* RemoteReader() {
    auto* slide = dynamic_cast<CZTXDataFile*>(remote_.slide);
    return slide == nullptr ? nullptr
                            : dynamic_cast<CHTTPFileOperationTool*>(slide->GetFileOperationTool());
  }

  static TempDir* dir_;
  static std::string* path_;
  static strata::ztx::ZtxLayout* layout_;
  static NginxServer* server_;
  std::unique_ptr<ScopedEnvironment> cache_;
  std::unique_ptr<ScopedEnvironment> reuse_;
  IMAGE_INFO_STRUCT local_{};
  IMAGE_INFO_STRUCT remote_{};
};

TempDir* HttpSlideCacheTest::dir_ = nullptr;
std::string* HttpSlideCacheTest::path_ = nullptr;
strata::ztx::ZtxLayout* HttpSlideCacheTest::layout_ = nullptr;
NginxServer* HttpSlideCacheTest::server_ = nullptr;

TEST_P(HttpSlideCacheTest, TilesAndRegionsEqualTheLocalFile) {
  for (const auto& tile : layout_->tiles) {
    const Bytes local = Tile(local_, tile);
    ASSERT_FALSE(local.empty());
    ASSERT_EQ(Tile(remote_, tile), local) << tile.scale << " " << tile.x << " " << tile.y;
  }
  const struct {
    float scale;
    int x, y, w, h;
  } regions[] = {{20.0f, 0, 0, 2300, 1700},
                 {20.0f, 300, 200, 1024, 700},
                 {10.0f, -40, 100, 600, 500},
                 {7.5f, 100, 50, 700, 600},
                 {20.0f, 2000, 1500, 700, 500}};
  for (const auto& r : regions) {
    const Bytes local = Region(local_, r.scale, r.x, r.y, r.w, r.h);
    ASSERT_FALSE(local.empty());
    EXPECT_EQ(Region(remote_, r.scale, r.x, r.y, r.w, r.h), local) << r.scale << " " << r.x;
  }
  CHTTPFileOperationTool* reader = RemoteReader();
  ASSERT_NE(reader, nullptr);
  const auto statistics = reader->GetStatistics();
  if (std::string(GetParam().megabytes) == "0") {
    EXPECT_EQ(statistics.cache.hits, 0u);
  } else {
    // Every region tile came from the cache, fetched with few requests.
    EXPECT_GT(statistics.cache.hits, 100u);
    EXPECT_LT(statistics.requests, layout_->tiles.size() + 40);
  }
  if (std::string(GetParam().reuse) == "0") {
    EXPECT_EQ(statistics.connections, statistics.requests);
  } else {
    EXPECT_LE(statistics.connections, std::max<std::uint64_t>(1, statistics.requests / 4));
  }
}

// The probe goes alone (a missing slide fails after one request); the header
// and section records then come from one request for the head of the file.
TEST_P(HttpSlideCacheTest, AFullOpenReadsTheHeadOfTheFileAtOnce) {
  CHTTPFileOperationTool* reader = RemoteReader();
  ASSERT_NE(reader, nullptr);
  const std::uint64_t requests = reader->GetStatistics().requests;
  if (std::string(GetParam().megabytes) == "0") {
    EXPECT_GE(requests, 5u);  // probe, header, two section reads, marker, index
  } else {
    EXPECT_LE(requests, 3u);
    EXPECT_GE(reader->GetStatistics().cache.hits, 3u);
  }
}

TEST_P(HttpSlideCacheTest, BlockOpensServeTheirTilesLikeTheLocalFile) {
  const std::string url = server_->Url("served slide.ztx");
  IMAGE_INFO_STRUCT block{};
  ASSERT_TRUE(InitImageFileFuncAsBlock(&block, url.c_str(), 200, 200, 1500, 1300, 20.0f));
  int kept = 0;
  for (const auto& tile : layout_->tiles) {
    if (tile.scale != 20.0f || tile.x < 200 || tile.y < 200 || tile.x + tile.width > 1500 ||
        tile.y + tile.height > 1300) {
      continue;
    }
    ++kept;
    EXPECT_EQ(Tile(block, tile), Tile(local_, tile));
  }
  EXPECT_EQ(kept, 16);
  UnInitImageFileFunc(&block);
}

TEST_P(HttpSlideCacheTest, FourThreadsOnOneHandleReadWhatTheLocalFileHolds) {
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (std::size_t i = static_cast<std::size_t>(t); i < layout_->tiles.size(); i += 4) {
        if (Tile(remote_, layout_->tiles[i]) != Tile(local_, layout_->tiles[i])) ++mismatches;
      }
      const int x = 256 * t;
      if (Region(remote_, 20.0f, x, 300, 900, 700) != Region(local_, 20.0f, x, 300, 900, 700)) {
        ++mismatches;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(mismatches.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(Settings, HttpSlideCacheTest,
                         ::testing::Values(CacheSetting{"CacheAndReuse", "32", "1"},
                                           CacheSetting{"SmallCache", "1", "1"},
                                           CacheSetting{"NoCacheNoReuse", "0", "0"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
