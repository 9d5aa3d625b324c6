// The one table of formats: which file names pick which format, the class
// the C exports drive for it, and how the façade opens it. Formats are
// chosen by name where the name says it, by content where it does not.
#ifndef STRATA_SLIDE_FORMAT_REGISTRY_H_
#define STRATA_SLIDE_FORMAT_REGISTRY_H_

#include <memory>
#include <string>

#include "strata/model/data_file.h"
#include "strata/model/slide_format.h"
#include "strata/status.h"

namespace strata {

struct FormatEntry {
  // The format's customary name ("ztx", "aperio", ...).
  const char* format;
  // Texts whose occurrence in a path (case-sensitive) picks this format.
  const char* names[3];
  // The class-tree slide the C exports use.
  CDataFile* (*makeDataFile)();
  // Opens the slide for the façade.
  Status (*open)(const std::string& location, std::unique_ptr<SlideFormat>* format);
};

// The first entry any of whose names occurs in `path`, or null.
const FormatEntry* FormatByName(const char* path);

// The entry for the format the file's content shows, or null; `format` is
// set to that format's name ("" when none).
const FormatEntry* FormatByContent(const std::string& location, std::string* format);

// The entry that opens a folder as one slide (a DICOM series), or null.
const FormatEntry* FormatForFolder(const std::string& folder);

// The first bytes of the file as text for a reason ("starts with 7b 0a ...
// '{.'"), or "is empty".
std::string FirstBytesText(const std::string& location);

// Why a location names no slide file before any format looks at it: an empty
// path, an https:// URL, a folder, a missing or irregular file. Ok for
// http:// URLs and regular files. The façade and the C exports share it, so
// both say the same.
Status CheckSlideLocation(const std::string& location);

// The reason for a file no format takes: "not a slide: starts with ...".
Status NotASlide(const std::string& location);

// For a URL whose open failed: the HTTP failure noted on this thread while
// opening ("HTTP status 404") when there is one, as that is what every later
// step then stumbled over; otherwise `reason`. Clears the note.
Status PreferTransportFailure(const std::string& location, Status reason);

}  // namespace strata

#endif  // STRATA_SLIDE_FORMAT_REGISTRY_H_
