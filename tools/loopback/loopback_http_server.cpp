#include "tools/loopback/loopback_http_server.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <stdexcept>

#include "tools/loopback/loopback_socket.h"

namespace strata::loopback {

namespace {

constexpr std::size_t kMaxHeadBytes = 65536;

bool ParseByteRange(const std::string& header, std::uint64_t& first, std::uint64_t& last) {
  unsigned long long a = 0;
  unsigned long long b = 0;
  if (std::sscanf(header.c_str(), "bytes=%llu-%llu", &a, &b) != 2 || b < a) return false;
  first = a;
  last = b;
  return true;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

void ParseHead(const std::string& head, Request& request) {
  const std::string requestLine = head.substr(0, head.find("\r\n"));
  const std::size_t firstSpace = requestLine.find(' ');
  const std::size_t secondSpace = requestLine.rfind(' ');
  if (firstSpace != std::string::npos && secondSpace > firstSpace) {
    request.target = requestLine.substr(firstSpace + 1, secondSpace - firstSpace - 1);
  }
  request.headers = HeaderFields(head);
}

}  // namespace

std::map<std::string, std::string> HeaderFields(const std::string& head) {
  std::map<std::string, std::string> fields;
  std::size_t lineEnd = head.find("\r\n");
  while (lineEnd != std::string::npos && lineEnd + 2 < head.size()) {
    const std::size_t start = lineEnd + 2;
    lineEnd = head.find("\r\n", start);
    const std::string line =
        head.substr(start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::size_t valueStart = colon + 1;
    while (valueStart < line.size() && line[valueStart] == ' ') ++valueStart;
    fields[Lower(line.substr(0, colon))] = line.substr(valueStart);
  }
  return fields;
}

std::string Request::Header(const std::string& lowerCaseName) const {
  const auto found = headers.find(lowerCaseName);
  return found == headers.end() ? std::string() : found->second;
}

Reply MakeReply(int status, const std::string& reason, const std::string& body,
                const std::string& extraHeaders, Reply::Ending ending) {
  Reply reply;
  reply.bytes = "HTTP/1.1 " + std::to_string(status) + " " + reason +
                "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
                (ending == Reply::Ending::kClose ? "Connection: close\r\n" : "") + extraHeaders +
                "\r\n" + body;
  reply.ending = ending;
  return reply;
}

Reply RangeReply(const std::string& object, const Request& request) {
  std::uint64_t first = 0;
  std::uint64_t last = 0;
  if (!ParseByteRange(request.Header("range"), first, last)) return MakeReply(200, "OK", object);
  if (first >= object.size()) {
    return MakeReply(416, "Range Not Satisfiable", "<html>416</html>",
                     "Content-Range: bytes */" + std::to_string(object.size()) + "\r\n");
  }
  last = std::min<std::uint64_t>(last, object.size() - 1);
  return MakeReply(206, "Partial Content", object.substr(first, last - first + 1),
                   "Content-Range: bytes " + std::to_string(first) + "-" + std::to_string(last) +
                       "/" + std::to_string(object.size()) + "\r\n");
}

struct LoopbackHttpServer::Connection {
  std::mutex mutex;
  int fd = -1;
  bool idle = false;
  bool closeWhenIdle = false;
  int number = 0;
};

LoopbackHttpServer::LoopbackHttpServer(Handler handler, int maxRequests,
                                       std::chrono::seconds lifetime)
    : handler_(std::move(handler)),
      maxRequests_(maxRequests),
      deadline_(std::chrono::steady_clock::now() + lifetime) {
  listenFd_ = BindLoopback(64, &port_);
  if (listenFd_ < 0) throw std::runtime_error("cannot listen on loopback");
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
  stopping_ = true;
  shutdown(listenFd_, SHUT_RDWR);
  acceptor_.join();
  {
    std::lock_guard<std::mutex> guard(mutex_);
    for (const auto& connection : open_) {
      std::lock_guard<std::mutex> hold(connection->mutex);
      if (connection->fd >= 0) shutdown(connection->fd, SHUT_RDWR);
    }
  }
  for (std::thread& thread : threads_) thread.join();
  close(listenFd_);
}

std::string LoopbackHttpServer::Url(const std::string& target) const {
  return "http://127.0.0.1:" + std::to_string(port_) + target;
}

std::vector<Request> LoopbackHttpServer::Requests() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return requests_;
}

int LoopbackHttpServer::RequestCount() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return static_cast<int>(requests_.size());
}

int LoopbackHttpServer::MostRequestsAtOnce() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return mostAtOnce_;
}

