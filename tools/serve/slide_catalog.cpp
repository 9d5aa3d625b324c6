#include "tools/serve/slide_catalog.h"

#include <algorithm>
#include <memory>

#include "strata/interface/image_operation_manager.h"
#include "strata/model/data_file.h"
#include "strata/platform/directory.h"

namespace strata::tools::serve {
namespace {

constexpr std::size_t kMaxNameLength = 512;
constexpr int kMaxFolderDepth = 4;
constexpr std::size_t kMaxListedSlides = 10000;

bool IsUrl(const std::string& entry) {
  return entry.rfind("http://", 0) == 0 || entry.rfind("https://", 0) == 0;
}

std::string LastPart(const std::string& text) {
  std::string trimmed = text.substr(0, text.find_first_of("?#"));
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  const std::size_t slash = trimmed.find_last_of('/');
  return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

}  // namespace

bool IsSafeSlideName(const std::string& name) {
  if (name.empty() || name.size() > kMaxNameLength || name.front() == '/' || name.back() == '/') {
    return false;
  }
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F || c == '\\') return false;
  }
  std::size_t start = 0;
  while (start <= name.size()) {
    const std::size_t end = std::min(name.find('/', start), name.size());
    const std::string part = name.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") return false;
    start = end + 1;
  }
  return true;
}

bool IsSlidePath(const std::string& path) {
  std::unique_ptr<CDataFile> slide(CImageOperationManager::CreateDataFile(path.c_str()));
  return slide != nullptr;
}

bool SlideCatalog::Add(const std::string& entry, std::string* error) {
  std::string name;
  if (IsUrl(entry)) {
    name = LastPart(entry);
    if (!IsSafeSlideName(name) || !IsSlidePath(name)) {
      *error = entry + ": not the URL of a slide file";
      return false;
    }
  } else if (platform::IsDirectory(entry)) {
    folders_.push_back(Folder{platform::ResolvedPath(entry)});
    return true;
  } else if (platform::IsRegularFile(entry)) {
    name = LastPart(entry);
    if (!IsSlidePath(entry)) {
      *error = entry + ": not a slide file of a known format";
      return false;
    }
  } else {
    *error = entry + ": no such file or folder";
    return false;
  }
  // Two files of one name: the later ones get a number.
  std::string unique = name;
  for (int copy = 2; files_.count(unique) != 0; ++copy) unique = name + "~" + std::to_string(copy);
  files_[unique] = entry;
  return true;
}

bool SlideCatalog::Inside(const Folder& folder, const std::string& resolved) const {
  return resolved.size() > folder.root.size() + 1 &&
         resolved.compare(0, folder.root.size(), folder.root) == 0 &&
         resolved[folder.root.size()] == '/';
}

Lookup SlideCatalog::Resolve(const std::string& name, std::string* path) const {
  if (!IsSafeSlideName(name)) return Lookup::kRefused;
  const auto file = files_.find(name);
  if (file != files_.end()) {
    *path = file->second;
    return Lookup::kFound;
  }
  Lookup result = Lookup::kUnknown;
  for (const Folder& folder : folders_) {
    const std::string candidate = folder.root + "/" + name;
    if (!platform::IsRegularFile(candidate)) continue;
    const std::string resolved = platform::ResolvedPath(candidate);
    if (!Inside(folder, resolved)) {
      result = Lookup::kRefused;  // a link out of the folder
      continue;
    }
    if (!IsSlidePath(candidate)) continue;
    *path = resolved;
    return Lookup::kFound;
  }
  return result;
}

void SlideCatalog::ListFolder(const std::string& root, const std::string& prefix, int depth,
                              std::vector<std::string>* names) const {
  for (const std::string& entry : platform::DirectoryEntries(root + "/" + prefix)) {
    if (names->size() >= kMaxListedSlides) return;
    if (entry.empty() || entry[0] == '.') continue;
    const std::string name = prefix.empty() ? entry : prefix + "/" + entry;
    const std::string full = root + "/" + name;
    if (platform::IsDirectory(full)) {
      if (depth < kMaxFolderDepth) ListFolder(root, name, depth + 1, names);
      continue;
    }
    std::string path;
    if (IsSlidePath(full) && Resolve(name, &path) == Lookup::kFound) names->push_back(name);
  }
}

std::vector<std::string> SlideCatalog::Names() const {
  std::vector<std::string> names;
  for (const auto& file : files_) names.push_back(file.first);
  for (const Folder& folder : folders_) ListFolder(folder.root, "", 1, &names);
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

}  // namespace strata::tools::serve
