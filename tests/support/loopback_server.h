// A tiny HTTP server on loopback whose every answer a test scripts: good
// ranges, errors, resets, stalls. It serves one connection at a time (or a
// group of connections held open together), is bounded in requests and in
// time, and records every request it saw. Next to it, the private nginx that
// serves real files (shared with the HTTP benchmark).
#ifndef STRATA_TESTS_SUPPORT_LOOPBACK_SERVER_H_
#define STRATA_TESTS_SUPPORT_LOOPBACK_SERVER_H_

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tools/loopback/nginx_server.h"

namespace strata::test {

using loopback::NginxServer;

struct HttpRequest {
  std::string requestLine;                     // "GET /path HTTP/1.1"
  std::string target;                          // "/path"
  std::map<std::string, std::string> headers;  // names in lower case

  std::string Header(const std::string& lowerCaseName) const {
    auto found = headers.find(lowerCaseName);
    return found == headers.end() ? std::string() : found->second;
  }
};

struct HttpReply {
  enum class Ending {
    kClose,  // send, then close normally
    kReset,  // send, then abort the connection (RST)
    kStall,  // send, then wait until the client gives up
  };
  std::string bytes;
  Ending ending = Ending::kClose;
};

inline std::string HttpResponseText(int status, const std::string& reason, const std::string& body,
                                    const std::string& extraHeaders = "") {
  return "HTTP/1.1 " + std::to_string(status) + " " + reason +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n" +
         extraHeaders + "\r\n" + body;
}

inline HttpReply Respond(int status, const std::string& reason, const std::string& body,
                         const std::string& extraHeaders = "") {
  return HttpReply{HttpResponseText(status, reason, body, extraHeaders), HttpReply::Ending::kClose};
}

// Parses "bytes=FIRST-LAST"; false for anything else.
inline bool ParseByteRange(const std::string& header, std::uint64_t& first, std::uint64_t& last) {
  unsigned long long a = 0;
  unsigned long long b = 0;
  if (std::sscanf(header.c_str(), "bytes=%llu-%llu", &a, &b) != 2 || b < a) return false;
  first = a;
  last = b;
  return true;
}

// A 206 with the bytes of `object` the request's range asks for (416 when
// the range starts past the end), as a well-behaved server answers.
inline HttpReply RangeReply(const std::string& object, const HttpRequest& request) {
  std::uint64_t first = 0;
  std::uint64_t last = 0;
  if (!ParseByteRange(request.Header("range"), first, last)) return Respond(200, "OK", object);
  if (first >= object.size()) {
    return Respond(416, "Range Not Satisfiable", "<html>416</html>",
                   "Content-Range: bytes */" + std::to_string(object.size()) + "\r\n");
  }
  last = std::min<std::uint64_t>(last, object.size() - 1);
  const std::string body = object.substr(first, last - first + 1);
  return Respond(206, "Partial Content", body,
                 "Content-Range: bytes " + std::to_string(first) + "-" + std::to_string(last) +
                     "/" + std::to_string(object.size()) + "\r\n");
}

class FaultHttpServer {
 public:
  using Handler = std::function<HttpReply(const HttpRequest& request, int index)>;

  // `groupSize` > 1: accept that many connections (each with its request)
  // before answering any of them, to show that a client has them in flight
  // together. The server stops after `maxRequests` requests or `lifetime`.
  explicit FaultHttpServer(Handler handler, int maxRequests = 64, int groupSize = 1,
                           std::chrono::seconds lifetime = std::chrono::seconds(40))
      : handler_(std::move(handler)),
        maxRequests_(maxRequests),
        groupSize_(groupSize),
        deadline_(std::chrono::steady_clock::now() + lifetime) {
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) throw std::runtime_error("socket failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t size = sizeof address;
    if (bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listenFd_, 16) != 0 ||
        getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      close(listenFd_);
      throw std::runtime_error("cannot listen on loopback");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }

  ~FaultHttpServer() {
    stopping_ = true;
    shutdown(listenFd_, SHUT_RDWR);
    thread_.join();
    close(listenFd_);
  }

  FaultHttpServer(const FaultHttpServer&) = delete;
  FaultHttpServer& operator=(const FaultHttpServer&) = delete;

  int port() const { return port_; }
  std::string Url(const std::string& target) const {
    return "http://127.0.0.1:" + std::to_string(port_) + target;
  }

  std::vector<HttpRequest> Requests() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return requests_;
  }
  int RequestCount() const { return static_cast<int>(Requests().size()); }
  // The most connections that were open at the same time.
  int MostConnectionsAtOnce() const { return mostAtOnce_; }

