// The HTTP range reader against a scripted loopback server: what it asks
// for, what it makes of each kind of answer, and when it gives up.
#include "strata/model/http_file_operation_tool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "strata/model/byte_buffer.h"
#include "strata/platform/debug_output.h"
#include "support/test_files.h"
#include "tools/loopback/loopback_http_server.h"
#include "tools/loopback/loopback_socket.h"

namespace {

using strata::loopback::LoopbackHttpServer;
using strata::loopback::MakeReply;
using strata::loopback::RangeReply;
using strata::loopback::Reply;
using strata::loopback::Request;

// The retry and progress lines are the reader's only account of its
// attempts; switch them on before anything asks whether they are on.
class DebugOutputOn : public ::testing::Environment {
 public:
  void SetUp() override { setenv("STRATA_DEBUG", "1", 1); }
};
::testing::Environment* const kDebugOutputOn =
    ::testing::AddGlobalTestEnvironment(new DebugOutputOn);

std::string TestObject(std::size_t size) {
  std::string object(size, '\0');
  std::uint32_t state = 12345;
  for (char& byte : object) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 23);
  }
  return object;
}

int CountOf(const std::string& text, const std::string& what) {
  int count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++count;
  }
  return count;
}

struct ReadOutcome {
  bool ok = false;
  bool hasStorage = false;
  std::size_t capacity = 0;
  std::size_t filled = 0;
  std::string bytes;  // all `capacity` bytes of the attached array
};

ReadOutcome ReadWith(CHTTPFileOperationTool& reader, std::uint64_t offset, int length) {
  ReadOutcome outcome;
  ByteBuffer buffer;
  outcome.ok = reader.Read(offset, length, &buffer);
  outcome.hasStorage = buffer.HasStorage();
  outcome.capacity = buffer.Capacity();
  outcome.filled = buffer.Filled();
  if (buffer.HasStorage()) {
    outcome.bytes.assign(reinterpret_cast<const char*>(buffer.Storage()), buffer.Capacity());
  }
  return outcome;
}

ReadOutcome ReadUrl(const std::string& url, std::uint64_t offset, int length) {
  CHTTPFileOperationTool reader;
  if (!reader.Open(url.c_str())) return {};
  return ReadWith(reader, offset, length);
}

class HttpReaderTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(strata::platform::DebugOutputEnabled()); }
  const std::string object_ = TestObject(20000);
};

TEST_F(HttpReaderTest, SendsOneRangeRequestWithFixedHeaders) {
  LoopbackHttpServer server([&](const Request& r, int) { return RangeReply(object_, r); });
  testing::internal::CaptureStderr();
  const ReadOutcome read = ReadUrl(server.Url("/slides/a.ztx"), 1000, 5000);
  const std::string debug = testing::internal::GetCapturedStderr();

  ASSERT_TRUE(read.ok);
  EXPECT_EQ(read.filled, 5000u);
  EXPECT_EQ(read.bytes, object_.substr(1000, 5000));
  const std::vector<Request> requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].head.substr(0, 18), "GET /slides/a.ztx ");
  EXPECT_EQ(requests[0].Header("range"), "bytes=1000-5999");
  EXPECT_EQ(requests[0].Header("user-agent"),
            "Mozilla/5.0 (Windows NT 6.1; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
            "Chrome/41.0.2272.101 Safari/537.36");
  EXPECT_EQ(requests[0].Header("accept-encoding"), "gzip, deflate");
  EXPECT_EQ(CountOf(debug, "perform success!\n"), 1);
  EXPECT_EQ(CountOf(debug, "m_nCurPos increase, 1 \n"), 1);
  EXPECT_EQ(CountOf(debug, "Retry Time"), 0);
}

TEST_F(HttpReaderTest, RangeBeyondFourGigabytesIsWrittenInFull) {
  LoopbackHttpServer server(
      [](const Request&, int) { return MakeReply(206, "Partial Content", "0123456789"); });
  const ReadOutcome read = ReadUrl(server.Url("/big"), 5000000000ULL, 10);
  ASSERT_TRUE(read.ok);
  EXPECT_EQ(read.bytes, "0123456789");
  ASSERT_EQ(server.RequestCount(), 1);
  EXPECT_EQ(server.Requests()[0].Header("range"), "bytes=5000000000-5000000009");
}

