#include "strata/model/local_file_operation_tool.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

#include "strata/platform/file_io.h"

CLocalFileOperationTool::~CLocalFileOperationTool() { Close(); }

bool CLocalFileOperationTool::Open(const char* path) {
  if (path == nullptr) return false;
  if (stream_ != nullptr) Close();
  stream_.reset(strata::platform::OpenStream(path, "rb"));
  sizeAtOpen_ = Size();
  return stream_ != nullptr;
}

bool CLocalFileOperationTool::Close() {
  stream_.reset();
  sizeAtOpen_ = -1;
  return true;
}

std::int64_t CLocalFileOperationTool::Size() {
  if (stream_ == nullptr) return -1;
  strata::platform::ScopedLock guard(ReaderLock());
  // Reads are positioned, so moving the stream position here disturbs nothing.
  if (!strata::platform::Seek64(stream_.get(), 0, SEEK_END)) return -1;
  return strata::platform::Tell64(stream_.get());
}

bool CLocalFileOperationTool::Read(std::uint64_t offset, int length, ByteBuffer* buffer) {
  if (stream_ == nullptr || buffer == nullptr || length < 0) return false;
  if (offset > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return false;
  const std::size_t size = static_cast<std::size_t>(length);
  unsigned char* array = new (std::nothrow) unsigned char[size == 0 ? 1 : size];
  if (array == nullptr) return false;
  std::size_t delivered = 0;
  bool ok;
  {
    // One positioned read: the stream position is not shared state.
    strata::platform::ScopedLock guard(ReaderLock());
    ok = strata::platform::ReadAt(stream_.get(), static_cast<std::int64_t>(offset), array, size,
                                  delivered);
  }
  if (!ok) {
    delete[] array;
    return false;
  }
  // Never leave bytes that the file did not deliver uninitialised.
  if (delivered < size) std::memset(array + delivered, 0, size - delivered);
  buffer->Attach(array, size, delivered);
  return true;
}

bool CLocalFileOperationTool::ReadInto(std::uint64_t offset, std::size_t length,
                                       unsigned char* destination, std::size_t& delivered) {
  delivered = 0;
  if (stream_ == nullptr || destination == nullptr) return false;
  if (offset > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return false;
  strata::platform::ScopedLock guard(ReaderLock());
  return strata::platform::ReadAt(stream_.get(), static_cast<std::int64_t>(offset), destination,
                                  length, delivered);
}

bool CLocalFileOperationTool::ReadWhole(std::uint64_t offset, std::size_t length,
                                        unsigned char* destination) {
  const auto size = static_cast<std::uint64_t>(sizeAtOpen_);
  if (sizeAtOpen_ < 0 || offset > size || length > size - offset) {
    return CFileOperationTool::ReadWhole(offset, length, destination);
  }
  std::size_t delivered = 0;
  return ReadInto(offset, length, destination, delivered) && delivered == length;
}

void CLocalFileOperationTool::Prefetch(const std::vector<ByteRange>& ranges) {
  if (stream_ == nullptr) return;
  // Neighbouring tiles become one piece of advice.
  constexpr std::uint64_t kGap = 4096;
  constexpr std::uint64_t kMaxAdvice = 64ULL << 20;
  for (const ByteRange& range : MergeByteRanges(ranges, kGap, kMaxAdvice)) {
    if (range.offset > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) ||
        range.length > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      continue;
    }
    strata::platform::AdviseWillNeed(stream_.get(), static_cast<std::int64_t>(range.offset),
                                     static_cast<std::int64_t>(range.length));
  }
}
