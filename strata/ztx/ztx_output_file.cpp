#include "strata/ztx/ztx_output_file.h"

#include <cerrno>
#include <cstring>

#include "strata/platform/file_io.h"

namespace strata::ztx {

bool OutputFile::Fail(const std::string& what, std::string* error) const {
  if (error != nullptr) {
    *error = what + " " + path_ + (errno != 0 ? std::string(": ") + std::strerror(errno) : "");
  }
  return false;
}

bool OutputFile::Create(const std::string& path, std::string* error) {
  path_ = path;
  errno = 0;
  stream_.reset(platform::OpenStream(path.c_str(), "wb"));
  if (stream_ == nullptr) return Fail("cannot create", error);
  position_ = 0;
  return true;
}

bool OutputFile::WriteAt(std::int64_t position, const std::vector<unsigned char>& bytes,
                         std::string* error) {
  return WriteAt(position, bytes.data(), bytes.size(), error);
}

bool OutputFile::WriteAt(std::int64_t position, const unsigned char* data, std::size_t size,
                         std::string* error) {
  errno = 0;
  if (stream_ == nullptr) return Fail("cannot write", error);
  if (position != position_) {
    if (!platform::Seek64(stream_.get(), position, SEEK_SET)) return Fail("cannot seek in", error);
    position_ = position;
  }
  if (size > 0 && std::fwrite(data, 1, size, stream_.get()) != size) {
    return Fail("cannot write", error);
  }
  position_ += static_cast<std::int64_t>(size);
  return true;
}

bool OutputFile::Close(std::string* error) {
  errno = 0;
  if (!platform::FinishStream(stream_)) return Fail("cannot write", error);
  return true;
}

}  // namespace strata::ztx
