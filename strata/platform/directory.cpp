#include "strata/platform/directory.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include <unistd.h>

namespace strata::platform {

namespace fs = std::filesystem;

std::string ResolvedPath(const std::string& path) {
  std::error_code error;
  const fs::path resolved = fs::canonical(path, error);
  return error ? std::string() : resolved.string();
}

bool IsDirectory(const std::string& path) {
  std::error_code error;
  return fs::is_directory(path, error);
}

bool IsRegularFile(const std::string& path) {
  std::error_code error;
  return fs::is_regular_file(path, error);
}

bool IsReadOnlyFile(const std::string& path) {
  std::error_code error;
  const fs::perms permissions = fs::status(path, error).permissions();
  if (error) return false;
  const fs::perms anyWrite =
      fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  return (permissions & anyWrite) == fs::perms::none || ::access(path.c_str(), W_OK) != 0;
}

bool IsSameFile(const std::string& first, const std::string& second) {
  std::error_code error;
  return fs::equivalent(first, second, error) && !error;
}

bool CreateDirectory(const std::string& path) {
  std::error_code error;
  fs::create_directory(path, error);
  return !error && fs::is_directory(path, error);
}

std::vector<std::string> DirectoryEntries(const std::string& path) {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator entry(path, error), end; !error && entry != end;
       entry.increment(error)) {
    names.push_back(entry->path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace strata::platform
