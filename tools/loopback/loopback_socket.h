// Sockets on 127.0.0.1 for the loopback servers and their clients.
#ifndef STRATA_TOOLS_LOOPBACK_LOOPBACK_SOCKET_H_
#define STRATA_TOOLS_LOOPBACK_LOOPBACK_SOCKET_H_

#include <string>

namespace strata::loopback {

// A socket bound to a free port on 127.0.0.1, listening with `backlog` when
// that is above 0; its port number goes to `port`. -1 when that fails.
int BindLoopback(int backlog, int* port);

// A loopback port that was free a moment ago.
int FreeLoopbackPort();

// A connected socket to `port` on 127.0.0.1, or -1.
int ConnectLoopback(int port);

// Sends all of `bytes`; false when the peer is gone first.
bool SendAll(int fd, const std::string& bytes);

}  // namespace strata::loopback

#endif  // STRATA_TOOLS_LOOPBACK_LOOPBACK_SOCKET_H_