TEST_F(HttpReaderTest, RefusedConnectionFailsCleanlyAfterThirtyAttempts) {
  const std::string url =
      "http://127.0.0.1:" + std::to_string(strata::loopback::FreeLoopbackPort()) + "/a.ztx";
  testing::internal::CaptureStderr();
  const auto start = std::chrono::steady_clock::now();
  const ReadOutcome read = ReadUrl(url, 0, 100);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  const std::string debug = testing::internal::GetCapturedStderr();

  EXPECT_FALSE(read.ok);
  EXPECT_FALSE(read.hasStorage);
  EXPECT_EQ(CountOf(debug, "Retry Time"), 30);
  for (int attempt = 1; attempt <= 30; ++attempt) {
    EXPECT_EQ(CountOf(debug, "Retry Time " + std::to_string(attempt) + " \n"), 1) << attempt;
  }
  EXPECT_EQ(CountOf(debug, "perform success!"), 0);
  EXPECT_LT(elapsed, std::chrono::seconds(10));
}

TEST_F(HttpReaderTest, ResetInTheMiddleOfTheBodyIsRetried) {
  LoopbackHttpServer server([&](const Request& r, int index) {
    if (index > 0) return RangeReply(object_, r);
    std::string cut = MakeReply(206, "Partial Content", object_.substr(0, 4000)).bytes;
    cut.resize(cut.size() - 2000);
    return Reply{cut, Reply::Ending::kReset};
  });
  testing::internal::CaptureStderr();
  const ReadOutcome read = ReadUrl(server.Url("/a.ztx"), 0, 4000);
  const std::string debug = testing::internal::GetCapturedStderr();
  ASSERT_TRUE(read.ok);
  EXPECT_EQ(read.filled, 4000u);
  EXPECT_EQ(read.bytes, object_.substr(0, 4000));
  EXPECT_EQ(server.RequestCount(), 2);
  EXPECT_EQ(CountOf(debug, "Retry Time 1 \n"), 1);
}

// Takes about five seconds: the first attempt runs into the time limit.
TEST_F(HttpReaderTest, StalledResponseIsAbandonedAfterTheTimeLimitAndRetried) {
  LoopbackHttpServer server([&](const Request& r, int index) {
    if (index == 0) return Reply{"", Reply::Ending::kStall};
    return RangeReply(object_, r);
  });
  const auto start = std::chrono::steady_clock::now();
  const ReadOutcome read = ReadUrl(server.Url("/a.ztx"), 300, 700);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  ASSERT_TRUE(read.ok);
  EXPECT_EQ(read.bytes, object_.substr(300, 700));
  EXPECT_EQ(server.RequestCount(), 2);
  EXPECT_GE(elapsed, std::chrono::milliseconds(4500));
  EXPECT_LT(elapsed, std::chrono::seconds(20));
}

TEST(HttpReaderTimeoutTest, OnlyReadsUpTo102400BytesHaveATimeLimit) {
  EXPECT_EQ(CHTTPFileOperationTool::TimeoutForLength(1), 5000);
  EXPECT_EQ(CHTTPFileOperationTool::TimeoutForLength(102400), 5000);
  EXPECT_EQ(CHTTPFileOperationTool::TimeoutForLength(102401), 0);
  EXPECT_EQ(CHTTPFileOperationTool::TimeoutForLength(50 * 1024 * 1024), 0);
}

class ServerErrorTest : public HttpReaderTest, public ::testing::WithParamInterface<int> {};

TEST_P(ServerErrorTest, IsRetriedUntilTheServerAnswers) {
  LoopbackHttpServer server([&](const Request& r, int index) {
    if (index == 0) return MakeReply(GetParam(), "Trouble", "<html>error page</html>");
    return RangeReply(object_, r);
  });
  const ReadOutcome read = ReadUrl(server.Url("/a.ztx"), 10, 90);
  ASSERT_TRUE(read.ok);
  EXPECT_EQ(read.bytes, object_.substr(10, 90));
  EXPECT_EQ(server.RequestCount(), 2);
}

