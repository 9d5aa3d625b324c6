// Byte-range reader over HTTP: every read is one GET with a Range header,
// retried on transport errors and server errors. Nothing is cached and no
// connection is kept between reads.
#ifndef STRATA_MODEL_HTTP_FILE_OPERATION_TOOL_H_
#define STRATA_MODEL_HTTP_FILE_OPERATION_TOOL_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "strata/model/file_operation_tool.h"

class CHTTPFileOperationTool : public CFileOperationTool {
 public:
  static constexpr int kMaxAttempts = 30;
  static constexpr int kSampleCount = 20;
  // Reads up to this many bytes (headers, index entries, tiles) get a time
  // limit per attempt so that a stalled request is retried quickly.
  static constexpr int kTimedReadLimit = 102400;
  static constexpr long kTimedReadMilliseconds = 5000;
  // Names the environment variable that holds the object-storage host
  // suffix; URLs of that host are sent as UTF-8.
  static constexpr const char* kUtf8HostSuffixVariable = "STRATA_UTF8_HOST_SUFFIX";

  // The latency (seconds to the first byte) and throughput (bytes per second)
  // of recent successful transfers, and the next slot to fill.
  struct TransferSamples {
    double latency[kSampleCount];
    double throughput[kSampleCount];
    int position;
  };

  CHTTPFileOperationTool();
  ~CHTTPFileOperationTool() override;
  CHTTPFileOperationTool(const CHTTPFileOperationTool&) = delete;
  CHTTPFileOperationTool& operator=(const CHTTPFileOperationTool&) = delete;

  // Delivers bytes offset .. offset + length - 1. A 206 (or a 200 that holds
  // the requested bytes) delivers what arrived, possibly fewer than `length`;
  // a 416 delivers nothing; other client errors fail at once; transport
  // errors and server errors are retried up to kMaxAttempts times.
  bool Read(std::uint64_t offset, int length, ByteBuffer* buffer) override;
  // Remembers the URL with every space written as "%20"; no network traffic.
  // False for null and for URLs that do not fit the 4096-byte url buffer.
  bool Open(const char* url) override;
  bool Close() override;

  // The URL every transfer uses, after space escaping.
  const char* Url() const { return urlBuffer_; }

  // Per-attempt time limit in milliseconds for a read of `length` bytes;
  // 0 means no limit.
  static long TimeoutForLength(int length);

  // The URL as sent: converted from `codePage` to UTF-8 when it contains
  // `hostSuffix` followed by "/"; unchanged otherwise (also when the suffix
  // is null or empty, or the text cannot be converted).
  static std::string RequestUrlFor(const std::string& url, const char* hostSuffix,
                                   const std::string& codePage);

  TransferSamples Samples();

  // Fuzzing and test seam: while set, every transfer takes its connection
  // from `opener` (a connected socket, e.g. one end of a socket pair holding
  // a canned response) instead of the network, and follows no redirects and
  // no proxy. Null restores the network.
  using ConnectionOpener = int (*)(void* context);
  static void SetConnectionOpenerForTesting(ConnectionOpener opener, void* context);

 private:
  enum class AttemptOutcome { kDelivered, kRetry, kRejected };

  bool Transfer(std::uint64_t offset, std::size_t length, unsigned char* destination,
                std::size_t& delivered);
  AttemptOutcome Attempt(const std::string& requestUrl, std::uint64_t offset, std::size_t length,
                         unsigned char* destination, std::size_t& delivered);
  static AttemptOutcome OutcomeOfStatus(long status, std::uint64_t offset,
                                        std::uint64_t bodyBytes);
  void RecordSamples(void* handle, std::size_t length);

  std::string urlText_;
  char urlBuffer_[4096];
  TransferSamples samples_;
  bool libraryReady_ = false;
};

#endif  // STRATA_MODEL_HTTP_FILE_OPERATION_TOOL_H_
