#include "strata/model/file_operation_tool.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

CFileOperationTool::~CFileOperationTool() = default;

bool CFileOperationTool::Read(std::uint64_t, int, ByteBuffer*) { return false; }
bool CFileOperationTool::Open(const char*) { return true; }
bool CFileOperationTool::Close() { return true; }
std::int64_t CFileOperationTool::Size() { return -1; }
void CFileOperationTool::Prefetch(const std::vector<ByteRange>&) {}

bool CFileOperationTool::ReadInto(std::uint64_t offset, std::size_t length,
                                  unsigned char* destination, std::size_t& delivered) {
  delivered = 0;
  if (length > static_cast<std::size_t>(std::numeric_limits<int>::max())) return false;
  ByteBuffer buffer;
  if (!Read(offset, static_cast<int>(length), &buffer)) return false;
  delivered = buffer.Filled();
  if (delivered > 0) std::memcpy(destination, buffer.Storage(), delivered);
  return true;
}

bool CFileOperationTool::ReadWhole(std::uint64_t offset, std::size_t length,
                                   unsigned char* destination) {
  return ReadWholeThroughScratch(length, destination,
                                 [&](unsigned char* scratch, std::size_t& delivered) {
                                   return ReadInto(offset, length, scratch, delivered);
                                 });
}

bool CFileOperationTool::ReadWholeThroughScratch(
    std::size_t length, unsigned char* destination,
    const std::function<bool(unsigned char*, std::size_t&)>& read) {
  std::unique_ptr<unsigned char[]> scratch(new (std::nothrow) unsigned char[length]);
  std::size_t delivered = 0;
  if (scratch == nullptr || !read(scratch.get(), delivered) || delivered != length) return false;
  std::memcpy(destination, scratch.get(), length);
  return true;
}

std::vector<ByteRange> MergeByteRanges(std::vector<ByteRange> ranges, std::uint64_t gap,
                                       std::uint64_t maxLength) {
  constexpr auto kLastByte = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  ranges.erase(std::remove_if(ranges.begin(), ranges.end(),
                              [](const ByteRange& range) {
                                return range.length == 0 || range.offset > kLastByte ||
                                       range.length > kLastByte - range.offset;
                              }),
               ranges.end());
  std::sort(ranges.begin(), ranges.end(),
            [](const ByteRange& a, const ByteRange& b) { return a.offset < b.offset; });
  std::vector<ByteRange> merged;
  for (const ByteRange& range : ranges) {
    if (!merged.empty()) {
      ByteRange& last = merged.back();
      const std::uint64_t lastEnd = last.offset + last.length;
      const std::uint64_t end = std::max(lastEnd, range.offset + range.length);
      if (range.offset <= lastEnd + gap && end - last.offset <= maxLength) {
        last.length = end - last.offset;
        continue;
      }
    }
    merged.push_back(range);
  }
  return merged;
}
