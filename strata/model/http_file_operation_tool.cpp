#include "strata/model/http_file_operation_tool.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "strata/platform/code_page.h"
#include "strata/platform/debug_output.h"
#include "strata/platform/file_io.h"
#include "strata/platform/lock.h"

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
// guarded: slides may be opened and closed on several threads at once.
Lock& CurlGlobalLock() {
  static Lock lock;
  return lock;
}

bool AcquireCurlLibrary() {
  ScopedLock guard(CurlGlobalLock());
  return curl_global_init(CURL_GLOBAL_ALL) == CURLE_OK;
}

void ReleaseCurlLibrary() {
  ScopedLock guard(CurlGlobalLock());
  curl_global_cleanup();
}

struct EasyHandleDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using EasyHandle = std::unique_ptr<CURL, EasyHandleDeleter>;

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
  ResponseBuffer(CURL* handle, std::uint64_t offset, std::size_t capacity)
      : handle_(handle), offset_(offset), storage_(capacity) {}

  // False once a whole-object body has delivered every requested byte: the
  // rest of the object (possibly the whole slide) is not worth fetching.
  bool Accept(const char* data, std::size_t size) {
    if (mode_ == Mode::kUndecided) DecideMode();
    const std::uint64_t chunkStart = bodyBytes_;
    bodyBytes_ += size;
    if (mode_ == Mode::kKeep && stored_ < storage_.size() && bodyBytes_ > skip_) {
      const std::size_t from =
          chunkStart < skip_ ? static_cast<std::size_t>(skip_ - chunkStart) : 0;
      const std::size_t count = std::min(size - from, storage_.size() - stored_);
      std::memcpy(storage_.data() + stored_, data + from, count);
      stored_ += count;
    }
    return !Satisfied();
  }

  bool Satisfied() const { return wholeObject_ && stored_ == storage_.size(); }

  const unsigned char* Data() const { return storage_.data(); }
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
  std::vector<unsigned char> storage_;
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
                        ResponseBuffer* response) {
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
         SetOption(handle, CURLOPT_FORBID_REUSE, 1L) &&
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

CHTTPFileOperationTool::CHTTPFileOperationTool() {
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

void CHTTPFileOperationTool::SetConnectionOpenerForTesting(ConnectionOpener opener,
                                                           void* context) {
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
  if (size > 0 && !Transfer(offset, size, array.get(), delivered)) return false;
  buffer->Attach(array.release(), size, delivered);
  return true;
}

bool CHTTPFileOperationTool::Transfer(std::uint64_t offset, std::size_t length,
                                      unsigned char* destination, std::size_t& delivered) {
  const std::string requestUrl =
      RequestUrlFor(urlBuffer_, strata::platform::EnvironmentValue(kUtf8HostSuffixVariable),
                    strata::platform::SystemCodePage());
  int failedAttempts = 0;
  while (failedAttempts < kMaxAttempts) {
    switch (Attempt(requestUrl, offset, length, destination, delivered)) {
      case AttemptOutcome::kDelivered:
        return true;
      case AttemptOutcome::kRejected:
        return false;
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
    unsigned char* destination, std::size_t& delivered) {
  EasyHandle handle(curl_easy_init());
  if (handle == nullptr) return AttemptOutcome::kRetry;
  ResponseBuffer response(handle.get(), offset, length);
  char range[64];
  std::snprintf(range, sizeof range, "%lld-%lld", static_cast<long long>(offset),
                static_cast<long long>(offset + length - 1));
  const long timeoutMs = TimeoutForLength(static_cast<int>(length));
  if (!SetTransferOptions(handle.get(), requestUrl, range, timeoutMs, &response) ||
      !SetSeamOptions(handle.get())) {
    return AttemptOutcome::kRetry;
  }
  const CURLcode result = curl_easy_perform(handle.get());
  const bool cutShort = result == CURLE_WRITE_ERROR && response.Satisfied();
  if (result != CURLE_OK && !cutShort) return AttemptOutcome::kRetry;
  DebugOutput("perform success!\n");

  const AttemptOutcome outcome =
      OutcomeOfStatus(ResponseStatus(handle.get()), offset, response.BodyBytes());
  if (outcome != AttemptOutcome::kDelivered) return outcome;
  delivered = response.Stored();
  std::memcpy(destination, response.Data(), delivered);
  RecordSamples(handle.get(), length);
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
      curl_easy_getinfo(static_cast<CURL*>(handle), CURLINFO_STARTTRANSFER_TIME,
                        &startSeconds) != CURLE_OK) {
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
