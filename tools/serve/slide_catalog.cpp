#include "tools/serve/slide_catalog.h"

#include <algorithm>
#include <cctype>

#include "strata/slide.h"
#include "strata/slide/format_registry.h"
#include "strata/slide/system.h"

namespace strata::tools::serve {
namespace {

constexpr std::size_t kMaxNameLength = 512;
constexpr int kMaxFolderDepth = 4;
constexpr std::size_t kMaxListedSlides = 10000;

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

std::string LastPart(const std::string& text) {
  std::string trimmed = text.substr(0, text.find_first_of("?#"));
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  const std::size_t slash = trimmed.find_last_of('/');
  return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

// True when the file name ends in exactly an extension of the format table
// (so "a.ztx-journal" and "a.ztx.geojson" are not slides by name).
bool NamedLikeASlide(const std::string& fileName) {
  const std::size_t dot = fileName.find_last_of('.');
  if (dot == std::string::npos || dot == 0) return false;
  const std::string extension = fileName.substr(dot);
  const FormatEntry* entry = FormatByName(extension.c_str());
  if (entry == nullptr) return false;
  for (const char* name : entry->names) {
    if (name != nullptr && extension == name) return true;
  }
  return false;
}

// Only the ZTX reader reads over HTTP: by the name, else by the first bytes.
bool IsZtxUrl(const std::string& url) {
  const FormatEntry* named = FormatByName(LastPart(url).c_str());
  if (named != nullptr && NamedLikeASlide(LastPart(url))) return std::string(named->format) == "ztx";
  return Slide::DetectFormat(url) == "ztx";
}

bool Inside(const std::string& root, const std::string& resolved) {
  return resolved.size() > root.size() + 1 && resolved.compare(0, root.size(), root) == 0 &&
         resolved[root.size()] == '/';
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

bool IsSlideFile(const std::string& path) {
  return NamedLikeASlide(LastPart(path)) || !Slide::DetectFormat(path).empty();
}

bool NaturalLess(const std::string& a, const std::string& b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const bool aDigit = std::isdigit(static_cast<unsigned char>(a[i])) != 0;
    const bool bDigit = std::isdigit(static_cast<unsigned char>(b[j])) != 0;
    if (aDigit && bDigit) {
      // Numbers compare by value: without leading zeros, the longer is larger.
      while (i < a.size() && a[i] == '0') ++i;
      while (j < b.size() && b[j] == '0') ++j;
      std::size_t aEnd = i, bEnd = j;
      while (aEnd < a.size() && std::isdigit(static_cast<unsigned char>(a[aEnd]))) ++aEnd;
      while (bEnd < b.size() && std::isdigit(static_cast<unsigned char>(b[bEnd]))) ++bEnd;
      if (aEnd - i != bEnd - j) return aEnd - i < bEnd - j;
      const int order = a.compare(i, aEnd - i, b, j, bEnd - j);
      if (order != 0) return order < 0;
      i = aEnd;
      j = bEnd;
      continue;
    }
    const int x = std::tolower(static_cast<unsigned char>(a[i]));
    const int y = std::tolower(static_cast<unsigned char>(b[j]));
    if (x != y) return x < y;
    ++i;
    ++j;
  }
  if (i < a.size() || j < b.size()) return j < b.size();
  return a < b;  // equal but for case or leading zeros
}

bool SlideCatalog::Add(const std::string& entry, std::string* error) {
  std::string name;
  if (StartsWith(entry, "https://")) {
    *error = entry + ": https:// URLs cannot be read; give the slide's http:// URL";
    return false;
  }
  if (StartsWith(entry, "http://")) {
    name = LastPart(entry);
    if (!IsSafeSlideName(name) || !IsZtxUrl(entry)) {
      *error = entry + ": not the URL of a ZTX slide (other slides are read from local files)";
      return false;
    }
  } else if (system::IsDirectory(entry)) {
    folders_.push_back(Folder{system::ResolvedPath(entry)});
    return true;
  } else if (system::IsRegularFile(entry)) {
    name = LastPart(entry);
    if (!IsSlideFile(entry)) {
      // Opening says best why it is not a slide.
      std::unique_ptr<Slide> slide;
      const Status opened = Slide::Open(entry, &slide);
      *error = opened.ok() ? entry + ": not a slide file of a known format" : opened.message();
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

std::string SlideCatalog::SlideInside(const Folder& folder, const std::string& name,
                                      bool* refused) const {
  const std::string candidate = folder.root + "/" + name;
  if (!system::IsRegularFile(candidate)) return "";
  const std::string resolved = system::ResolvedPath(candidate);
  if (!Inside(folder.root, resolved)) {
    *refused = true;  // a link out of the folder
    return "";
  }
  return IsSlideFile(candidate) ? resolved : "";
}

Lookup SlideCatalog::Resolve(const std::string& name, std::string* path) const {
  if (!IsSafeSlideName(name)) return Lookup::kRefused;
  const auto file = files_.find(name);
  if (file != files_.end()) {
    *path = file->second;
    return Lookup::kFound;
  }
  bool refused = false;
  for (const Folder& folder : folders_) {
    const std::string found = SlideInside(folder, name, &refused);
    if (!found.empty()) {
      *path = found;
      return Lookup::kFound;
    }
  }
  return refused ? Lookup::kRefused : Lookup::kUnknown;
}

void SlideCatalog::ListFolder(const Folder& folder, const std::string& prefix, int depth,
                              std::vector<std::string>* names) const {
  for (const std::string& entry : system::DirectoryEntries(folder.root + "/" + prefix)) {
    if (names->size() >= kMaxListedSlides) return;
    if (entry.empty() || entry[0] == '.') continue;
    const std::string name = prefix.empty() ? entry : prefix + "/" + entry;
    if (system::IsDirectory(folder.root + "/" + name)) {
      if (depth < kMaxFolderDepth) ListFolder(folder, name, depth + 1, names);
      continue;
    }
    bool refused = false;
    if (!SlideInside(folder, name, &refused).empty()) names->push_back(name);
  }
}

std::vector<std::string> SlideCatalog::Names() const {
  std::vector<std::string> names;
  for (const auto& file : files_) names.push_back(file.first);
  for (const Folder& folder : folders_) ListFolder(folder, "", 1, &names);
  std::sort(names.begin(), names.end(), NaturalLess);
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

}  // namespace strata::tools::serve
