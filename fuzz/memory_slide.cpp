#include "fuzz/memory_slide.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "strata/model/image_buffer.h"

namespace strata::fuzz {

bool MemoryReader::Read(std::uint64_t offset, int length, ByteBuffer* buffer) {
  if (buffer == nullptr || length < 0) return false;
  const std::size_t capacity = static_cast<std::size_t>(length);
  unsigned char* storage = new (std::nothrow) unsigned char[capacity == 0 ? 1 : capacity]();
  if (storage == nullptr) return false;
  std::size_t filled = 0;
  if (offset < size_)
    filled = std::min<std::size_t>(capacity, size_ - static_cast<std::size_t>(offset));
  if (filled > 0) std::memcpy(storage, data_ + offset, filled);
  buffer->Attach(storage, capacity, filled);
  return true;
}

bool MemoryReader::ReadInto(std::uint64_t offset, std::size_t length, unsigned char* destination,
                            std::size_t& delivered) {
  delivered = 0;
  if (destination == nullptr) return false;
  if (offset < size_) delivered = std::min<std::size_t>(length, size_ - static_cast<std::size_t>(offset));
  if (delivered > 0) std::memcpy(destination, data_ + offset, delivered);
  return true;
}

std::unique_ptr<CZTXDataFile> MemorySlide(const std::uint8_t* data, std::size_t size) {
  auto slide = std::make_unique<CZTXDataFile>();
  slide->SetFileOperationTool(new MemoryReader(data, size));  // the slide owns it
  return slide;
}

void Release(unsigned char*& buffer) {
  ReleaseBuffer(buffer);
  buffer = nullptr;
}

}  // namespace strata::fuzz
