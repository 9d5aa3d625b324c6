#include "strata/model/byte_buffer.h"

#include <cstring>

void ByteBuffer::Attach(unsigned char* storage, std::size_t capacity, std::size_t filled) {
  Release();
  storage_ = storage;
  capacity_ = storage == nullptr ? 0 : capacity;
  filled_ = filled > capacity_ ? capacity_ : filled;
  position_ = 0;
  failed_ = false;
}

const unsigned char* ByteBuffer::Take(std::size_t size, std::size_t count) {
  if (storage_ == nullptr || (count != 0 && size > (filled_ - position_) / count)) {
    failed_ = true;
    return nullptr;
  }
  const unsigned char* cursor = storage_ + position_;
  position_ += size * count;
  return cursor;
}

unsigned char* ByteBuffer::Peek(std::size_t size) {
  if (storage_ == nullptr || size > filled_ - position_) return nullptr;
  return storage_ + position_;
}

void ByteBuffer::Release() {
  delete[] storage_;
  storage_ = nullptr;
  capacity_ = filled_ = position_ = 0;
  failed_ = false;
}

unsigned char* ByteBuffer::Detach() {
  unsigned char* storage = storage_;
  storage_ = nullptr;
  capacity_ = filled_ = position_ = 0;
  failed_ = false;
  return storage;
}

bool ByteBuffer::TakeU32(std::uint32_t& value) {
  const unsigned char* bytes = Take(4, 1);
  value = bytes == nullptr ? 0 : LoadLittleEndian32(bytes);
  return bytes != nullptr;
}

bool ByteBuffer::TakeI32(std::int32_t& value) {
  std::uint32_t bits = 0;
  const bool taken = TakeU32(bits);
  value = static_cast<std::int32_t>(bits);
  return taken;
}

bool ByteBuffer::TakeI64(std::int64_t& value) {
  const unsigned char* bytes = Take(8, 1);
  value = bytes == nullptr ? 0 : static_cast<std::int64_t>(LoadLittleEndian64(bytes));
  return bytes != nullptr;
}

bool ByteBuffer::TakeF32(float& value) {
  std::uint32_t bits = 0;
  const bool taken = TakeU32(bits);
  std::memcpy(&value, &bits, sizeof value);
  return taken;
}

bool ByteBuffer::TakeI32AsI64(std::int64_t& value) {
  std::int32_t narrow = 0;
  const bool taken = TakeI32(narrow);
  value = narrow;
  return taken;
}

bool ByteBuffer::SkipTo(std::size_t position) {
  if (position < position_) {
    failed_ = true;
    return false;
  }
  return Skip(position - position_);
}

std::uint32_t LoadLittleEndian32(const unsigned char* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

std::uint64_t LoadLittleEndian64(const unsigned char* bytes) {
  return static_cast<std::uint64_t>(LoadLittleEndian32(bytes)) |
         static_cast<std::uint64_t>(LoadLittleEndian32(bytes + 4)) << 32;
}
