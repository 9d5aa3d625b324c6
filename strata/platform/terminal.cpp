#include "strata/platform/terminal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace strata::platform {

bool IsTerminal(std::FILE* stream) {
  return stream != nullptr && isatty(fileno(stream)) == 1;
}

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

}  // namespace strata::platform
