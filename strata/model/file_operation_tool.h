// Byte-range readers: the one way slide formats reach their bytes, whether
// the slide is a local file or an object behind an HTTP server.
#ifndef STRATA_MODEL_FILE_OPERATION_TOOL_H_
#define STRATA_MODEL_FILE_OPERATION_TOOL_H_

#include <cstdint>
#include <memory>

#include "strata/model/byte_buffer.h"
#include "strata/platform/lock.h"

class CFileOperationTool {
 public:
  virtual ~CFileOperationTool();

  // Reads `length` bytes at `offset` into a fresh array of `length` bytes and
  // attaches it to the (empty) buffer. The buffer records how many bytes were
  // actually delivered; bytes beyond them are zero. False on failure, with the
  // buffer left without storage.
  virtual bool Read(std::uint64_t offset, int length, ByteBuffer* buffer);
  virtual bool Open(const char* path);
  virtual bool Close();
  // Size of the byte source in bytes, -1 when it cannot be told (an HTTP
  // object, a closed reader). Lets parsers refuse sizes a file cannot hold.
  virtual std::int64_t Size();

 protected:
  // The reader's lock, held around one positioned read.
  strata::platform::Lock& ReaderLock() { return lock_; }

 private:
  strata::platform::Lock lock_;
};

// A new reader for `path`: the HTTP reader when the path contains "http://"
// anywhere (case-sensitive), the local-file reader otherwise; null for a null
// path. The caller owns it. Defined beside CDataFile::OpenFile, its caller,
// so that this interface knows none of its implementations.
CFileOperationTool* CreateFileOperationTool(const char* path);

#endif  // STRATA_MODEL_FILE_OPERATION_TOOL_H_