INSTANTIATE_TEST_SUITE_P(Statuses, ServerErrorTest, ::testing::Values(500, 502, 503, 504));

TEST_F(HttpReaderTest, PersistentServerErrorFailsAfterThirtyAttempts) {
  LoopbackHttpServer server([](const Request&, int) {
    return MakeReply(500, "Internal Server Error", "<html>down</html>");
  });
  const ReadOutcome read = ReadUrl(server.Url("/a.ztx"), 0, 100);
  EXPECT_FALSE(read.ok);
  EXPECT_FALSE(read.hasStorage);
  EXPECT_EQ(server.RequestCount(), 30);
}

class ClientErrorTest : public HttpReaderTest, public ::testing::WithParamInterface<int> {};

TEST_P(ClientErrorTest, FailsAtOnceWithoutRetrying) {
  const int status = GetParam();
  LoopbackHttpServer server([status](const Request&, int) {
    return MakeReply(status, "No", "<html>no such slide</html>");
  });
  testing::internal::CaptureStderr();
  const ReadOutcome read = ReadUrl(server.Url("/missing.ztx"), 0, 100);
  const std::string debug = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(read.ok);
  EXPECT_FALSE(read.hasStorage);
  EXPECT_EQ(server.RequestCount(), 1);
  EXPECT_EQ(CountOf(debug, "Retry Time"), 0);
}

INSTANTIATE_TEST_SUITE_P(Statuses, ClientErrorTest, ::testing::Values(400, 403, 404, 410));

TEST_F(HttpReaderTest, RangeNotSatisfiableIsAnEmptyRead) {
  LoopbackHttpServer server([&](const Request& r, int) { return RangeReply(object_, r); });
  const ReadOutcome read = ReadUrl(server.Url("/a.ztx"), 25000, 100);
  ASSERT_TRUE(read.ok);
  EXPECT_EQ(read.capacity, 100u);
  EXPECT_EQ(read.filled, 0u);
  EXPECT_EQ(read.bytes, std::string(100, '\0')) << "the error page is no data";
  EXPECT_EQ(server.RequestCount(), 1);
}

TEST_F(HttpReaderTest, WholeObjectAnswerEndsOnceTheRequestedBytesAreIn) {
  // The server claims a huge object, sends its start and then stalls: the
  // reader must not wait for (or download) the rest of it.
  LoopbackHttpServer server([&](const Request&, int) {
    std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 100000000\r\n\r\n";
    return Reply{head + object_, Reply::Ending::kStall};
  });
  const auto start = std::chrono::steady_clock::now();
  const ReadOutcome read = ReadUrl(server.Url("/a.ztx"), 12000, 3000);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  ASSERT_TRUE(read.ok);
  EXPECT_EQ(read.filled, 3000u);
  EXPECT_EQ(read.bytes, object_.substr(12000, 3000));
  EXPECT_EQ(server.RequestCount(), 1);
  EXPECT_LT(elapsed, std::chrono::seconds(3));
}

