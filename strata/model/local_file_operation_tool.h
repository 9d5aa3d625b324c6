// Byte-range reader over a local file: each read is one 64-bit positioned
// read (the stream position is not used), taken under the reader's lock.
#ifndef STRATA_MODEL_LOCAL_FILE_OPERATION_TOOL_H_
#define STRATA_MODEL_LOCAL_FILE_OPERATION_TOOL_H_

#include "strata/model/file_operation_tool.h"
#include "strata/platform/file_io.h"

class CLocalFileOperationTool : public CFileOperationTool {
 public:
  CLocalFileOperationTool() = default;
  // Does not close the stream: the owning slide closes it through CloseFile.
  // A stream still open here is closed so that nothing leaks.
  ~CLocalFileOperationTool() override;

  // A read past the end of the file succeeds with no bytes delivered; the
  // array is zero-filled beyond what was read.
  bool Read(std::uint64_t offset, int length, ByteBuffer* buffer) override;
  bool ReadInto(std::uint64_t offset, std::size_t length, unsigned char* destination,
                std::size_t& delivered) override;
  // Inside the file's size at open a read cannot come back short, so it
  // lands in the destination directly; elsewhere through scratch memory.
  bool ReadWhole(std::uint64_t offset, std::size_t length, unsigned char* destination) override;
  // Asks the system to bring the ranges into the page cache.
  void Prefetch(const std::vector<ByteRange>& ranges) override;
  bool Open(const char* path) override;
  bool Close() override;
  std::int64_t Size() override;

 private:
  strata::platform::OwnedStream stream_;
  std::int64_t sizeAtOpen_ = -1;
};

#endif  // STRATA_MODEL_LOCAL_FILE_OPERATION_TOOL_H_
