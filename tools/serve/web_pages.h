// The HTML pages and JSON documents of the server. Every text that comes
// from a slide or a file name is escaped for where it lands.
#ifndef STRATA_TOOLS_SERVE_WEB_PAGES_H_
#define STRATA_TOOLS_SERVE_WEB_PAGES_H_

#include <string>
#include <vector>

#include "tools/serve/served_slide.h"

namespace strata::tools::serve {

struct SlideDescription {
  std::string name;
  ServedFacts facts;
  int levels = 0;    // Deep Zoom levels
  int tileSize = 0;  // of the Deep Zoom grid
  bool hasLabel = false;
  bool hasPreview = false;
  bool hasThumbnail = false;
};

// What the viewer links to besides its slide.
struct ViewerLinks {
  std::string previous;  // slide names in the list's order; "" at its ends
  std::string next;
  bool readOnly = false;
};

// The list of slides by name; the page fetches their facts itself.
std::string SlideListPage(const std::vector<std::string>& names);
std::string ViewerPage(const SlideDescription& slide, const ViewerLinks& links);
std::string InfoJson(const SlideDescription& slide);
// The answer to a save: {"saved": "<file name>"}.
std::string SavedJson(const std::string& file);

std::string HtmlEscape(const std::string& text);
// Percent-encodes everything but unreserved characters and '/'.
std::string UrlPathEscape(const std::string& text);

}  // namespace strata::tools::serve

#endif  // STRATA_TOOLS_SERVE_WEB_PAGES_H_