TEST_F(HttpReaderTest, ReadersComeAndGoOnManyThreads) {
  // libcurl's global set-up and clean-up run with every reader.
  LoopbackHttpServer server([&](const Request& r, int) { return RangeReply(object_, r); }, 64);
  std::vector<std::thread> threads;
  std::vector<int> good(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 5; ++i) {
        CHTTPFileOperationTool reader;
        if (!reader.Open(server.Url("/a.ztx").c_str())) continue;
        const ReadOutcome read = ReadWith(reader, 100 * (t * 5 + i), 100);
        if (read.ok && read.bytes == object_.substr(100 * (t * 5 + i), 100)) ++good[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < 4; ++t) EXPECT_EQ(good[t], 5) << t;
}

TEST_F(HttpReaderTest, ShortPartialBodyIsAShortRead) {
  LoopbackHttpServer server([&](const Request& r, int) { return RangeReply(object_, r); });
  CHTTPFileOperationTool reader;
  ASSERT_TRUE(reader.Open(server.Url("/a.ztx").c_str()));
  ByteBuffer buffer;
  ASSERT_TRUE(reader.Read(19000, 5000, &buffer));
  EXPECT_EQ(buffer.Capacity(), 5000u);
  ASSERT_EQ(buffer.Filled(), 1000u);
  const std::string bytes(reinterpret_cast<const char*>(buffer.Storage()), 5000);
  EXPECT_EQ(bytes.substr(0, 1000), object_.substr(19000));
  EXPECT_EQ(bytes.substr(1000), std::string(4000, '\0'));
  EXPECT_NE(buffer.Take(1, 1000), nullptr);
  EXPECT_EQ(buffer.Take(1, 1), nullptr);
  EXPECT_EQ(server.RequestCount(), 1);
}

struct IgnoredRangeCase {
  std::uint64_t offset;
  int length;
  bool ok;
  std::size_t filled;
};

class IgnoredRangeTest : public HttpReaderTest,
                         public ::testing::WithParamInterface<IgnoredRangeCase> {};

// The server answers every range with 200 and the whole object.
TEST_P(IgnoredRangeTest, TakesTheRequestedBytesOutOfTheWholeObject) {
  const IgnoredRangeCase& c = GetParam();
  LoopbackHttpServer server([&](const Request&, int) { return MakeReply(200, "OK", object_); });
  const ReadOutcome read = ReadUrl(server.Url("/a.ztx"), c.offset, c.length);
  EXPECT_EQ(server.RequestCount(), 1);
  ASSERT_EQ(read.ok, c.ok);
  if (!c.ok) {
    EXPECT_FALSE(read.hasStorage);
    return;
  }
  ASSERT_EQ(read.filled, c.filled);
  EXPECT_EQ(read.bytes.substr(0, c.filled), object_.substr(c.offset, c.filled));
  EXPECT_EQ(read.bytes.substr(c.filled), std::string(c.length - c.filled, '\0'));
}

INSTANTIATE_TEST_SUITE_P(
    Offsets, IgnoredRangeTest,
    ::testing::Values(IgnoredRangeCase{0, 5000, true, 5000},      // at the start
                      IgnoredRangeCase{7000, 5000, true, 5000},   // inside
                      IgnoredRangeCase{1, 19999, true, 19999},    // up to the end
                      IgnoredRangeCase{18000, 5000, true, 2000},  // past the end: short
                      IgnoredRangeCase{0, 30000, true, 20000},    // longer than the object
                      IgnoredRangeCase{20000, 10, false, 0},      // nothing of it there
                      IgnoredRangeCase{30000, 100, false, 0}));

TEST_F(HttpReaderTest, SpacesAreRequestedAsPercent20) {
  LoopbackHttpServer server([&](const Request& r, int) { return RangeReply(object_, r); });
  CHTTPFileOperationTool reader;
  const std::string url = server.Url("/my slides/slide 1 .ztx");
  ASSERT_TRUE(reader.Open(url.c_str()));
  EXPECT_EQ(std::string(reader.Url()), server.Url("/my%20slides/slide%201%20.ztx"));
  ASSERT_TRUE(ReadWith(reader, 0, 10).ok);
  ASSERT_EQ(server.RequestCount(), 1);
  EXPECT_EQ(server.Requests()[0].target, "/my%20slides/slide%201%20.ztx");
}

TEST(HttpReaderOpenTest, RefusesUrlsThatDoNotFitTheUrlBuffer) {
  const std::string base = "http://127.0.0.1/";
  CHTTPFileOperationTool reader;
  EXPECT_FALSE(reader.Open(nullptr));

  const std::string longest = base + std::string(4095 - base.size(), 'a');
  ASSERT_TRUE(reader.Open(longest.c_str()));
  EXPECT_EQ(std::string(reader.Url()), longest);

  const std::string tooLong = longest + "a";
  EXPECT_FALSE(reader.Open(tooLong.c_str()));
  EXPECT_STREQ(reader.Url(), "") << "a refused URL must not leave the earlier one behind";
  ByteBuffer buffer;
  EXPECT_FALSE(reader.Read(0, 10, &buffer));
  EXPECT_FALSE(buffer.HasStorage());

  // 1360 spaces fit as text but not once each is written as "%20".
  const std::string spaced = base + std::string(1360, ' ');
  EXPECT_FALSE(reader.Open(spaced.c_str()));
  EXPECT_TRUE(reader.Close());
}

TEST_F(HttpReaderTest, EmptyOrNegativeReadsSendNothing) {
  LoopbackHttpServer server([&](const Request& r, int) { return RangeReply(object_, r); });
  CHTTPFileOperationTool unopened;
  ByteBuffer buffer;
  EXPECT_FALSE(unopened.Read(0, 10, &buffer));

  CHTTPFileOperationTool reader;
  ASSERT_TRUE(reader.Open(server.Url("/a.ztx").c_str()));
  const ReadOutcome empty = ReadWith(reader, 100, 0);
  EXPECT_TRUE(empty.ok);
  EXPECT_EQ(empty.filled, 0u);
  EXPECT_FALSE(ReadWith(reader, 0, -1).ok);
  EXPECT_FALSE(reader.Read(0, 10, nullptr));
  EXPECT_FALSE(ReadWith(reader, ~0ULL - 5, 10).ok);
  EXPECT_EQ(server.RequestCount(), 0);
}

TEST_F(HttpReaderTest, FollowsRedirects) {
  LoopbackHttpServer server([&](const Request& r, int index) {
    if (index == 0) return MakeReply(302, "Found", "", "Location: /moved/a.ztx\r\n");
    return RangeReply(object_, r);
  });
  const ReadOutcome read = ReadUrl(server.Url("/a.ztx"), 50, 50);
  ASSERT_TRUE(read.ok);
  EXPECT_EQ(read.bytes, object_.substr(50, 50));
  const std::vector<Request> requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].target, "/moved/a.ztx");
  EXPECT_EQ(requests[1].Header("range"), "bytes=50-99");
}

