// Byte-range readers: the one way slide formats reach their bytes, whether
// the slide is a local file or an object behind an HTTP server.
#ifndef STRATA_MODEL_FILE_OPERATION_TOOL_H_
#define STRATA_MODEL_FILE_OPERATION_TOOL_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "strata/model/byte_buffer.h"
#include "strata/platform/lock.h"

// Bytes offset .. offset + length - 1 of a byte source.
struct ByteRange {
  std::uint64_t offset;
  std::uint64_t length;
};

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
  // Reads up to `length` bytes at `offset` straight into `destination`;
  // `delivered` counts the bytes that arrived (fewer at the end of the
  // source). On failure, or beyond what was delivered, the destination's
  // bytes are unspecified. The base reads through Read and copies.
  virtual bool ReadInto(std::uint64_t offset, std::size_t length, unsigned char* destination,
                        std::size_t& delivered);
  // Delivers exactly `length` bytes at `offset` to `destination`, or returns
  // false and leaves the destination as it was. The base reads into scratch
  // memory and copies; a reader that knows a read is whole may land it in place.
  virtual bool ReadWhole(std::uint64_t offset, std::size_t length, unsigned char* destination);
  // Announces ranges that reads will ask for soon, so that a reader may
  // fetch them ahead (together, in parallel) and serve the reads from memory.
  // Only advice: results never depend on it. The base does nothing.
  virtual void Prefetch(const std::vector<ByteRange>& ranges);
  // Size of the byte source in bytes, -1 when it cannot be told (an HTTP
  // object, a closed reader). Lets parsers refuse sizes a file cannot hold.
  virtual std::int64_t Size();

 protected:
  // Runs `read` (into the given memory, counting what it delivered) on
  // scratch memory of `length` bytes, and copies only a whole answer to
  // `destination`.
  static bool ReadWholeThroughScratch(
      std::size_t length, unsigned char* destination,
      const std::function<bool(unsigned char*, std::size_t&)>& read);
  // The reader's lock, held around one positioned read.
  strata::platform::Lock& ReaderLock() { return lock_; }

 private:
  strata::platform::Lock lock_;
};

// The ranges sorted by offset, with ranges that overlap, touch or lie at
// most `gap` bytes apart joined, as long as a joined range stays within
// `maxLength` bytes (a single longer range stays as it is). Empty ranges and
// ranges that end past 2^63 are left out.
std::vector<ByteRange> MergeByteRanges(std::vector<ByteRange> ranges, std::uint64_t gap,
                                       std::uint64_t maxLength);

// A new reader for `path`: the HTTP reader when the path contains "http://"
// anywhere (case-sensitive), the local-file reader otherwise; null for a null
// path. The caller owns it. Defined beside CDataFile::OpenFile, its caller,
// so that this interface knows none of its implementations.
CFileOperationTool* CreateFileOperationTool(const char* path);

#endif  // STRATA_MODEL_FILE_OPERATION_TOOL_H_
