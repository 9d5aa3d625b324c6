#include "strata/platform/debug_output.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace strata::platform {

bool DebugOutputEnabled() {
  // Read once: the setting belongs to the process, not to a call.
  static const bool enabled = std::getenv("STRATA_DEBUG") != nullptr;
  return enabled;
}

void DebugOutput(const char* text) {
  if (!DebugOutputEnabled() || text == nullptr) return;
  std::fputs(text, stderr);
}

void DebugPrintf(const char* format, ...) {
  if (!DebugOutputEnabled()) return;
  char line[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  std::fputs(line, stderr);
}

}  // namespace strata::platform
