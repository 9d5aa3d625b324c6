#include "strata/model/http_file_operation_tool.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "strata/model/failure_note.h"
#include "strata/platform/code_page.h"
#include "strata/platform/debug_output.h"
#include "strata/platform/file_io.h"
#include "strata/platform/lock.h"
#include "strata/platform/parallel.h"

namespace {

using strata::platform::DebugOutput;
using strata::platform::DebugPrintf;
using strata::platform::Lock;
using strata::platform::ScopedLock;

constexpr char kUserAgent[] =
    "Mozilla/5.0 (Windows NT 6.1; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/41.0.2272.101 Safari/537.36";
constexpr long kHttpOk = 200;
constexpr long kHttpPartialContent = 206;
constexpr long kHttpRangeNotSatisfiable = 416;

// libcurl counts its global initialisations, but the count itself is not
// guarded: slides may be opened and closed on several threads at once. The
// idle transfer handles, with the connections each keeps alive, are shared
// by every reader of the process and go when the last reader does.
struct CurlLibrary {
  Lock lock;
  int readers = 0;
  std::vector<CURL*> idle;
};

constexpr std::size_t kMaxIdleHandles = 16;

CurlLibrary& Library() {
  static CurlLibrary library;
  return library;
}

bool AcquireCurlLibrary() {
  CurlLibrary& library = Library();
  ScopedLock guard(library.lock);
  if (curl_global_init(CURL_GLOBAL_ALL) != CURLE_OK) return false;
  ++library.readers;
  return true;
}

void ReleaseCurlLibrary() {
  CurlLibrary& library = Library();
  ScopedLock guard(library.lock);
  if (--library.readers == 0) {
    for (CURL* handle : library.idle) curl_easy_cleanup(handle);
    library.idle.clear();
  }
  curl_global_cleanup();
}

struct EasyHandleDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using EasyHandle = std::unique_ptr<CURL, EasyHandleDeleter>;

// An idle handle (with its live connections) when there is one, else a new one.
EasyHandle TakeHandle(bool reuse) {
  if (reuse) {
    CurlLibrary& library = Library();
    ScopedLock guard(library.lock);
    if (!library.idle.empty()) {
      EasyHandle handle(library.idle.back());
      library.idle.pop_back();
      return handle;
    }
  }
  return EasyHandle(curl_easy_init());
}

void ReturnHandle(EasyHandle handle) {
  CurlLibrary& library = Library();
  ScopedLock guard(library.lock);
  if (library.idle.size() < kMaxIdleHandles) library.idle.push_back(handle.release());
}

std::size_t CacheLimitFromEnvironment() {
  const char* text = strata::platform::EnvironmentValue(CHTTPFileOperationTool::kCacheSizeVariable);
  std::size_t megabytes = CHTTPFileOperationTool::kDefaultCacheMegabytes;
  if (text != nullptr && *text != '\0') {
    char* end = nullptr;
    const long long value = std::strtoll(text, &end, 10);
    if (end != text && *end == '\0' && value >= 0) {
      megabytes = static_cast<std::size_t>(
          std::min<long long>(value, CHTTPFileOperationTool::kMaxCacheMegabytes));
    }
  }
  return megabytes << 20;
}

bool ReuseFromEnvironment() {
  const char* text =
      strata::platform::EnvironmentValue(CHTTPFileOperationTool::kConnectionReuseVariable);
  return text == nullptr || std::strcmp(text, "0") != 0;
}

long ResponseStatus(CURL* handle) {
  long status = 0;
  if (curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK) return 0;
  return status;
}

// The body of one attempt, clamped to the requested length. Only the body of
// a 206 or a 200 is data; a 200 carries the whole object, so its first
// `offset` bytes are skipped to reach the requested ones.
class ResponseBuffer {
 public:
  // Bytes land in `inPlace` when given (a scratch buffer of the reader's
  // own, which a failed attempt may leave partly written), else in storage
  // of the buffer's own.
  ResponseBuffer(CURL* handle, std::uint64_t offset, std::size_t capacity, unsigned char* inPlace)
      : handle_(handle),
        offset_(offset),
        owned_(inPlace == nullptr ? new (std::nothrow) unsigned char[capacity] : nullptr),
        target_(inPlace != nullptr ? inPlace : owned_.get()),
        capacity_(target_ != nullptr ? capacity : 0) {}

