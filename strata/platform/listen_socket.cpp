#include "strata/platform/listen_socket.h"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace strata::platform {
namespace {

struct AddressListFree {
  void operator()(addrinfo* list) const { freeaddrinfo(list); }
};

std::string ReasonOf(int error) {
  switch (error) {
    case EADDRINUSE: return "the port is already in use (another server listens there)";
    case EACCES: return "permission denied (ports below 1024 need privileges)";
    case EADDRNOTAVAIL: return "the address is not one of this machine's";
    default: return std::strerror(error);
  }
}

}  // namespace

void PrepareListeningSocket(int socket) {
  const int yes = 1;
  setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
}

std::string ListenFailure(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  const int resolved =
      getaddrinfo(host.empty() ? nullptr : host.c_str(), service.c_str(), &hints, &found);
  if (resolved != 0) return std::string("no such address (") + gai_strerror(resolved) + ")";
  const std::unique_ptr<addrinfo, AddressListFree> addresses(found);
  const int descriptor =
      socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC, found->ai_protocol);
  if (descriptor < 0) return ReasonOf(errno);
  PrepareListeningSocket(descriptor);
  int error = 0;
  if (bind(descriptor, found->ai_addr, found->ai_addrlen) != 0 || listen(descriptor, 1) != 0) {
    error = errno;
  }
  close(descriptor);
  return error == 0 ? std::string() : ReasonOf(error);
}

}  // namespace strata::platform