 private:
  struct Connection {
    int fd;
    HttpRequest request;
  };

  bool Expired() const { return stopping_ || std::chrono::steady_clock::now() >= deadline_; }

  // Waits for `events` on fd in short slices so that a stop is noticed.
  bool WaitFor(int fd, short events, std::chrono::milliseconds limit) const {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!Expired() && std::chrono::steady_clock::now() < until) {
      pollfd entry{fd, events, 0};
      const int ready = poll(&entry, 1, 50);
      if (ready > 0) return true;
      if (ready < 0 && errno != EINTR) return false;
    }
    return false;
  }

  void Serve() {
    int served = 0;
    while (!Expired() && served < maxRequests_) {
      std::vector<Connection> group;
      while (static_cast<int>(group.size()) < groupSize_ &&
             served + static_cast<int>(group.size()) < maxRequests_) {
        // The first connection of a group may take its time; later ones
        // must come while the earlier ones are still waiting.
        const auto limit =
            group.empty() ? std::chrono::milliseconds(60000) : std::chrono::milliseconds(3000);
        if (!WaitFor(listenFd_, POLLIN, limit)) break;
        const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) break;
        Connection connection{fd, {}};
        if (!ReadRequest(fd, connection.request)) {
          close(fd);
          continue;
        }
        group.push_back(connection);
        mostAtOnce_ = std::max(mostAtOnce_.load(), static_cast<int>(group.size()));
      }
      if (group.empty()) break;
      for (Connection& connection : group) {
        int index;
        {
          std::lock_guard<std::mutex> guard(mutex_);
          index = static_cast<int>(requests_.size());
          requests_.push_back(connection.request);
        }
        Answer(connection.fd, handler_(connection.request, index));
        ++served;
      }
    }
  }

  bool ReadRequest(int fd, HttpRequest& request) const {
    std::string text;
    char chunk[4096];
    while (text.find("\r\n\r\n") == std::string::npos) {
      if (text.size() > 65536 || !WaitFor(fd, POLLIN, std::chrono::milliseconds(3000))) {
        return false;
      }
      const ssize_t got = recv(fd, chunk, sizeof chunk, 0);
      if (got <= 0) return false;
      text.append(chunk, static_cast<std::size_t>(got));
    }
    std::size_t lineEnd = text.find("\r\n");
    request.requestLine = text.substr(0, lineEnd);
    const std::size_t firstSpace = request.requestLine.find(' ');
    const std::size_t secondSpace = request.requestLine.rfind(' ');
    if (firstSpace != std::string::npos && secondSpace > firstSpace) {
      request.target = request.requestLine.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    }
    const std::size_t headersEnd = text.find("\r\n\r\n");
    while (lineEnd < headersEnd) {
      const std::size_t start = lineEnd + 2;
      lineEnd = text.find("\r\n", start);
      const std::string line = text.substr(start, lineEnd - start);
      const std::size_t colon = line.find(':');
      if (colon == std::string::npos) continue;
      std::string name = line.substr(0, colon);
      std::transform(name.begin(), name.end(), name.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      std::size_t valueStart = colon + 1;
      while (valueStart < line.size() && line[valueStart] == ' ') ++valueStart;
      request.headers[name] = line.substr(valueStart);
    }
    return true;
  }

  void Answer(int fd, const HttpReply& reply) const {
    std::size_t sent = 0;
    while (sent < reply.bytes.size()) {
      const ssize_t count =
          send(fd, reply.bytes.data() + sent, reply.bytes.size() - sent, MSG_NOSIGNAL);
      if (count <= 0) break;
      sent += static_cast<std::size_t>(count);
    }
    if (reply.ending == HttpReply::Ending::kReset) {
      linger abort{1, 0};
      setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    } else if (reply.ending == HttpReply::Ending::kStall) {
      // Hold the connection until the client closes it (or 20 s pass).
      char sink[256];
      while (WaitFor(fd, POLLIN, std::chrono::milliseconds(20000))) {
        if (recv(fd, sink, sizeof sink, 0) <= 0) break;
      }
    }
    close(fd);
  }

  Handler handler_;
  int maxRequests_;
  int groupSize_;
  std::chrono::steady_clock::time_point deadline_;
  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> mostAtOnce_{0};
  mutable std::mutex mutex_;
  std::vector<HttpRequest> requests_;
  std::thread thread_;
};

// A loopback port with nothing listening on it: connections are refused.
inline int RefusingPort() { return loopback::FreeLoopbackPort(); }

}  // namespace strata::test

#endif  // STRATA_TESTS_SUPPORT_LOOPBACK_SERVER_H_
