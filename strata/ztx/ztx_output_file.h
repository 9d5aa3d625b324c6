// A file being written, with positioned writes and one-line error texts.
#ifndef STRATA_ZTX_ZTX_OUTPUT_FILE_H_
#define STRATA_ZTX_ZTX_OUTPUT_FILE_H_

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "strata/platform/file_io.h"

namespace strata::ztx {

class OutputFile {
 public:
  // Creates (or truncates) the file; false with *error set when it cannot.
  bool Create(const std::string& path, std::string* error);
  bool WriteAt(std::int64_t position, const std::vector<unsigned char>& bytes, std::string* error);
  bool WriteAt(std::int64_t position, const unsigned char* data, std::size_t size,
               std::string* error);
  // Flushes and closes; a failed flush means the data did not reach the file.
  bool Close(std::string* error);

 private:
  bool Fail(const std::string& what, std::string* error) const;

  std::string path_;
  platform::OwnedStream stream_;
  std::int64_t position_ = -1;
};

}  // namespace strata::ztx

#endif  // STRATA_ZTX_ZTX_OUTPUT_FILE_H_
