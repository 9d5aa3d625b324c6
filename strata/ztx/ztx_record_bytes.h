// Little-endian byte records as the ZTX format stores them: fields packed one
// after another with no padding.
#ifndef STRATA_ZTX_ZTX_RECORD_BYTES_H_
#define STRATA_ZTX_ZTX_RECORD_BYTES_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace strata::ztx {

// Builds a record by placing fields at fixed offsets; bytes that no field
// covers stay zero.
class RecordBytes {
 public:
  explicit RecordBytes(std::size_t size) : bytes_(size, 0) {}

  void PutU32(std::size_t offset, std::uint32_t value) { PutLittleEndian(offset, value, 4); }
  void PutI32(std::size_t offset, std::int32_t value) {
    PutLittleEndian(offset, static_cast<std::uint32_t>(value), 4);
  }
  void PutI64(std::size_t offset, std::int64_t value) {
    PutLittleEndian(offset, static_cast<std::uint64_t>(value), 8);
  }
  void PutF32(std::size_t offset, float value) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    PutU32(offset, bits);
  }
  void PutF64(std::size_t offset, double value) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    PutLittleEndian(offset, bits, 8);
  }
  void PutBytes(std::size_t offset, const void* data, std::size_t size) {
    if (size > 0) std::memcpy(bytes_.data() + offset, data, size);
  }

  const std::vector<unsigned char>& bytes() const { return bytes_; }
  std::vector<unsigned char>& bytes() { return bytes_; }

 private:
  void PutLittleEndian(std::size_t offset, std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i) {
      bytes_.at(offset + static_cast<std::size_t>(i)) =
          static_cast<unsigned char>(value >> (8 * i));
    }
  }

  std::vector<unsigned char> bytes_;
};

}  // namespace strata::ztx

#endif  // STRATA_ZTX_ZTX_RECORD_BYTES_H_