void LoopbackHttpServer::CloseIdleConnections() {
  std::lock_guard<std::mutex> guard(mutex_);
  for (const auto& connection : open_) {
    std::lock_guard<std::mutex> hold(connection->mutex);
    connection->closeWhenIdle = true;
    if (connection->fd >= 0 && connection->idle) shutdown(connection->fd, SHUT_RDWR);
  }
}

bool LoopbackHttpServer::Expired() const {
  return stopping_ || std::chrono::steady_clock::now() >= deadline_;
}

// Drops whatever the client sends until it closes or the server stops.
void LoopbackHttpServer::HoldUntilClosed(int fd) const {
  char sink[256];
  while (!Expired()) {
    pollfd entry{fd, POLLIN, 0};
    const int ready = poll(&entry, 1, 50);
    if (ready < 0 && errno != EINTR) return;
    if (ready > 0 && recv(fd, sink, sizeof sink, 0) <= 0) return;
  }
}

void LoopbackHttpServer::AcceptLoop() {
  while (!Expired()) {
    pollfd entry{listenFd_, POLLIN, 0};
    const int ready = poll(&entry, 1, 50);
    if (ready < 0 && errno != EINTR) return;
    if (ready <= 0) continue;
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    auto connection = std::make_shared<Connection>();
    connection->fd = fd;
    connection->number = ++connections_;
    std::lock_guard<std::mutex> guard(mutex_);
    open_.push_back(connection);
    threads_.emplace_back([this, connection] { Serve(connection); });
  }
}

void LoopbackHttpServer::Serve(std::shared_ptr<Connection> connection) {
  const int fd = connection->fd;
  std::string pending;
  bool open = true;
  while (open && !Expired()) {
    {
      std::lock_guard<std::mutex> hold(connection->mutex);
      connection->idle = pending.empty();
      if (connection->idle && connection->closeWhenIdle) break;
    }
    pollfd entry{fd, POLLIN, 0};
    const int ready = poll(&entry, 1, 50);
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    char chunk[4096];
    const ssize_t got = recv(fd, chunk, sizeof chunk, 0);
    if (got <= 0) break;
    {
      std::lock_guard<std::mutex> hold(connection->mutex);
      connection->idle = false;
    }
    pending.append(chunk, static_cast<std::size_t>(got));
    if (pending.size() > kMaxHeadBytes) break;
    // Requests carry no body: each ends with its head.
    for (std::size_t end = pending.find("\r\n\r\n"); open && end != std::string::npos;
         end = pending.find("\r\n\r\n")) {
      Request request;
      request.head = pending.substr(0, end + 4);
      request.connection = connection->number;
      pending.erase(0, end + 4);
      ParseHead(request.head, request);
      int index;
      {
        std::lock_guard<std::mutex> guard(mutex_);
        if (static_cast<int>(requests_.size()) >= maxRequests_) {
          open = false;
          break;
        }
        index = static_cast<int>(requests_.size());
        requests_.push_back(request);
        mostAtOnce_ = std::max(mostAtOnce_, ++answering_);
      }
      const Reply reply = handler_(request, index);
      SendAll(fd, reply.bytes);
      {
        std::lock_guard<std::mutex> guard(mutex_);
        --answering_;
      }
      if (reply.ending == Reply::Ending::kStall) HoldUntilClosed(fd);
      if (reply.ending == Reply::Ending::kReset) {
        linger abort{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
      }
      if (reply.ending != Reply::Ending::kKeepAlive) open = false;
      // A client that asks to close gets its wish after the answer.
      if (Lower(request.Header("connection")) == "close") open = false;
    }
  }
  std::lock_guard<std::mutex> hold(connection->mutex);
  close(connection->fd);
  connection->fd = -1;
}

}  // namespace strata::loopback
