// Which slides the server may serve and under which names: the slide files
// and http:// URLs given on the command line (named by their file name) and
// the slides inside the given folders (named by their path inside the
// folder, with '/' between folders). Nothing outside these is ever opened:
// names with "..", "." or empty parts, absolute names and names whose file
// resolves (through symbolic links) outside its folder are refused.
//
// A file is a slide when its name ends in a slide format's extension or its
// first bytes show one; nothing here opens a slide, so a folder of hundreds
// lists at once.
#ifndef STRATA_TOOLS_SERVE_SLIDE_CATALOG_H_
#define STRATA_TOOLS_SERVE_SLIDE_CATALOG_H_

#include <map>
#include <string>
#include <vector>

namespace strata::tools::serve {

enum class Lookup { kFound, kUnknown, kRefused };

class SlideCatalog {
 public:
  // Adds a slide file, a folder or an http:// URL; false with *error when it
  // is none of these.
  bool Add(const std::string& entry, std::string* error);

  // The path or URL to open for `name`.
  Lookup Resolve(const std::string& name, std::string* path) const;

  // Every name served now (folders are read again), in natural order
  // ("slide 2" before "slide 10").
  std::vector<std::string> Names() const;

 private:
  struct Folder {
    std::string root;  // resolved, without a trailing '/'
  };
  void ListFolder(const Folder& folder, const std::string& prefix, int depth,
                  std::vector<std::string>* names) const;
  // The resolved path of a slide file inside the folder, or "".
  std::string SlideInside(const Folder& folder, const std::string& name, bool* refused) const;

  std::map<std::string, std::string> files_;  // name -> path or URL
  std::vector<Folder> folders_;
};

// True for a name that may be looked up at all (see the class comment).
bool IsSafeSlideName(const std::string& name);

// True when the file (or URL) is a slide by its name's extension or by its
// content.
bool IsSlideFile(const std::string& path);

// True when a sorts before b in natural order: runs of digits compare as
// numbers, letters without regard to case.
bool NaturalLess(const std::string& a, const std::string& b);

}  // namespace strata::tools::serve

#endif  // STRATA_TOOLS_SERVE_SLIDE_CATALOG_H_
