#include "tools/serve/static_files.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "strata/slide/system.h"

namespace strata::tools::serve {
namespace {

constexpr const char* kViewerBuild = "node_modules/openseadragon/build/openseadragon";

std::string ContentTypeOf(const std::string& name) {
  const std::size_t dot = name.find_last_of('.');
  const std::string extension = dot == std::string::npos ? "" : name.substr(dot + 1);
  if (extension == "js") return "text/javascript; charset=utf-8";
  if (extension == "css") return "text/css; charset=utf-8";
  if (extension == "png") return "image/png";
  if (extension == "svg") return "image/svg+xml";
  return "application/octet-stream";
}

bool ReadWholeFile(const std::string& path, std::string* bytes) {
  std::ifstream stream(path, std::ios::binary);
  if (!stream) return false;
  std::ostringstream contents;
  contents << stream.rdbuf();
  *bytes = contents.str();
  return static_cast<bool>(stream) || stream.eof();
}

}  // namespace

std::string EntityTag(const std::string& bytes) {
  std::uint64_t hash = 1469598103934665603ull;
  for (unsigned char c : bytes) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  char text[24];
  std::snprintf(text, sizeof text, "\"%016llx\"", static_cast<unsigned long long>(hash));
  return text;
}

std::string DefaultWebRoot() {
  const char* configured = system::EnvironmentValue("STRATA_WEB_DIR");
  if (configured != nullptr && configured[0] != '\0') return configured;
  static const char kAnchor = 0;
  const std::string programDirectory = system::DirectoryOfAddress(&kAnchor);
  const std::string installed = programDirectory + "/" + STRATA_INSTALLED_WEB_DIR;
  if (!programDirectory.empty() && system::FileExists(installed + "/viewer.js")) return installed;
  return STRATA_SOURCE_WEB_DIR;
}

bool StaticFiles::AddFile(const std::string& name, const std::string& path) {
  StaticFile file;
  if (!ReadWholeFile(path, &file.bytes)) return false;
  file.contentType = ContentTypeOf(name);
  file.etag = EntityTag(file.bytes);
  files_[name] = std::move(file);
  return true;
}

bool StaticFiles::Load(const std::string& webRoot, std::string* error) {
  const std::string build = webRoot + "/" + kViewerBuild;
  const struct {
    const char* name;
    std::string path;
  } required[] = {
      {"viewer.js", webRoot + "/viewer.js"},
      {"viewer.css", webRoot + "/viewer.css"},
      {"openseadragon/openseadragon.min.js", build + "/openseadragon.min.js"},
  };
  for (const auto& file : required) {
    if (!AddFile(file.name, file.path)) {
      *error = "cannot read " + file.path + " (scripts/install-deps installs the web packages)";
      return false;
    }
  }
  // The pages' other scripts and styles: every one at the top of web/.
  for (const std::string& name : system::DirectoryEntries(webRoot)) {
    if (name.empty() || name[0] == '.' || files_.count(name) != 0) continue;
    const std::string type = ContentTypeOf(name);
    if (type.rfind("text/", 0) != 0) continue;
    if (!AddFile(name, webRoot + "/" + name)) {
      *error = "cannot read " + webRoot + "/" + name;
      return false;
    }
  }
  for (const std::string& image : system::DirectoryEntries(build + "/images")) {
    if (image.empty() || image[0] == '.') continue;
    AddFile("openseadragon/images/" + image, build + "/images/" + image);
  }
  return true;
}

const StaticFile* StaticFiles::Find(const std::string& name) const {
  const auto found = files_.find(name);
  return found == files_.end() ? nullptr : &found->second;
}

}  // namespace strata::tools::serve
