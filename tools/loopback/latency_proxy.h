// A loopback proxy that holds every request for a fixed time before passing
// it to an upstream server on 127.0.0.1, as a distant server would answer:
// the round trip of a real network, without one. Client connections are
// kept alive; each request goes upstream on a connection of its own. Bounded
// in requests and in time like the server it is built on.
#ifndef STRATA_TOOLS_LOOPBACK_LATENCY_PROXY_H_
#define STRATA_TOOLS_LOOPBACK_LATENCY_PROXY_H_

#include <chrono>
#include <string>

#include "tools/loopback/loopback_http_server.h"

namespace strata::loopback {

class LatencyProxy {
 public:
  LatencyProxy(int upstreamPort, std::chrono::milliseconds delay, int maxRequests = 100000,
               std::chrono::seconds lifetime = std::chrono::seconds(600));

  int port() const { return server_.port(); }
  // The proxied URL of `target` ("/name").
  std::string Url(const std::string& target) const { return server_.Url(target); }
  int RequestCount() const { return server_.RequestCount(); }
  int ConnectionCount() const { return server_.ConnectionCount(); }

 private:
  LoopbackHttpServer server_;
};

// The upstream's answer to `request`, its Connection header replaced so that
// the client may keep its connection; a 502 when the upstream cannot be
// reached or answers nothing.
Reply ForwardToUpstream(int upstreamPort, const Request& request);

}  // namespace strata::loopback

#endif  // STRATA_TOOLS_LOOPBACK_LATENCY_PROXY_H_
