// The record a byte-range read fills. Records are decoded from it field by
// field in file order; it knows how many bytes the read actually delivered,
// so a take past them fails instead of reading beyond the data.
#ifndef STRATA_MODEL_BYTE_BUFFER_H_
#define STRATA_MODEL_BYTE_BUFFER_H_

#include <cstddef>
#include <cstdint>

class ByteBuffer {
 public:
  ByteBuffer() = default;  // init: no storage, no cursor
  ~ByteBuffer() { Release(); }
  ByteBuffer(const ByteBuffer&) = delete;
  ByteBuffer& operator=(const ByteBuffer&) = delete;

  // Takes ownership of `storage` (allocated with new[] of `capacity` bytes),
  // of which the first `filled` bytes hold data. Any earlier storage is
  // released first.
  void Attach(unsigned char* storage, std::size_t capacity, std::size_t filled);
  void Attach(unsigned char* storage, std::size_t size) { Attach(storage, size, size); }

  // Returns the cursor and advances it by size * count bytes, or returns null
  // (and marks the buffer failed) when that many bytes were not delivered.
  const unsigned char* Take(std::size_t size, std::size_t count);

  // Typed takes of little-endian fields: false (value 0, buffer failed) when
  // the field was not delivered.
  bool TakeU32(std::uint32_t& value);
  bool TakeI32(std::int32_t& value);
  bool TakeI64(std::int64_t& value);
  bool TakeF32(float& value);
  // A 32-bit field widened to 64 bits.
  bool TakeI32AsI64(std::int64_t& value);
  bool Skip(std::size_t bytes) { return Take(1, bytes) != nullptr; }
  // Moves the cursor forward to `position`; false when it lies behind the
  // cursor or beyond the delivered bytes.
  bool SkipTo(std::size_t position);

  // Looks at the next `size` bytes without advancing; null if not delivered.
  unsigned char* Peek(std::size_t size);

  // Frees the storage; the buffer is empty again.
  void Release();

  // Gives up ownership of the storage and empties the buffer.
  unsigned char* Detach();

  unsigned char* Storage() const { return storage_; }
  std::size_t Capacity() const { return capacity_; }
  std::size_t Filled() const { return filled_; }
  std::size_t Consumed() const { return position_; }
  std::size_t Remaining() const { return filled_ - position_; }
  bool HasStorage() const { return storage_ != nullptr; }
  // True once any take ran past the delivered bytes.
  bool Failed() const { return failed_; }

 private:
  unsigned char* storage_ = nullptr;
  std::size_t capacity_ = 0;
  std::size_t filled_ = 0;
  std::size_t position_ = 0;
  bool failed_ = false;
};

// Little-endian decoding, the byte order of every stored record.
std::uint32_t LoadLittleEndian32(const unsigned char* bytes);
std::uint64_t LoadLittleEndian64(const unsigned char* bytes);

#endif  // STRATA_MODEL_BYTE_BUFFER_H_
