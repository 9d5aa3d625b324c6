#include "strata/model/byte_buffer.h"

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
