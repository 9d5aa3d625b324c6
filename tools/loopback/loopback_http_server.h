// A small HTTP/1.1 server on 127.0.0.1 for tests and benchmarks: every
// connection gets a thread of its own and is kept alive between requests, so
// a client may reuse it and hold several at once. A handler scripts each
// answer (good ranges, errors, resets, stalls, delays). The server stops answering
// after `maxRequests` requests or once `lifetime` has passed, and records
// every request it saw.
#ifndef STRATA_TOOLS_LOOPBACK_LOOPBACK_HTTP_SERVER_H_
#define STRATA_TOOLS_LOOPBACK_LOOPBACK_HTTP_SERVER_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace strata::loopback {

struct Request {
  std::string head;                            // request line and headers, as received
  std::string target;                          // "/path"
  std::map<std::string, std::string> headers;  // names in lower case
  int connection = 0;                          // which connection carried it (from 1)

  std::string Header(const std::string& lowerCaseName) const;
};

struct Reply {
  enum class Ending {
    kKeepAlive,  // send, then wait for the next request on the connection
    kClose,      // send, then close normally
    kReset,      // send, then abort the connection (RST)
    kStall,      // send, then answer nothing more until the client closes
  };
  std::string bytes;
  Ending ending = Ending::kKeepAlive;
};

// The fields of an HTTP head (the lines after its first), names in lower
// case, values without the spaces that lead them.
std::map<std::string, std::string> HeaderFields(const std::string& head);

// A complete response; "Connection: close" when `ending` is kClose.
Reply MakeReply(int status, const std::string& reason, const std::string& body,
                const std::string& extraHeaders = "",
                Reply::Ending ending = Reply::Ending::kKeepAlive);

// A 206 with the bytes of `object` the request's Range asks for (416 past
// the end, 200 with everything without a range), as a well-behaved server.
Reply RangeReply(const std::string& object, const Request& request);

class LoopbackHttpServer {
 public:
  using Handler = std::function<Reply(const Request& request, int index)>;

  explicit LoopbackHttpServer(Handler handler, int maxRequests = 1000,
                              std::chrono::seconds lifetime = std::chrono::seconds(60));
  ~LoopbackHttpServer();
  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

  int port() const { return port_; }
  std::string Url(const std::string& target) const;
  std::vector<Request> Requests() const;
  int RequestCount() const;
  // Connections accepted so far.
  int ConnectionCount() const { return connections_; }
  // The most requests that were being answered at the same time.
  int MostRequestsAtOnce() const;
  // Closes every open connection once it is idle (at once if it is), as a
  // server whose keep-alive time ran out does; connections busy with a
  // request are closed after their answer.
  void CloseIdleConnections();

 private:
  struct Connection;

  void AcceptLoop();
  void Serve(std::shared_ptr<Connection> connection);
  bool Expired() const;
  void HoldUntilClosed(int fd) const;

  Handler handler_;
  const int maxRequests_;
  const std::chrono::steady_clock::time_point deadline_;
  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_{0};
  mutable std::mutex mutex_;
  std::vector<Request> requests_;
  int answering_ = 0;
  int mostAtOnce_ = 0;
  std::vector<std::shared_ptr<Connection>> open_;
  std::vector<std::thread> threads_;
  std::thread acceptor_;
};

}  // namespace strata::loopback

#endif  // STRATA_TOOLS_LOOPBACK_LOOPBACK_HTTP_SERVER_H_