TEST(HttpReaderProtocolTest, ReadsNothingButHttp) {
  // Any path containing "http://" reaches this reader; it must not become a
  // way to read local files.
  strata::test::TempDir dir;
  const std::string path = dir.File("secret.txt");
  strata::test::WriteFileBytes(path, {'s', 'e', 'c', 'r', 'e', 't'});
  const ReadOutcome read = ReadUrl("file://" + path + "#http://x", 0, 4);
  EXPECT_FALSE(read.ok);
  EXPECT_FALSE(read.hasStorage);
}

TEST_F(HttpReaderTest, SamplesFillTwentySlotsAndWrapAround) {
  LoopbackHttpServer server([&](const Request& r, int) { return RangeReply(object_, r); });
  CHTTPFileOperationTool reader;
  ASSERT_TRUE(reader.Open(server.Url("/a.ztx").c_str()));
  const CHTTPFileOperationTool::TransferSamples fresh = reader.Samples();
  EXPECT_EQ(fresh.position, 0);
  for (int slot = 0; slot < 20; ++slot) {
    EXPECT_EQ(fresh.latency[slot], 1.0);
    EXPECT_EQ(fresh.throughput[slot], 51200.0);
  }
  testing::internal::CaptureStderr();
  for (int read = 1; read <= 21; ++read) {
    ASSERT_TRUE(ReadWith(reader, 0, 1000).ok);
    EXPECT_EQ(reader.Samples().position, read % 20);
  }
  const std::string debug = testing::internal::GetCapturedStderr();
  EXPECT_EQ(CountOf(debug, "m_nCurPos increase, 1 \n"), 2);
  EXPECT_EQ(CountOf(debug, "m_nCurPos increase, 20 \n"), 1);
  EXPECT_EQ(CountOf(debug, "m_nCurPos increase, 21"), 0);
  const CHTTPFileOperationTool::TransferSamples used = reader.Samples();
  for (int slot = 0; slot < 20; ++slot) {
    EXPECT_NE(used.throughput[slot], 51200.0) << slot;
    EXPECT_GE(used.latency[slot], 0.0);
    EXPECT_LT(used.latency[slot], 1.0) << slot;
  }
}