  // False once a whole-object body has delivered every requested byte: the
  // rest of the object (possibly the whole slide) is not worth fetching.
  bool Accept(const char* data, std::size_t size) {
    if (mode_ == Mode::kUndecided) DecideMode();
    const std::uint64_t chunkStart = bodyBytes_;
    bodyBytes_ += size;
    if (mode_ == Mode::kKeep && stored_ < capacity_ && bodyBytes_ > skip_) {
      const std::size_t from =
          chunkStart < skip_ ? static_cast<std::size_t>(skip_ - chunkStart) : 0;
      const std::size_t count = std::min(size - from, capacity_ - stored_);
      std::memcpy(target_ + stored_, data + from, count);
      stored_ += count;
    }
    return !Satisfied();
  }

  bool Satisfied() const { return wholeObject_ && stored_ == capacity_; }
  // False when the buffer could not get its storage.
  bool Usable() const { return target_ != nullptr; }

  const unsigned char* Data() const { return target_; }
  std::size_t Stored() const { return stored_; }
  std::uint64_t BodyBytes() const { return bodyBytes_; }

 private:
  enum class Mode { kUndecided, kKeep, kDiscard };

  // Body bytes arrive only after the final status line, so the status is
  // known here.
  void DecideMode() {
    const long status = ResponseStatus(handle_);
    if (status == kHttpPartialContent) {
      mode_ = Mode::kKeep;
    } else if (status == kHttpOk) {
      mode_ = Mode::kKeep;
      skip_ = offset_;
      wholeObject_ = true;
    } else {
      mode_ = Mode::kDiscard;
    }
  }

