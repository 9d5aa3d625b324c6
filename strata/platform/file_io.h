// Files: opening C streams, 64-bit positioning, existence and size checks,
// local time. Everything the library does with the file system goes here.
#ifndef STRATA_PLATFORM_FILE_IO_H_
#define STRATA_PLATFORM_FILE_IO_H_

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>

namespace strata::platform {

// Owns a C stream: closed when the owner goes.
struct StreamClose {
  void operator()(std::FILE* stream) const;
};
using OwnedStream = std::unique_ptr<std::FILE, StreamClose>;

// Flushes and closes an owned stream that was written to; true when its
// buffered bytes reached the file. The owner is empty afterwards.
bool FinishStream(OwnedStream& stream);

// fopen with close-on-exec; null on failure. Streams opened for reading only
// are unbuffered, so that each positioned read is a single system read.
std::FILE* OpenStream(const char* path, const char* mode);

// 64-bit seek (origin SEEK_SET, SEEK_CUR or SEEK_END); false on failure.
bool Seek64(std::FILE* stream, std::int64_t offset, int origin);

// Reads up to `size` bytes at `offset` in one positioned read (the stream's
// own position is not used); `delivered` counts the bytes read, fewer at the
// end of the file. False on an I/O error.
bool ReadAt(std::FILE* stream, std::int64_t offset, void* buffer, std::size_t size,
            std::size_t& delivered);

// Tells the system that the bytes will be read soon, so that it may start
// fetching them from the disk; does nothing where that is not offered.
void AdviseWillNeed(std::FILE* stream, std::int64_t offset, std::int64_t length);

// Writes all `size` bytes at `offset` in positioned writes, past the stream's
// buffer (flush it first if it holds writes). False on an I/O error.
bool WriteAt(std::FILE* stream, std::int64_t offset, const void* data, std::size_t size);

// Flushes the stream's buffer and asks the system to put the file's bytes on
// the disk (fsync). False when either fails.
bool SyncStream(std::FILE* stream);

// Makes a rename or removal in the folder holding `path` durable.
bool SyncFolderOf(const std::string& path);

// Current 64-bit position, -1 on failure.
std::int64_t Tell64(std::FILE* stream);

bool FileExists(const std::string& path);

// Size of a regular file in bytes, -1 when it cannot be told.
std::int64_t FileSize(const std::string& path);

// Renames a file, replacing the target; false on failure.
bool RenameFile(const std::string& from, const std::string& to);

bool RemoveFile(const std::string& path);

// Seconds since 1970 to the machine's local calendar time; false on failure.
bool ToLocalTime(std::int64_t secondsSinceEpoch, std::tm& out);
// The same moment in UTC.
bool ToUniversalTime(std::int64_t secondsSinceEpoch, std::tm& out);

// The value of an environment variable, or null.
const char* EnvironmentValue(const char* name);
// Sets or removes an environment variable of this process (tests choose
// run-time libraries with them); false on failure.
bool SetEnvironmentValue(const char* name, const char* value);
bool UnsetEnvironmentValue(const char* name);

}  // namespace strata::platform

#endif  // STRATA_PLATFORM_FILE_IO_H_
