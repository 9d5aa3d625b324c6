// Where the annotations of a served slide live, and how they are read and
// saved. A slide's annotations are a GeoJSON file (see geojson_check.h)
// found, in this order, in the --annotations folder under the slide's name
// ("deep/a.ztx.geojson", then "deep/a.geojson") and beside the slide file
// ("a.ztx.geojson", then "a.geojson"). A save writes the file the
// annotations were read from when it lies where saves go, else
// "<slide name>.geojson" there: the --annotations folder when one is given,
// else beside the slide. Slides read over HTTP keep annotations only in the
// --annotations folder.
//
// A save replaces the file atomically (a temporary file beside it, synced,
// then renamed) and never replaces a file the viewer cannot read, so that
// nothing of another tool's export is lost. Saves run one at a time; reads
// may run beside them and see the old file or the new one, whole.
#ifndef STRATA_TOOLS_SERVE_ANNOTATION_STORE_H_
#define STRATA_TOOLS_SERVE_ANNOTATION_STORE_H_

#include <mutex>
#include <string>
#include <vector>

namespace strata::tools::serve {

struct AnnotationResult {
  enum class Kind {
    kDone,          // read or saved; `text` holds the GeoJSON read
    kNone,          // the slide has no annotations file
    kUnreadable,    // the file (or the body to save) is not annotations: `text` says why
    kNowhere,       // there is no place to save this slide's annotations
    kWouldReplace,  // the file in place is one the viewer cannot read
    kFailed,        // the file system refused: `text` says why
  };
  Kind kind = Kind::kNone;
  std::string text;
  std::string file;  // the file read or written, as a name to show
};

class AnnotationStore {
 public:
  // `folder`: the --annotations folder, "" for none.
  explicit AnnotationStore(std::string folder) : folder_(std::move(folder)) {}

  // The annotations of slide `name` opened from `location` (path or URL).
  AnnotationResult Load(const std::string& name, const std::string& location) const;
  // Saves `geojson` (already checked) as the annotations of the slide.
  AnnotationResult Save(const std::string& name, const std::string& location,
                        const std::string& geojson);

 private:
  struct Place {
    std::string path;
    std::string root;  // the folder the file must resolve inside
  };
  // Where annotations are looked for, in order; the first `writable` of
  // them lie where saves go.
  std::vector<Place> Candidates(const std::string& name, const std::string& location,
                                std::size_t* writable) const;
  bool MakeFoldersFor(const std::string& name, std::string* error) const;

  std::string folder_;
  std::mutex saveMutex_;
};

}  // namespace strata::tools::serve

#endif  // STRATA_TOOLS_SERVE_ANNOTATION_STORE_H_
