#include "tools/slide_handle.h"

#include <algorithm>

namespace strata::tools {

std::string CannotOpen(const std::string& path, const std::string& reason) {
  // Reasons that already name the path are not given it twice.
  const std::string prefix = path + ": ";
  const std::string why = reason.rfind(prefix, 0) == 0 ? reason.substr(prefix.size()) : reason;
  return "cannot open " + (path.empty() ? std::string("\"\"") : path) + ": " + why;
}

bool SlideHandle::Open(const std::string& path, std::string* error) {
  if (InitImageFileFunc(&handle_, path.c_str())) return true;
  // The library keeps the reason of this thread's failed open.
  std::string reason(256, '\0');
  int length = GetLastErrorTextFunc(nullptr, reason.data(), static_cast<int>(reason.size()));
  if (length >= static_cast<int>(reason.size())) {
    reason.assign(static_cast<std::size_t>(length) + 1, '\0');
    length = GetLastErrorTextFunc(nullptr, reason.data(), static_cast<int>(reason.size()));
  }
  reason.resize(
      static_cast<std::size_t>(std::max(0, std::min(length, static_cast<int>(reason.size()) - 1))));
  *error = CannotOpen(path, reason.empty() ? "not a slide this library opens" : reason);
  return false;
}

}  // namespace strata::tools
