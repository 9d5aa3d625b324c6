// Byte-range reader over HTTP: reads are GETs with a Range header, retried on
// transport errors and server errors. Transfers reuse kept-alive connections
// (a process-wide pool of idle transfer handles). Ranges announced with
// Prefetch are fetched ahead, neighbours joined into one request and up to
// kParallelRequests requests at once, and kept in a bounded per-reader cache
// (STRATA_HTTP_CACHE_MB megabytes, 0 turns it off) that later reads are
// served from. Read (records, the index) is served from the cache when it
// holds the range whole, and otherwise fetches exactly its bytes, as one
// request, or as parallel requests above kSplitAbove bytes (a large tile
// index). ReadInto (tiles) fetches the aligned kBlockBytes block around a
// range the cache does not hold, once however many threads want it, so
// that neighbouring tiles come from memory; when reads walk through the
// object block after block, the next blocks come with it in parallel. With
// the cache off every read is exactly one request of exactly its bytes.
#ifndef STRATA_MODEL_HTTP_FILE_OPERATION_TOOL_H_
#define STRATA_MODEL_HTTP_FILE_OPERATION_TOOL_H_

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "strata/model/byte_range_cache.h"
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
  // Megabytes of the per-reader cache; 0 turns caching and fetching ahead off.
  static constexpr const char* kCacheSizeVariable = "STRATA_HTTP_CACHE_MB";
  static constexpr std::size_t kDefaultCacheMegabytes = 32;
  static constexpr std::size_t kMaxCacheMegabytes = 4096;
  // "0" makes every transfer use a fresh connection that is closed after it.
  static constexpr const char* kConnectionReuseVariable = "STRATA_HTTP_REUSE";
  // Ranges at most this far apart are fetched as one request.
  static constexpr std::uint64_t kMergeGap = 8192;
  static constexpr std::uint64_t kMaxMergedBytes = 4ULL << 20;
  static constexpr unsigned kParallelRequests = 12;
  // Reads above kSplitAbove bytes (a large tile index) go as at most
  // kParallelRequests parallel requests of at least kSplitBytes.
  static constexpr std::size_t kSplitAbove = 2u << 20;
  static constexpr std::size_t kSplitBytes = 1u << 20;
  static constexpr std::size_t kBlockBytes = 1u << 20;
  // Blocks fetched at once when tile reads walk through the object.
  static constexpr std::uint64_t kReadAheadBlocks = 4;

  struct Statistics {
    std::uint64_t requests = 0;     // transfers performed, retries included
    std::uint64_t connections = 0;  // new connections those transfers opened
    ByteRangeCache::Statistics cache;
  };

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
  bool ReadInto(std::uint64_t offset, std::size_t length, unsigned char* destination,
                std::size_t& delivered) override;
  bool ReadWhole(std::uint64_t offset, std::size_t length, unsigned char* destination) override;
  // Fetches the ranges the cache does not hold yet (joined, in parallel) and
  // keeps them; a request that fails leaves its ranges to the reads. Does
  // nothing with the cache off.
  void Prefetch(const std::vector<ByteRange>& ranges) override;
  // Remembers the URL with every space written as "%20" and empties the
  // cache; no network traffic. False for null and for URLs that do not fit
  // the 4096-byte url buffer.
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
  Statistics GetStatistics();
  bool ReusesConnections() const { return reuseConnections_; }

  // Fuzzing and test seam: while set, every transfer takes its connection
  // from `opener` (a connected socket, e.g. one end of a socket pair holding
  // a canned response) instead of the network, and follows no redirects and
  // no proxy. Null restores the network.
  using ConnectionOpener = int (*)(void* context);
  static void SetConnectionOpenerForTesting(ConnectionOpener opener, void* context);

 private:
  enum class AttemptOutcome { kDelivered, kRetry, kRejected };
  enum class CacheRead { kServed, kFailed, kNotServed };

  // A destination, an open URL, and a range that an int length and a 63-bit
  // offset can describe.
  bool Readable(std::uint64_t offset, std::size_t length, const unsigned char* destination) const;
  // Serves a tile-sized read from the cache, fetching its block first when
  // needed; kNotServed leaves the read to an ordinary transfer.
  CacheRead ReadThroughCache(std::uint64_t offset, std::size_t length, unsigned char* destination);

  // Cache, window, split or one transfer, whichever serves the read.
  bool Fetch(std::uint64_t offset, std::size_t length, unsigned char* destination,
             std::size_t& delivered);
  // Fetches the block of kBlockBytes holding offset .. offset + length - 1
  // into the cache unless another thread is fetching it already (then waits
  // for that one). False when the transfer failed after every attempt.
  bool FetchBlock(std::uint64_t offset, std::size_t length);
  void AddBlocksAhead(std::uint64_t start, std::vector<ByteRange>& blocks);
  // Fetches one range into the cache; false when it could not be fetched.
  bool FetchIntoCache(const ByteRange& range);
  void NoteObjectEnd(std::uint64_t end);
  bool FetchSplit(std::uint64_t offset, std::size_t length, unsigned char* destination,
                  std::size_t& delivered);
  // Where an attempt's bytes go: copied to the destination once the attempt
  // succeeded (a failed read leaves the caller's buffer as it was), or
  // straight into it (scratch buffers of the reader's own: one copy less).
  enum class Landing { kAfterSuccess, kInPlace };
  bool Transfer(std::uint64_t offset, std::size_t length, unsigned char* destination,
                std::size_t& delivered, Landing landing = Landing::kAfterSuccess);
  AttemptOutcome Attempt(const std::string& requestUrl, std::uint64_t offset, std::size_t length,
                         unsigned char* destination, std::size_t& delivered, Landing landing);
  static AttemptOutcome OutcomeOfStatus(long status, std::uint64_t offset, std::uint64_t bodyBytes);
  void RecordSamples(void* handle, std::size_t length);

  std::string urlText_;
  char urlBuffer_[4096];
  TransferSamples samples_;
  bool libraryReady_ = false;
  bool reuseConnections_ = true;
  ByteRangeCache cache_;
  std::atomic<std::uint64_t> requests_{0};
  std::atomic<std::uint64_t> connections_{0};
  std::mutex blocksMutex_;
  std::condition_variable blockFetched_;
  std::set<std::uint64_t> blocksInFlight_;
  static constexpr std::uint64_t kNoBlock = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t lastBlock_ = kNoBlock;  // the last block fetched, for spotting walks
  std::uint64_t objectEnd_ = kNoBlock;  // where the object ends, once a block came back short
};

#endif  // STRATA_MODEL_HTTP_FILE_OPERATION_TOOL_H_