  CURL* handle_;
  std::uint64_t offset_;
  std::uint64_t skip_ = 0;
  std::unique_ptr<unsigned char[]> owned_;
  unsigned char* target_;
  std::size_t capacity_;
  std::size_t stored_ = 0;
  std::uint64_t bodyBytes_ = 0;
  Mode mode_ = Mode::kUndecided;
  bool wholeObject_ = false;
};

// Consumes every offered byte, so that a body longer than asked for never
// aborts the transfer; only a whole-object answer that already holds every
// requested byte is cut short.
size_t WriteBody(char* data, size_t size, size_t count, void* userData) {
  const size_t offered = size * count;
  return static_cast<ResponseBuffer*>(userData)->Accept(data, offered) ? offered : 0;
}

template <typename Value>
bool SetOption(CURL* handle, CURLoption option, Value value) {
  return curl_easy_setopt(handle, option, value) == CURLE_OK;
}

bool SetTransferOptions(CURL* handle, const std::string& url, const char* range, long timeoutMs,
                        bool reuse, ResponseBuffer* response) {
  curl_write_callback writeBody = WriteBody;
  return SetOption(handle, CURLOPT_URL, url.c_str()) &&
         SetOption(handle, CURLOPT_USERAGENT, kUserAgent) &&
         SetOption(handle, CURLOPT_ACCEPT_ENCODING, "gzip, deflate") &&
         SetOption(handle, CURLOPT_MAXREDIRS, 5L) &&
         SetOption(handle, CURLOPT_FOLLOWLOCATION, 1L) &&
         SetOption(handle, CURLOPT_WRITEFUNCTION, writeBody) &&
         SetOption(handle, CURLOPT_NOSIGNAL, 1L) &&
         SetOption(handle, CURLOPT_DNS_CACHE_TIMEOUT, 3600L) &&
         SetOption(handle, CURLOPT_MAXCONNECTS, 50L) &&
         SetOption(handle, CURLOPT_FORBID_REUSE, reuse ? 0L : 1L) &&
         SetOption(handle, CURLOPT_RANGE, range) &&
         SetOption(handle, CURLOPT_WRITEDATA, static_cast<void*>(response)) &&
         SetOption(handle, CURLOPT_TIMEOUT_MS, timeoutMs) &&
         // Any path containing "http://" reaches this reader; never let such
         // a text read local files or speak other protocols.
         SetOption(handle, CURLOPT_PROTOCOLS_STR, "http,https") &&
         SetOption(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
}

bool IsServerError(long status) { return status >= 500 && status <= 599; }

struct ConnectionSeam {
  std::atomic<CHTTPFileOperationTool::ConnectionOpener> opener{nullptr};
  std::atomic<void*> context{nullptr};
};
ConnectionSeam& Seam() {
  static ConnectionSeam seam;
  return seam;
}

curl_socket_t OpenSeamSocket(void*, curlsocktype, curl_sockaddr*) {
  const int socket = Seam().opener.load()(Seam().context.load());
  return socket < 0 ? CURL_SOCKET_BAD : socket;
}

int AlreadyConnected(void*, curl_socket_t, curlsocktype) { return CURL_SOCKOPT_ALREADY_CONNECTED; }

bool SetSeamOptions(CURL* handle) {
  if (Seam().opener.load() == nullptr) return true;
  curl_opensocket_callback open = OpenSeamSocket;
  curl_sockopt_callback connected = AlreadyConnected;
  return SetOption(handle, CURLOPT_OPENSOCKETFUNCTION, open) &&
         SetOption(handle, CURLOPT_SOCKOPTFUNCTION, connected) &&
         SetOption(handle, CURLOPT_FOLLOWLOCATION, 0L) && SetOption(handle, CURLOPT_PROXY, "");
}

}  // namespace

CHTTPFileOperationTool::CHTTPFileOperationTool()
    : reuseConnections_(ReuseFromEnvironment()), cache_(CacheLimitFromEnvironment()) {
  std::memset(urlBuffer_, 0, sizeof urlBuffer_);
  std::fill(std::begin(samples_.latency), std::end(samples_.latency), 1.0);
  std::fill(std::begin(samples_.throughput), std::end(samples_.throughput), 51200.0);
  samples_.position = 0;
  libraryReady_ = AcquireCurlLibrary();
}

CHTTPFileOperationTool::~CHTTPFileOperationTool() {
  if (libraryReady_) ReleaseCurlLibrary();
}

bool CHTTPFileOperationTool::Open(const char* url) {
  if (url == nullptr) return false;
  std::string escaped;
  for (const char* p = url; *p != '\0'; ++p) {
    if (*p == ' ') {
      escaped += "%20";
    } else {
      escaped += *p;
    }
  }
  if (escaped.size() >= sizeof urlBuffer_) {
    // A URL cut to fit would name another object; refuse it and forget any
    // earlier one so that no read goes to the wrong place.
    urlText_.clear();
    std::memset(urlBuffer_, 0, sizeof urlBuffer_);
    return false;
  }
  urlText_ = escaped;
  std::memcpy(urlBuffer_, urlText_.c_str(), urlText_.size() + 1);
  // Bytes of an earlier object must never answer reads of this one.
  cache_.Clear();
  {
    std::lock_guard<std::mutex> guard(blocksMutex_);
    lastBlock_ = kNoBlock;
    objectEnd_ = kNoBlock;
  }
  return true;
}

bool CHTTPFileOperationTool::Close() { return true; }

long CHTTPFileOperationTool::TimeoutForLength(int length) {
  return length <= kTimedReadLimit ? kTimedReadMilliseconds : 0L;
}

std::string CHTTPFileOperationTool::RequestUrlFor(const std::string& url, const char* hostSuffix,
                                                  const std::string& codePage) {
  if (hostSuffix == nullptr || *hostSuffix == '\0') return url;
  if (url.find(std::string(hostSuffix) + "/") == std::string::npos) return url;
  std::string converted;
  if (!strata::platform::ConvertCodePage(url, codePage.c_str(), "UTF-8", converted)) return url;
  return converted;
}

void CHTTPFileOperationTool::SetConnectionOpenerForTesting(ConnectionOpener opener, void* context) {
  Seam().context.store(context);
  Seam().opener.store(opener);
}

CHTTPFileOperationTool::TransferSamples CHTTPFileOperationTool::Samples() {
  ScopedLock guard(ReaderLock());
  return samples_;
}

bool CHTTPFileOperationTool::Read(std::uint64_t offset, int length, ByteBuffer* buffer) {
  if (buffer == nullptr || length < 0 || !libraryReady_ || urlBuffer_[0] == '\0') return false;
  constexpr auto kLastOffset = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  const std::size_t size = static_cast<std::size_t>(length);
  if (offset > kLastOffset - size) return false;
  // Value-initialised: bytes the server does not send stay zero.
  std::unique_ptr<unsigned char[]> array(new (std::nothrow) unsigned char[size == 0 ? 1 : size]());
  if (array == nullptr) return false;
  std::size_t delivered = 0;
  if (size > 0 && !Fetch(offset, size, array.get(), delivered)) return false;
  buffer->Attach(array.release(), size, delivered);
  return true;
}

bool CHTTPFileOperationTool::ReadInto(std::uint64_t offset, std::size_t length,
                                      unsigned char* destination, std::size_t& delivered) {
  delivered = 0;
  if (!Readable(offset, length, destination)) return false;
  if (length == 0) return true;
  switch (ReadThroughCache(offset, length, destination)) {
    case CacheRead::kServed: delivered = length; return true;
    case CacheRead::kFailed: return false;
    case CacheRead::kNotServed: break;
  }
  return Fetch(offset, length, destination, delivered);
}

bool CHTTPFileOperationTool::ReadWhole(std::uint64_t offset, std::size_t length,
                                       unsigned char* destination) {
  if (!Readable(offset, length, destination)) return false;
  if (length == 0) return true;
  // The cache delivers whole ranges or nothing, so its reads land in place.
  switch (ReadThroughCache(offset, length, destination)) {
    case CacheRead::kServed: return true;
    case CacheRead::kFailed: return false;
    case CacheRead::kNotServed: break;
  }
  return ReadWholeThroughScratch(length, destination,
                                 [&](unsigned char* scratch, std::size_t& delivered) {
                                   return Fetch(offset, length, scratch, delivered);
                                 });
}

bool CHTTPFileOperationTool::Readable(std::uint64_t offset, std::size_t length,
                                      const unsigned char* destination) const {
  constexpr auto kLastOffset = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  return destination != nullptr && libraryReady_ && urlBuffer_[0] != '\0' &&
         length <= static_cast<std::size_t>(std::numeric_limits<int>::max()) &&
         offset <= kLastOffset - length;
}

CHTTPFileOperationTool::CacheRead CHTTPFileOperationTool::ReadThroughCache(
    std::uint64_t offset, std::size_t length, unsigned char* destination) {
  if (!cache_.Enabled() || length > kBlockBytes / 2) return CacheRead::kNotServed;
  if (cache_.CopyOut(offset, length, destination)) return CacheRead::kServed;
  // A block that failed after every attempt fails the read: the same
  // request would only go through the same attempts again.
  if (!FetchBlock(offset, length)) return CacheRead::kFailed;
  return cache_.CopyOut(offset, length, destination) ? CacheRead::kServed : CacheRead::kNotServed;
}

bool CHTTPFileOperationTool::FetchBlock(std::uint64_t offset, std::size_t length) {
  constexpr auto kLastOffset = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  const std::uint64_t start = offset / kBlockBytes * kBlockBytes;
  const std::uint64_t end =
      std::min(kLastOffset, std::max<std::uint64_t>(start + kBlockBytes, offset + length));
  std::vector<ByteRange> blocks;
  {
    std::unique_lock<std::mutex> guard(blocksMutex_);
    if (blocksInFlight_.count(start) != 0) {
      blockFetched_.wait(guard, [&] { return blocksInFlight_.count(start) == 0; });
      return true;
    }
    blocks.push_back({start, end - start});
    blocksInFlight_.insert(start);
    AddBlocksAhead(start, blocks);
  }
  std::atomic<bool> fetchedFirst{false};
  strata::platform::ParallelFor(blocks.size(), kParallelRequests, [&](std::size_t i) {
    const bool fetched = FetchIntoCache(blocks[i]);
    if (i == 0) fetchedFirst = fetched;
    {
      std::lock_guard<std::mutex> guard(blocksMutex_);
      blocksInFlight_.erase(blocks[i].offset);
    }
    blockFetched_.notify_all();
  });
  return fetchedFirst;
}

bool CHTTPFileOperationTool::FetchIntoCache(const ByteRange& range) {
  RangeBytes bytes;
  try {
    bytes.resize(static_cast<std::size_t>(range.length));
  } catch (const std::bad_alloc&) {
    return false;
  }
  std::size_t got = 0;
  if (!Transfer(range.offset, bytes.size(), bytes.data(), got, Landing::kInPlace)) return false;
  // A short answer is the end of the object: no block after it is fetched ahead.
  if (got < bytes.size()) NoteObjectEnd(range.offset + got);
  bytes.resize(got);
  cache_.Store(range.offset, std::move(bytes));
  return true;
}

// A miss on the block right after the last one fetched is a walk through the
// object: the blocks after it are fetched too, in parallel, so the walk waits
// one round trip per window of blocks instead of one per block. Called with
// blocksMutex_ held.
void CHTTPFileOperationTool::AddBlocksAhead(std::uint64_t start, std::vector<ByteRange>& blocks) {
  const bool walking = lastBlock_ != kNoBlock && start == lastBlock_ + kBlockBytes;
  // Never so far ahead that the window would push out what is being read.
  const std::uint64_t window =
      std::min<std::uint64_t>(kReadAheadBlocks, cache_.Limit() / (4 * kBlockBytes));
  lastBlock_ = start;
  for (std::uint64_t ahead = 1; walking && ahead < window; ++ahead) {
    const std::uint64_t next = start + ahead * kBlockBytes;
    if (next >= objectEnd_) break;
    lastBlock_ = next;
    if (blocksInFlight_.count(next) != 0 || cache_.Holds(next, kBlockBytes)) continue;
    blocks.push_back({next, kBlockBytes});
    blocksInFlight_.insert(next);
  }
}

void CHTTPFileOperationTool::NoteObjectEnd(std::uint64_t end) {
  std::lock_guard<std::mutex> guard(blocksMutex_);
  objectEnd_ = std::min(objectEnd_, end);
}

bool CHTTPFileOperationTool::Fetch(std::uint64_t offset, std::size_t length,
                                   unsigned char* destination, std::size_t& delivered) {
  if (!cache_.Enabled()) return Transfer(offset, length, destination, delivered);
  if (cache_.CopyOut(offset, length, destination)) {
    delivered = length;
    return true;
  }
  if (length > kSplitAbove) return FetchSplit(offset, length, destination, delivered);
  return Transfer(offset, length, destination, delivered);
}

bool CHTTPFileOperationTool::FetchSplit(std::uint64_t offset, std::size_t length,
                                        unsigned char* destination, std::size_t& delivered) {
  // Pieces of at least kSplitBytes, and no more of them than run at once:
  // the whole read then costs one round trip.
  const std::size_t pieceBytes =
      std::max(kSplitBytes, (length + kParallelRequests - 1) / kParallelRequests);
  const std::size_t pieces = (length + pieceBytes - 1) / pieceBytes;
  std::vector<std::size_t> got(pieces, 0);
  std::atomic<bool> failed{false};
  strata::platform::ParallelFor(pieces, kParallelRequests, [&](std::size_t piece) {
    const std::size_t start = piece * pieceBytes;
    const std::size_t size = std::min(pieceBytes, length - start);
    if (failed || !Transfer(offset + start, size, destination + start, got[piece])) failed = true;
  });
  if (failed) return false;
  // Bytes count as delivered up to the first piece that came back short.
  delivered = 0;
  for (std::size_t piece = 0; piece < pieces; ++piece) {
    delivered += got[piece];
    if (got[piece] < std::min(pieceBytes, length - piece * pieceBytes)) break;
  }
  return true;
}

void CHTTPFileOperationTool::Prefetch(const std::vector<ByteRange>& ranges) {
  if (!cache_.Enabled() || !libraryReady_ || urlBuffer_[0] == '\0') return;
  std::vector<ByteRange> missing;
  for (const ByteRange& range : ranges) {
    if (range.length <= kMaxMergedBytes && !cache_.Holds(range.offset, range.length)) {
      missing.push_back(range);
    }
  }
  std::vector<ByteRange> requests = MergeByteRanges(missing, kMergeGap, kMaxMergedBytes);
  // Never fetch ahead more than half the cache could keep: the rest would
  // only push out what was just fetched.
  std::uint64_t planned = 0;
  std::size_t kept = 0;
  while (kept < requests.size() && planned + requests[kept].length <= cache_.Limit() / 2) {
    planned += requests[kept++].length;
  }
  requests.resize(kept);
  strata::platform::ParallelFor(requests.size(), kParallelRequests,
                                [&](std::size_t i) { FetchIntoCache(requests[i]); });
}

CHTTPFileOperationTool::Statistics CHTTPFileOperationTool::GetStatistics() {
  Statistics statistics;
  statistics.requests = requests_;
  statistics.connections = connections_;
  statistics.cache = cache_.Stats();
  return statistics;
}

bool CHTTPFileOperationTool::Transfer(std::uint64_t offset, std::size_t length,
                                      unsigned char* destination, std::size_t& delivered,
                                      Landing landing) {
  const std::string requestUrl =
      RequestUrlFor(urlBuffer_, strata::platform::EnvironmentValue(kUtf8HostSuffixVariable),
                    strata::platform::SystemCodePage());
  int failedAttempts = 0;
  while (failedAttempts < kMaxAttempts) {
    switch (Attempt(requestUrl, offset, length, destination, delivered, landing)) {
      case AttemptOutcome::kDelivered: return true;
      case AttemptOutcome::kRejected: return false;
      case AttemptOutcome::kRetry:
        ++failedAttempts;
        DebugPrintf("Retry Time %d \n", failedAttempts);
        break;
    }
  }
  return false;
}

CHTTPFileOperationTool::AttemptOutcome CHTTPFileOperationTool::Attempt(
    const std::string& requestUrl, std::uint64_t offset, std::size_t length,
    unsigned char* destination, std::size_t& delivered, Landing landing) {
  EasyHandle handle = TakeHandle(reuseConnections_);
  if (handle == nullptr) return AttemptOutcome::kRetry;
  ResponseBuffer response(handle.get(), offset, length,
                          landing == Landing::kInPlace ? destination : nullptr);
  if (!response.Usable()) return AttemptOutcome::kRejected;
  char range[64];
  std::snprintf(range, sizeof range, "%lld-%lld", static_cast<long long>(offset),
                static_cast<long long>(offset + length - 1));
  const long timeoutMs = TimeoutForLength(static_cast<int>(length));
  if (!SetTransferOptions(handle.get(), requestUrl, range, timeoutMs, reuseConnections_,
                          &response) ||
      !SetSeamOptions(handle.get())) {
    return AttemptOutcome::kRetry;
  }
  const CURLcode result = curl_easy_perform(handle.get());
  ++requests_;
  long opened = 0;
  if (curl_easy_getinfo(handle.get(), CURLINFO_NUM_CONNECTS, &opened) == CURLE_OK && opened > 0) {
    connections_ += static_cast<std::uint64_t>(opened);
  }
  // A handle whose transfer failed is dropped with its connection: a broken
  // or half-read connection must not serve the next attempt.
  const auto keepHandle = [&] {
    if (reuseConnections_) ReturnHandle(std::move(handle));
  };
  const bool cutShort = result == CURLE_WRITE_ERROR && response.Satisfied();
  if (result != CURLE_OK && !cutShort) {
    strata::NoteFailure(strata::Status::IoError(std::string("HTTP transfer failed: ") +
                                                curl_easy_strerror(result)));
    return AttemptOutcome::kRetry;
  }
  DebugOutput("perform success!\n");

  const long status = ResponseStatus(handle.get());
  const AttemptOutcome outcome = OutcomeOfStatus(status, offset, response.BodyBytes());
  if (outcome != AttemptOutcome::kDelivered) {
    strata::NoteFailure(strata::Status::IoError(
        status == kHttpOk ? std::string("the HTTP server ignores byte ranges")
                          : "HTTP status " + std::to_string(status)));
    if (result == CURLE_OK) keepHandle();
    return outcome;
  }
  delivered = response.Stored();
  if (response.Data() != destination) std::memcpy(destination, response.Data(), delivered);
  RecordSamples(handle.get(), length);
  if (result == CURLE_OK) keepHandle();
  return AttemptOutcome::kDelivered;
}

CHTTPFileOperationTool::AttemptOutcome CHTTPFileOperationTool::OutcomeOfStatus(
    long status, std::uint64_t offset, std::uint64_t bodyBytes) {
  // 416: the range starts past the end of the object; nothing to deliver.
  if (status == kHttpPartialContent || status == kHttpRangeNotSatisfiable) {
    return AttemptOutcome::kDelivered;
  }
  // A server that ignores the range answers 200 with the whole object; it
  // serves the read if it reaches the offset.
  if (status == kHttpOk) {
    return offset == 0 || bodyBytes > offset ? AttemptOutcome::kDelivered
                                             : AttemptOutcome::kRejected;
  }
  if (IsServerError(status)) return AttemptOutcome::kRetry;
  // Client errors (missing object, no permission) do not pass by retrying.
  return AttemptOutcome::kRejected;
}

void CHTTPFileOperationTool::RecordSamples(void* handle, std::size_t length) {
  double totalSeconds = 0.0;
  double startSeconds = 0.0;
  if (curl_easy_getinfo(static_cast<CURL*>(handle), CURLINFO_TOTAL_TIME, &totalSeconds) !=
          CURLE_OK ||
      curl_easy_getinfo(static_cast<CURL*>(handle), CURLINFO_STARTTRANSFER_TIME, &startSeconds) !=
          CURLE_OK) {
    return;
  }
  // A loopback transfer can finish within the clock's resolution.
  const double seconds = std::max(totalSeconds, 1e-6);
  ScopedLock guard(ReaderLock());
  samples_.latency[samples_.position] = startSeconds;
  samples_.throughput[samples_.position] = static_cast<double>(length) / seconds;
  ++samples_.position;
  DebugPrintf("m_nCurPos increase, %d \n", samples_.position);
  if (samples_.position == kSampleCount) samples_.position = 0;
}
