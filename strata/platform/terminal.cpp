#include "strata/platform/terminal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace strata::platform {

bool IsTerminal(std::FILE* stream) { return stream != nullptr && isatty(fileno(stream)) == 1; }

std::string CreateUniqueFile(const std::string& prefix) {
  std::vector<char> name(prefix.begin(), prefix.end());
  const char suffix[] = "XXXXXX";
  name.insert(name.end(), suffix, suffix + sizeof(suffix));  // with the terminator
  const int descriptor = mkostemp(name.data(), O_CLOEXEC);
  if (descriptor < 0) return std::string();
  // mkstemp creates the file private; give it the permissions of an ordinary new file.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(descriptor, 0666 & ~mask);
  close(descriptor);
  return std::string(name.data());
}

namespace {

// The handler may only use async-signal-safe calls: the name lives in a
// fixed buffer and is removed with unlink.
char interruptVictim[4096];
volatile std::sig_atomic_t haveInterruptVictim = 0;

extern "C" void RemoveVictimAndReraise(int signalNumber) {
  if (haveInterruptVictim != 0) unlink(interruptVictim);
  std::signal(signalNumber, SIG_DFL);
  std::raise(signalNumber);
}

}  // namespace

void RemoveFileOnInterrupt(const std::string& path) {
  haveInterruptVictim = 0;
  if (path.empty() || path.size() >= sizeof interruptVictim) return;
  std::memcpy(interruptVictim, path.c_str(), path.size() + 1);
  haveInterruptVictim = 1;
  for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
    std::signal(signalNumber, RemoveVictimAndReraise);
  }
}

}  // namespace strata::platform
