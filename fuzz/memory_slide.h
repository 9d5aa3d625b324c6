// In-memory slides for the fuzz targets: a byte-range reader over the
// fuzzer's input and a ZTX slide object reading through it, so that every
// run stays off the disk.
#ifndef STRATA_FUZZ_MEMORY_SLIDE_H_
#define STRATA_FUZZ_MEMORY_SLIDE_H_

#include <cstddef>
#include <cstdint>
#include <memory>

#include "strata/model/file_operation_tool.h"
#include "strata/ztx/ztx_data_file.h"

namespace strata::fuzz {

// Serves reads from bytes it does not own; tells its size like a local file.
class MemoryReader : public CFileOperationTool {
 public:
  MemoryReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Read(std::uint64_t offset, int length, ByteBuffer* buffer) override;
  // Copies what the input holds, without a buffer of the asked length.
  bool ReadInto(std::uint64_t offset, std::size_t length, unsigned char* destination,
                std::size_t& delivered) override;
  bool Open(const char*) override { return true; }
  bool Close() override { return true; }
  std::int64_t Size() override { return static_cast<std::int64_t>(size_); }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
};

// A ZTX slide object over the bytes, not yet loaded.
std::unique_ptr<CZTXDataFile> MemorySlide(const std::uint8_t* data, std::size_t size);

// Releases a library buffer handed out through an unsigned char** output.
void Release(unsigned char*& buffer);

}  // namespace strata::fuzz

#endif  // STRATA_FUZZ_MEMORY_SLIDE_H_
