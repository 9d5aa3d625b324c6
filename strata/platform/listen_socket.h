// Listening TCP sockets of servers built on a library that opens its sockets
// itself (strata serve on cpp-httplib): the options such a socket gets
// before it binds, and why a listen on an address fails.
#ifndef STRATA_PLATFORM_LISTEN_SOCKET_H_
#define STRATA_PLATFORM_LISTEN_SOCKET_H_

#include <string>

namespace strata::platform {

// Prepares a socket to listen: an address whose old connections still
// linger may be bound again at once, but a port that another server listens
// on is never shared, so that a second server fails to start instead of
// taking turns with the first over the requests.
void PrepareListeningSocket(int socket);

// Why listening on TCP `port` of `host` (an address or a name) fails now,
// in a few words ("the port is already in use", ...); "" when a listen
// there would succeed.
std::string ListenFailure(const std::string& host, int port);

}  // namespace strata::platform

#endif  // STRATA_PLATFORM_LISTEN_SOCKET_H_
