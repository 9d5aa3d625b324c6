#include "tools/loopback/latency_proxy.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <thread>

#include "tools/loopback/loopback_socket.h"

namespace strata::loopback {

namespace {

constexpr int kUpstreamWaitMs = 30000;

bool IsHeader(const std::string& line, const char* lowerCaseName) {
  const std::size_t colon = line.find(':');
  if (colon == std::string::npos) return false;
  std::string name = line.substr(0, colon);
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return name == lowerCaseName;
}

// The head with its Connection header replaced by `connection`.
std::string WithConnection(const std::string& head, const std::string& connection) {
  std::string out;
  std::size_t start = 0;
  const std::size_t headEnd = head.find("\r\n\r\n");
  while (start < headEnd) {
    std::size_t end = head.find("\r\n", start);
    const std::string line = head.substr(start, end - start);
    if (start == 0 || !IsHeader(line, "connection")) out += line + "\r\n";
    start = end + 2;
  }
  return out + "Connection: " + connection + "\r\n\r\n";
}

}  // namespace

Reply ForwardToUpstream(int upstreamPort, const Request& request) {
  const int fd = ConnectLoopback(upstreamPort);
  if (fd < 0) return MakeReply(502, "Bad Gateway", "");
  const std::string head = WithConnection(request.head, "close");
  SendAll(fd, head);
  // The upstream closes after its answer, so the answer is all it sends.
  std::string answer;
  char chunk[65536];
  for (;;) {
    pollfd entry{fd, POLLIN, 0};
    if (poll(&entry, 1, kUpstreamWaitMs) <= 0) break;
    const ssize_t got = recv(fd, chunk, sizeof chunk, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    answer.append(chunk, static_cast<std::size_t>(got));
  }
  close(fd);
  const std::size_t headEnd = answer.find("\r\n\r\n");
  if (headEnd == std::string::npos) return MakeReply(502, "Bad Gateway", "");
  Reply reply;
  reply.bytes =
      WithConnection(answer.substr(0, headEnd + 4), "keep-alive") + answer.substr(headEnd + 4);
  return reply;
}

LatencyProxy::LatencyProxy(int upstreamPort, std::chrono::milliseconds delay, int maxRequests,
                           std::chrono::seconds lifetime)
    : server_(
          [upstreamPort, delay](const Request& request, int) {
            std::this_thread::sleep_for(delay);
            return ForwardToUpstream(upstreamPort, request);
          },
          maxRequests, lifetime) {}

}  // namespace strata::loopback
