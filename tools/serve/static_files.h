// The front-end files the pages load, read into memory once at start: our
// own viewer script and style sheet, and the OpenSeadragon build installed
// by npm. Requests can only name files of this fixed set.
#ifndef STRATA_TOOLS_SERVE_STATIC_FILES_H_
#define STRATA_TOOLS_SERVE_STATIC_FILES_H_

#include <map>
#include <string>

namespace strata::tools::serve {

struct StaticFile {
  std::string contentType;
  std::string bytes;
  std::string etag;
};

class StaticFiles {
 public:
  // Loads from `webRoot` (the project's web/ folder); false with *error when
  // a file the pages need is missing.
  bool Load(const std::string& webRoot, std::string* error);

  // The file served at /static/<name>, or null.
  const StaticFile* Find(const std::string& name) const;

 private:
  bool AddFile(const std::string& name, const std::string& path);

  std::map<std::string, StaticFile> files_;
};

// Where the web/ folder is: $STRATA_WEB_DIR, else the one of the source
// tree this program was built from.
std::string DefaultWebRoot();

// Quoted FNV-1a 64 of the bytes, as an entity tag.
std::string EntityTag(const std::string& bytes);

}  // namespace strata::tools::serve

#endif  // STRATA_TOOLS_SERVE_STATIC_FILES_H_
