// Test helpers: a private temporary folder per test and whole-file reads.
#ifndef STRATA_TESTS_SUPPORT_TEST_FILES_H_
#define STRATA_TESTS_SUPPORT_TEST_FILES_H_

#include <cstdint>
#include <string>
#include <vector>

namespace strata::test {

// A fresh folder under the system's temporary directory, removed with its
// contents when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string File(const std::string& name) const;

 private:
  std::string path_;
};

std::vector<unsigned char> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<unsigned char>& bytes);
// FNV-1a 64 of a file's bytes, to show a file did not change.
std::uint64_t FileChecksum(const std::string& path);

}  // namespace strata::test

#endif  // STRATA_TESTS_SUPPORT_TEST_FILES_H_