TEST_F(HttpReaderTest, ConcurrentReadsOnOneReaderAreInFlightTogether) {
  // Each answer waits (3 s at most) for the other request to come.
  std::atomic<int> arrived{0};
  LoopbackHttpServer server(
      [&](const Request& r, int) {
        ++arrived;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (arrived < 2 && std::chrono::steady_clock::now() < until) {
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return RangeReply(object_, r);
      },
      8);
  CHTTPFileOperationTool reader;
  ASSERT_TRUE(reader.Open(server.Url("/a.ztx").c_str()));
  ReadOutcome first;
  ReadOutcome second;
  std::thread one([&] { first = ReadWith(reader, 0, 3000); });
  std::thread two([&] { second = ReadWith(reader, 10000, 3000); });
  one.join();
  two.join();
  ASSERT_TRUE(first.ok);
  ASSERT_TRUE(second.ok);
  EXPECT_EQ(first.bytes, object_.substr(0, 3000));
  EXPECT_EQ(second.bytes, object_.substr(10000, 3000));
  EXPECT_EQ(server.MostRequestsAtOnce(), 2);
  EXPECT_EQ(server.RequestCount(), 2);
}

TEST(HttpReaderUrlTest, ObjectStorageUrlsAreConvertedToUtf8) {
  const char* suffix = ".oss.example.com";
  // U+4E2D in GBK and in UTF-8.
  const std::string gbkUrl = "http://bucket.oss.example.com/\xD6\xD0/a.ztx";
  EXPECT_EQ(CHTTPFileOperationTool::RequestUrlFor(gbkUrl, suffix, "GBK"),
            "http://bucket.oss.example.com/\xE4\xB8\xAD/a.ztx");
  // Other hosts go out byte for byte.
  const std::string otherHost = "http://files.example.org/\xD6\xD0/a.ztx";
  EXPECT_EQ(CHTTPFileOperationTool::RequestUrlFor(otherHost, suffix, "GBK"), otherHost);
  // The suffix must end the host name.
  const std::string lookalike = "http://bucket.oss.example.com.evil.org/\xD6\xD0";
  EXPECT_EQ(CHTTPFileOperationTool::RequestUrlFor(lookalike, suffix, "GBK"), lookalike);
  // Without a configured suffix nothing is converted.
  EXPECT_EQ(CHTTPFileOperationTool::RequestUrlFor(gbkUrl, nullptr, "GBK"), gbkUrl);
  EXPECT_EQ(CHTTPFileOperationTool::RequestUrlFor(gbkUrl, "", "GBK"), gbkUrl);
  // Text that is not valid in the code page is sent as given.
  const std::string invalid = "http://bucket.oss.example.com/\xFF";
  EXPECT_EQ(CHTTPFileOperationTool::RequestUrlFor(invalid, suffix, "GBK"), invalid);
}

TEST_F(HttpReaderTest, ObjectStorageHostFromTheEnvironmentStillReads) {
  LoopbackHttpServer server([&](const Request& r, int) { return RangeReply(object_, r); });
  const std::string host = "127.0.0.1:" + std::to_string(server.port());
  setenv(CHTTPFileOperationTool::kUtf8HostSuffixVariable, host.c_str(), 1);
  const ReadOutcome read = ReadUrl(server.Url("/bucket/a b.ztx"), 5, 5);
  unsetenv(CHTTPFileOperationTool::kUtf8HostSuffixVariable);
  ASSERT_TRUE(read.ok);
  EXPECT_EQ(read.bytes, object_.substr(5, 5));
  ASSERT_EQ(server.RequestCount(), 1);
  EXPECT_EQ(server.Requests()[0].target, "/bucket/a%20b.ztx");
}

}  // namespace
