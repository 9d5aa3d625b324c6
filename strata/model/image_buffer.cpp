#include "strata/model/image_buffer.h"

#include <cstring>
#include <new>

namespace strata {

unsigned char* AllocateBuffer(std::size_t size) {
  if (size == 0 || size > kMaxBufferBytes) return nullptr;
  return new (std::nothrow) unsigned char[size];
}

unsigned char* AllocateFilledBuffer(std::size_t size, unsigned char value) {
  unsigned char* buffer = AllocateBuffer(size);
  if (buffer != nullptr) std::memset(buffer, value, size);
  return buffer;
}

void ReleaseBuffer(void* buffer) { delete[] static_cast<unsigned char*>(buffer); }

bool CheckedPixelBytes(std::int64_t width, std::int64_t height, std::int64_t channels,
                       std::size_t& bytes) {
  bytes = 0;
  if (width < 0 || height < 0 || channels < 0) return false;
  const unsigned __int128 product = static_cast<unsigned __int128>(width) *
                                    static_cast<unsigned __int128>(height) *
                                    static_cast<unsigned __int128>(channels);
  if (product > kMaxBufferBytes) return false;
  bytes = static_cast<std::size_t>(product);
  return true;
}

}  // namespace strata
