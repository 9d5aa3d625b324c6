#include "tools/serve/web_pages.h"

#include <cctype>
#include <cstdio>

namespace strata::tools::serve {
namespace {

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", value);
  return text;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string PageStart(const std::string& title, const std::string& bodyAttributes) {
  return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>" +
         HtmlEscape(title) +
         "</title>\n<link rel=\"icon\" href=\"data:,\">\n"
         "<link rel=\"stylesheet\" href=\"/static/viewer.css\"></head>\n<body" +
         bodyAttributes + ">\n";
}

std::string Attribute(const std::string& name, const std::string& value) {
  return " " + name + "=\"" + HtmlEscape(value) + "\"";
}

std::string SizeText(const ServedFacts& facts) {
  return std::to_string(facts.width) + " &times; " + std::to_string(facts.height) + " px";
}

std::string ObjectiveText(const ServedFacts& facts) {
  return facts.objectivePower > 0 ? Number(facts.objectivePower) + "&times;" : "unknown";
}

std::string ResolutionText(const ServedFacts& facts) {
  if (facts.micronsPerPixel <= 0) return "unknown";
  return Number(facts.micronsPerPixel) + " &micro;m/px" +
         (facts.resolutionEstimated ? " (estimated from the objective power)" : "");
}

std::string SlidePath(const std::string& name) { return "/slide/" + UrlPathEscape(name); }
std::string ViewPath(const std::string& name) { return "/view/" + UrlPathEscape(name); }

// A link to a neighbouring slide, or a disabled stand-in at the list's ends.
std::string NeighbourLink(const char* id, const std::string& name, const char* arrow,
                          const char* title) {
  if (name.empty()) {
    return std::string("<span id=\"") + id + "\" class=\"neighbour disabled\" title=\"" + title +
           "\">" + arrow + "</span>";
  }
  return std::string("<a id=\"") + id + "\" class=\"neighbour\" href=\"" + ViewPath(name) +
         "\" title=\"" + title + ": " + HtmlEscape(name) + "\">" + arrow + "</a>";
}

std::string FactsList(const SlideDescription& slide) {
  const ServedFacts& facts = slide.facts;
  std::string list = "<dl class=\"facts\">\n<dt>Size</dt><dd>" + SizeText(facts) +
                     "</dd>\n<dt>Objective</dt><dd>" + ObjectiveText(facts) +
                     "</dd>\n<dt>Resolution</dt><dd>" + ResolutionText(facts) +
                     "</dd>\n<dt>Format</dt><dd>" + HtmlEscape(facts.format) +
                     (facts.version > 0 ? " " + Number(facts.version) : "") +
                     "</dd>\n<dt>Levels</dt><dd>" + std::to_string(facts.levels) + "</dd>\n";
  if (!facts.scanned.empty()) {
    list += "<dt>Scanned</dt><dd>" + HtmlEscape(facts.scanned) + "</dd>\n";
  }
  return list + "<dt>Facts</dt><dd><a href=\"" + SlidePath(slide.name) +
         "/info.json\">info.json</a></dd>\n</dl>\n";
}

}  // namespace

std::string HtmlEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string UrlPathEscape(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string SlideListPage(const std::vector<std::string>& names) {
  std::string page =
      PageStart("Slides", " class=\"list-page\"") +
      "<header><h1>Slides</h1><input id=\"search\" type=\"search\" placeholder=\"Search slides "
      "(/)\" aria-label=\"Search slides\" autocomplete=\"off\"><span id=\"shown-count\">" +
      std::to_string(names.size()) + (names.size() == 1 ? " slide" : " slides") +
      "</span></header>\n<table class=\"slides\"><thead><tr><th></th><th>Slide</th><th>Size</th>"
      "<th>Objective</th><th>Resolution</th><th>Format</th><th>Scanned</th></tr></thead><tbody>\n";
  for (const std::string& name : names) {
    const std::string view = ViewPath(name);
    page += "<tr" + Attribute("data-name", name) +
            Attribute("data-info", SlidePath(name) + "/info.json") + "><td><a href=\"" + view +
            "\" tabindex=\"-1\"><img src=\"" + SlidePath(name) +
            "/thumbnail.jpg\" alt=\"\" loading=\"lazy\"></a></td><td><a href=\"" + view + "\">" +
            HtmlEscape(name) + "</a></td><td class=\"facts-pending\" colspan=\"5\"></td></tr>\n";
  }
  if (names.empty()) page += "<tr><td colspan=\"7\">No slides.</td></tr>\n";
  return page +
         "</tbody></table>\n<p id=\"no-match\" hidden>No slide matches.</p>\n"
         "<script type=\"module\" src=\"/static/slide_list.js\"></script>\n</body></html>\n";
}

std::string ViewerPage(const SlideDescription& slide, const ViewerLinks& links) {
  const ServedFacts& facts = slide.facts;
  const std::string base = SlidePath(slide.name);
  const std::string attributes =
      " class=\"viewer-page\"" + Attribute("data-slide", slide.name) +
      Attribute("data-dzi", "/dz/" + UrlPathEscape(slide.name) + ".dzi") +
      Attribute("data-width", std::to_string(facts.width)) +
      Attribute("data-height", std::to_string(facts.height)) +
      Attribute("data-objective-power", Number(facts.objectivePower)) +
      Attribute("data-microns-per-pixel", Number(facts.micronsPerPixel)) +
      Attribute("data-resolution-estimated", facts.resolutionEstimated ? "true" : "false") +
      Attribute("data-annotations", base + "/annotations.geojson") +
      Attribute("data-read-only", links.readOnly ? "true" : "false");
  std::string page =
      PageStart(slide.name, attributes) + "<header><a href=\"/\">Slides</a> / <h1>" +
      HtmlEscape(slide.name) + "</h1><nav class=\"neighbours\">" +
      NeighbourLink("previous-slide", links.previous, "&lsaquo; previous", "Previous slide") +
      NeighbourLink("next-slide", links.next, "next &rsaquo;", "Next slide") +
      "</nav><button id=\"help-button\" type=\"button\" title=\"Keyboard shortcuts (?)\">?</button>"
      "<button id=\"panel-toggle\" type=\"button\" title=\"Side panel (\\)\" "
      "aria-controls=\"panel\">&#9776;</button></header>\n<main class=\"viewer\">\n"
      "<div id=\"view\"><canvas id=\"overlay\"></canvas>"
      "<div id=\"readout\"><span id=\"magnification\" title=\"Magnification\"></span>"
      "<span id=\"cursor-position\"></span></div>"
      "<div id=\"toolbar\"><div id=\"magnification-buttons\"></div><div id=\"tools\"></div></div>"
      "<div id=\"scale-bar\" hidden><span id=\"scale-bar-length\"></span></div>"
      "<div id=\"tool-hint\" hidden></div></div>\n<aside id=\"panel\">\n"
      "<h2>Measurements</h2><ol id=\"measurements\"></ol>"
      "<p class=\"buttons\"><button id=\"save-annotations\" type=\"button\">Save</button></p>"
      "<p id=\"save-status\" role=\"status\"></p>\n"
      "<h2>Annotations</h2><label><input id=\"show-annotations\" type=\"checkbox\" checked> "
      "Show (o)</label><p id=\"annotation-status\" role=\"status\"></p>"
      "<ul id=\"annotation-classes\"></ul>\n";
  if (slide.hasLabel) {
    page += "<h2>Label</h2><img id=\"label\" src=\"" + base + "/label.jpg\" alt=\"label\">\n";
  }
  if (slide.hasPreview) {
    page +=
        "<h2>Preview</h2><img id=\"preview\" src=\"" + base + "/preview.jpg\" alt=\"preview\">\n";
  }
  page += "<h2>Slide</h2>" + FactsList(slide);
  return page +
         "</aside>\n</main>\n<div id=\"shortcuts\" role=\"dialog\" aria-label=\"Keyboard "
         "shortcuts\" hidden></div>\n"
         "<script src=\"/static/openseadragon/openseadragon.min.js\"></script>\n"
         "<script type=\"module\" src=\"/static/viewer.js\"></script>\n</body></html>\n";
}

std::string InfoJson(const SlideDescription& slide) {
  const ServedFacts& facts = slide.facts;
  const std::string base = SlidePath(slide.name);
  std::string json =
      "{\n  \"name\": " + JsonString(slide.name) +
      ",\n  \"width\": " + std::to_string(facts.width) +
      ",\n  \"height\": " + std::to_string(facts.height) +
      ",\n  \"scanScale\": " + Number(facts.objectivePower) +
      ",\n  \"blockSize\": " + std::to_string(facts.tileSize) +
      ",\n  \"levels\": " + std::to_string(facts.levels) +
      ",\n  \"micronsPerPixel\": " + Number(facts.micronsPerPixel) +
      ",\n  \"resolutionEstimated\": " + (facts.resolutionEstimated ? "true" : "false") +
      ",\n  \"format\": " + JsonString(facts.format) +
      ",\n  \"version\": " + Number(facts.version) +
      ",\n  \"scanned\": " + (facts.scanned.empty() ? "null" : JsonString(facts.scanned)) +
      ",\n  \"deepZoom\": {\"url\": " + JsonString("/dz/" + UrlPathEscape(slide.name) + ".dzi") +
      ", \"tileSize\": " + std::to_string(slide.tileSize) +
      ", \"overlap\": 0, \"levels\": " + std::to_string(slide.levels) + "}" +
      ",\n  \"annotations\": " + JsonString(base + "/annotations.geojson") + ",\n  \"images\": {";
  const struct {
    const char* name;
    bool present;
  } images[] = {
      {"label", slide.hasLabel}, {"preview", slide.hasPreview}, {"thumbnail", slide.hasThumbnail}};
  bool first = true;
  for (const auto& image : images) {
    json += std::string(first ? "" : ", ") + "\"" + image.name +
            "\": " + (image.present ? JsonString(base + "/" + image.name + ".jpg") : "null");
    first = false;
  }
  return json + "}\n}\n";
}

std::string SavedJson(const std::string& file) { return "{\"saved\": " + JsonString(file) + "}\n"; }

}  // namespace strata::tools::serve
