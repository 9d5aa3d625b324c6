// The HTML pages and JSON documents of the server. Every text that comes
// from a slide or a file name is escaped for where it lands.
#ifndef STRATA_TOOLS_SERVE_WEB_PAGES_H_
#define STRATA_TOOLS_SERVE_WEB_PAGES_H_

#include <string>
#include <vector>

#include "tools/serve/deep_zoom.h"
#include "tools/serve/served_slide.h"

namespace strata::tools::serve {

struct ListedSlide {
  std::string name;
  bool opened = false;
  SlideFacts facts;
};

struct SlideDescription {
  std::string name;
  SlideFacts facts;
  int levels = 0;
  int tileSize = 0;
  bool hasLabel = false;
  bool hasPreview = false;
  bool hasThumbnail = false;
};

std::string SlideListPage(const std::vector<ListedSlide>& slides);
std::string ViewerPage(const SlideDescription& slide);
std::string InfoJson(const SlideDescription& slide);

std::string HtmlEscape(const std::string& text);
// Percent-encodes everything but unreserved characters and '/'.
std::string UrlPathEscape(const std::string& text);

}  // namespace strata::tools::serve

#endif  // STRATA_TOOLS_SERVE_WEB_PAGES_H_
