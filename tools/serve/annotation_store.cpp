#include "tools/serve/annotation_store.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "strata/slide/system.h"
#include "tools/serve/geojson_check.h"

namespace strata::tools::serve {
namespace {

using Kind = AnnotationResult::Kind;

constexpr const char* kSuffix = ".geojson";

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string FileNameOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The name without its last extension ("deep/a.ztx" -> "deep/a").
std::string Stem(const std::string& name) {
  const std::size_t dot = name.find_last_of('.');
  const std::size_t slash = name.find_last_of('/');
  if (dot == std::string::npos || dot == 0 || (slash != std::string::npos && dot <= slash + 1)) {
    return name;
  }
  return name.substr(0, dot);
}

bool ResolvesInside(const std::string& path, const std::string& root) {
  const std::string resolved = system::ResolvedPath(path);
  const std::string base = system::ResolvedPath(root);
  if (resolved.empty() || base.empty()) return false;
  const std::string prefix = base == "/" ? base : base + "/";
  return resolved.size() > prefix.size() && resolved.compare(0, prefix.size(), prefix) == 0;
}

std::string SystemReason() { return errno != 0 ? std::string(": ") + std::strerror(errno) : ""; }

// The whole file, or false with *error.
bool ReadWhole(const std::string& path, std::string* bytes, std::string* error) {
  const std::int64_t size = system::FileSize(path);
  if (size < 0) {
    *error = "cannot be read";
    return false;
  }
  *error = AnnotationSizeProblem(static_cast<std::uint64_t>(size));
  if (!error->empty()) return false;
  system::OwnedStream stream(system::OpenStream(path.c_str(), "rb"));
  if (stream == nullptr) {
    *error = "cannot be read";
    return false;
  }
  bytes->assign(static_cast<std::size_t>(size), '\0');
  const std::size_t got = size == 0 ? 0 : std::fread(&(*bytes)[0], 1, bytes->size(), stream.get());
  if (got != bytes->size()) {
    *error = "cannot be read whole";
    return false;
  }
  return true;
}

// Reads and checks an annotations file that exists.
AnnotationResult ReadChecked(const std::string& path, const std::string& root) {
  AnnotationResult result;
  result.file = FileNameOf(path);
  result.kind = Kind::kUnreadable;
  if (!ResolvesInside(path, root)) {
    result.text = result.file + " links outside its folder";
    return result;
  }
  std::string bytes, error;
  if (!ReadWhole(path, &bytes, &error)) {
    result.text = result.file + ": " + error;
    return result;
  }
  const std::string problem = CheckFeatureCollection(bytes);
  if (!problem.empty()) {
    result.text = result.file + ": " + problem;
    return result;
  }
  result.kind = Kind::kDone;
  result.text = std::move(bytes);
  return result;
}

// Writes the bytes to a new file beside `target` and renames it over it.
bool ReplaceAtomically(const std::string& target, const std::string& bytes, std::string* error) {
  errno = 0;
  const std::string temporary =
      system::CreateUniqueFile(FolderOf(target) + "/." + FileNameOf(target) + ".tmp-");
  if (temporary.empty()) {
    *error = "cannot create a file in the folder of " + FileNameOf(target) + SystemReason();
    return false;
  }
  system::OwnedStream stream(system::OpenStream(temporary.c_str(), "wb"));
  bool written =
      stream != nullptr &&
      (bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), stream.get()) == bytes.size()) &&
      system::SyncStream(stream.get());
  written = system::FinishStream(stream) && written;
  if (!written || !system::RenameFile(temporary, target)) {
    *error = "cannot write " + FileNameOf(target) + SystemReason();
    system::RemoveFile(temporary);
    return false;
  }
  system::SyncFolderOf(target);
  return true;
}

}  // namespace

std::vector<AnnotationStore::Place> AnnotationStore::Candidates(const std::string& name,
                                                                const std::string& location,
                                                                std::size_t* writable) const {
  std::vector<Place> places;
  if (!folder_.empty()) {
    places.push_back({folder_ + "/" + name + kSuffix, folder_});
    if (Stem(name) != name) places.push_back({folder_ + "/" + Stem(name) + kSuffix, folder_});
  }
  *writable = places.size();
  if (location.rfind("http://", 0) != 0) {
    const std::string folder = FolderOf(location);
    const std::string file = FileNameOf(location);
    places.push_back({location + kSuffix, folder});
    if (Stem(file) != file) places.push_back({folder + "/" + Stem(file) + kSuffix, folder});
    if (folder_.empty()) *writable = places.size();
  }
  return places;
}

AnnotationResult AnnotationStore::Load(const std::string& name, const std::string& location) const {
  std::size_t writable = 0;
  for (const Place& place : Candidates(name, location, &writable)) {
    if (system::IsRegularFile(place.path)) return ReadChecked(place.path, place.root);
  }
  return AnnotationResult{};
}

bool AnnotationStore::MakeFoldersFor(const std::string& name, std::string* error) const {
  for (std::size_t slash = name.find('/'); slash != std::string::npos;
       slash = name.find('/', slash + 1)) {
    const std::string folder = folder_ + "/" + name.substr(0, slash);
    if (!system::CreateDirectory(folder)) {
      *error = "cannot make the folder " + name.substr(0, slash) + " for annotations";
      return false;
    }
  }
  return true;
}

AnnotationResult AnnotationStore::Save(const std::string& name, const std::string& location,
                                       const std::string& geojson) {
  std::lock_guard<std::mutex> hold(saveMutex_);
  std::size_t writable = 0;
  const std::vector<Place> places = Candidates(name, location, &writable);
  AnnotationResult result;
  if (writable == 0) {
    result.kind = Kind::kNowhere;
    result.text =
        "the slide is read over HTTP: start the server with --annotations DIR to save its "
        "annotations";
    return result;
  }
  const Place* target = &places[0];
  for (std::size_t i = 0; i < writable; ++i) {
    if (system::FileExists(places[i].path)) {
      target = &places[i];
      break;
    }
  }
  result.file = FileNameOf(target->path);
  if (system::FileExists(target->path)) {
    const AnnotationResult existing = ReadChecked(target->path, target->root);
    if (existing.kind != Kind::kDone) {
      result.kind = Kind::kWouldReplace;
      result.text = existing.text + "; move it away to save new annotations";
      return result;
    }
  }
  std::string error;
  if (!folder_.empty() && target->root == folder_ && !MakeFoldersFor(name, &error)) {
    result.kind = Kind::kFailed;
    result.text = error;
    return result;
  }
  // A folder on the way that links elsewhere would take the file out.
  const std::string folder = FolderOf(target->path);
  if (system::ResolvedPath(folder) != system::ResolvedPath(target->root) &&
      !ResolvesInside(folder, target->root)) {
    result.kind = Kind::kNowhere;
    result.text = "the folder of " + result.file + " links outside the annotations folder";
    return result;
  }
  if (!ReplaceAtomically(target->path, geojson, &error)) {
    result.kind = Kind::kFailed;
    result.text = error;
    return result;
  }
  result.kind = Kind::kDone;
  return result;
}

}  // namespace strata::tools::serve
