#include "strata/platform/system_memory.h"

#include <unistd.h>

namespace strata::platform {

std::uint64_t AvailablePhysicalMemoryBytes() {
  const long pages = sysconf(_SC_AVPHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return 0;
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

}  // namespace strata::platform
