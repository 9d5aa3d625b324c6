// Placeholder: pixel helpers land here.
#include "strata/model/pixel_ops.h"

#include "strata/platform/system_memory.h"

namespace strata {

unsigned char* CropPixels(const unsigned char*, int, int, int, int, int, int) { return nullptr; }
unsigned char* ResizeBilinear(const unsigned char*, int, int, int, int) { return nullptr; }
unsigned char* InterleavePlanes(const unsigned char*, const unsigned char*, const unsigned char*,
                                int, int) {
  return nullptr;
}
void PastePixels(unsigned char*, int, int, const unsigned char*, int, int, int, int) {}
std::uint64_t AvailableMemoryBytes() { return platform::AvailablePhysicalMemoryBytes(); }

}  // namespace strata
