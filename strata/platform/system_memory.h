// Memory statistics of the machine.
#ifndef STRATA_PLATFORM_SYSTEM_MEMORY_H_
#define STRATA_PLATFORM_SYSTEM_MEMORY_H_

#include <cstdint>

namespace strata::platform {

// Available physical memory in bytes (available pages times page size); 0
// when the system does not tell.
std::uint64_t AvailablePhysicalMemoryBytes();

}  // namespace strata::platform

#endif  // STRATA_PLATFORM_SYSTEM_MEMORY_H_
