#include "strata/platform/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <cstdlib>
#include <cstring>
#include <string>

namespace strata::platform {

void StreamClose::operator()(std::FILE* stream) const { std::fclose(stream); }

bool FinishStream(OwnedStream& stream) {
  if (stream == nullptr) return true;
  const bool flushed = std::fflush(stream.get()) == 0;
  const bool closed = std::fclose(stream.release()) == 0;
  return flushed && closed;
}

std::FILE* OpenStream(const char* path, const char* mode) {
  if (path == nullptr || mode == nullptr) return nullptr;
  std::string fullMode = mode;
  fullMode += 'e';  // close-on-exec
  std::FILE* stream = std::fopen(path, fullMode.c_str());
  if (stream != nullptr && std::strcmp(mode, "rb") == 0) {
    std::setvbuf(stream, nullptr, _IONBF, 0);
  }
  return stream;
}

bool Seek64(std::FILE* stream, std::int64_t offset, int origin) {
  return stream != nullptr && fseeko(stream, static_cast<off_t>(offset), origin) == 0;
}

bool ReadAt(std::FILE* stream, std::int64_t offset, void* buffer, std::size_t size,
            std::size_t& delivered) {
  delivered = 0;
  if (stream == nullptr || offset < 0) return false;
  const int descriptor = fileno(stream);
  auto* bytes = static_cast<unsigned char*>(buffer);
  while (delivered < size) {
    const ssize_t got = pread(descriptor, bytes + delivered, size - delivered,
                              static_cast<off_t>(offset + static_cast<std::int64_t>(delivered)));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) break;  // end of file
    delivered += static_cast<std::size_t>(got);
  }
  return true;
}

void AdviseWillNeed(std::FILE* stream, std::int64_t offset, std::int64_t length) {
  if (stream == nullptr || offset < 0 || length <= 0) return;
  // Only advice: a kernel that ignores it changes nothing but the speed.
  (void)posix_fadvise(fileno(stream), static_cast<off_t>(offset), static_cast<off_t>(length),
                      POSIX_FADV_WILLNEED);
}

bool WriteAt(std::FILE* stream, std::int64_t offset, const void* data, std::size_t size) {
  if (stream == nullptr || offset < 0) return false;
  const int descriptor = fileno(stream);
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::size_t written = 0;
  while (written < size) {
    const ssize_t put = pwrite(descriptor, bytes + written, size - written,
                               static_cast<off_t>(offset + static_cast<std::int64_t>(written)));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    written += static_cast<std::size_t>(put);
  }
  return true;
}

bool SyncStream(std::FILE* stream) {
  return stream != nullptr && std::fflush(stream) == 0 && fsync(fileno(stream)) == 0;
}

bool SyncFolderOf(const std::string& path) {
  const std::string::size_type slash = path.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const int descriptor = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) return false;
  const bool synced = fsync(descriptor) == 0;
  close(descriptor);
  return synced;
}

std::int64_t Tell64(std::FILE* stream) {
  return stream == nullptr ? -1 : static_cast<std::int64_t>(ftello(stream));
}

bool FileExists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

std::int64_t FileSize(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  return static_cast<std::int64_t>(info.st_size);
}

bool RenameFile(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

bool RemoveFile(const std::string& path) { return std::remove(path.c_str()) == 0; }

bool ToLocalTime(std::int64_t secondsSinceEpoch, std::tm& out) {
  const std::time_t value = static_cast<std::time_t>(secondsSinceEpoch);
  return localtime_r(&value, &out) != nullptr;
}

bool ToUniversalTime(std::int64_t secondsSinceEpoch, std::tm& out) {
  const std::time_t value = static_cast<std::time_t>(secondsSinceEpoch);
  return gmtime_r(&value, &out) != nullptr;
}

const char* EnvironmentValue(const char* name) {
  return name == nullptr ? nullptr : std::getenv(name);
}

bool SetEnvironmentValue(const char* name, const char* value) {
  return name != nullptr && value != nullptr && setenv(name, value, 1) == 0;
}

bool UnsetEnvironmentValue(const char* name) { return name != nullptr && unsetenv(name) == 0; }

}  // namespace strata::platform
