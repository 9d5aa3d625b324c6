#include "tools/pending_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "strata/slide/system.h"

namespace strata::tools {
namespace {

std::string SystemReason() { return errno != 0 ? std::string(": ") + std::strerror(errno) : ""; }

}  // namespace

PendingOutput::~PendingOutput() {
  if (committed_ || temporary_.empty()) return;
  system::RemoveFileOnInterrupt(std::string());
  system::RemoveFile(temporary_);
}

bool PendingOutput::Begin(std::string* error) {
  errno = 0;
  temporary_ = system::CreateUniqueFile(target_ + ".tmp-");
  if (temporary_.empty()) {
    *error = "cannot create a file next to " + target_ + SystemReason();
    return false;
  }
  system::RemoveFileOnInterrupt(temporary_);
  return true;
}

bool PendingOutput::Commit(std::string* error) {
  errno = 0;
  if (!system::RenameFile(temporary_, target_)) {
    *error = "cannot rename " + temporary_ + " to " + target_ + SystemReason();
    return false;
  }
  committed_ = true;
  system::RemoveFileOnInterrupt(std::string());
  return true;
}

bool WriteOutputFile(const std::string& target, const unsigned char* bytes, std::size_t size,
                     std::string* error) {
  PendingOutput output(target);
  if (!output.Begin(error)) return false;
  errno = 0;
  system::OwnedStream stream(system::OpenStream(output.temporaryPath().c_str(), "wb"));
  if (stream == nullptr) {
    *error = "cannot write " + output.temporaryPath() + SystemReason();
    return false;
  }
  const bool written = size == 0 || std::fwrite(bytes, 1, size, stream.get()) == size;
  const bool closed = system::FinishStream(stream);
  if (!written || !closed) {
    *error = "cannot write " + output.temporaryPath() + SystemReason();
    return false;
  }
  return output.Commit(error);
}

}  // namespace strata::tools
