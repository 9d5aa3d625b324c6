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

std::string PageStart(const std::string& title) {
  return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>" +
         HtmlEscape(title) +
         "</title>\n<link rel=\"icon\" href=\"data:,\">\n"
         "<link rel=\"stylesheet\" href=\"/static/viewer.css\"></head>\n";
}

std::string SizeText(const SlideFacts& facts) {
  return std::to_string(facts.width) + " &times; " + std::to_string(facts.height) + " px";
}

std::string ResolutionText(const SlideFacts& facts) {
  if (facts.micronsPerPixel <= 0) return "unknown";
  return Number(facts.micronsPerPixel) + " &micro;m/px" +
         (facts.resolutionEstimated ? " (estimated from the scan scale)" : "");
}

std::string SlidePath(const std::string& name) { return "/slide/" + UrlPathEscape(name); }

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

std::string SlideListPage(const std::vector<ListedSlide>& slides) {
  std::string page = PageStart("Slides") +
                     "<body><header><h1>Slides</h1></header>\n"
                     "<table class=\"slides\"><thead><tr><th></th><th>Slide</th><th>Size</th>"
                     "<th>Scan scale</th><th>Format</th></tr></thead><tbody>\n";
  for (const ListedSlide& slide : slides) {
    const std::string name = HtmlEscape(slide.name);
    const std::string view = "/view/" + UrlPathEscape(slide.name);
    page += "<tr><td><a href=\"" + view + "\"><img src=\"" + SlidePath(slide.name) +
            "/thumbnail.jpg\" alt=\"\" loading=\"lazy\"></a></td><td><a href=\"" + view + "\">" +
            name + "</a></td>";
    if (slide.opened) {
      page += "<td>" + SizeText(slide.facts) + "</td><td>" + std::to_string(slide.facts.scanScale) +
              "&times;</td><td>" + HtmlEscape(slide.facts.format) + "</td></tr>\n";
    } else {
      page += "<td colspan=\"3\">cannot be opened</td></tr>\n";
    }
  }
  if (slides.empty()) page += "<tr><td colspan=\"5\">No slides.</td></tr>\n";
  return page + "</tbody></table></body></html>\n";
}

std::string ViewerPage(const SlideDescription& slide) {
  const SlideFacts& facts = slide.facts;
  const std::string base = SlidePath(slide.name);
  std::string page = PageStart(slide.name) + "<body data-dzi=\"/dz/" +
                     HtmlEscape(UrlPathEscape(slide.name)) + ".dzi\" data-microns-per-pixel=\"" +
                     Number(facts.micronsPerPixel) +
                     "\">\n<header><a href=\"/\">Slides</a> / <h1>" + HtmlEscape(slide.name) +
                     "</h1></header>\n<main class=\"viewer\">\n" +
                     "<div id=\"view\"><div id=\"scale-bar\" hidden><span id=\"scale-bar-length\">"
                     "</span></div></div>\n<aside>\n";
  if (slide.hasLabel)
    page += "<h2>Label</h2><img id=\"label\" src=\"" + base + "/label.jpg\" alt=\"label\">\n";
  if (slide.hasPreview) {
    page +=
        "<h2>Preview</h2><img id=\"preview\" src=\"" + base + "/preview.jpg\" alt=\"preview\">\n";
  }
  page += "<h2>Slide</h2><dl class=\"facts\">\n<dt>Size</dt><dd>" + SizeText(facts) +
          "</dd>\n<dt>Scan scale</dt><dd>" + std::to_string(facts.scanScale) +
          "&times;</dd>\n<dt>Resolution</dt><dd>" + ResolutionText(facts) +
          "</dd>\n<dt>Format</dt><dd>" + HtmlEscape(facts.format) +
          (facts.version > 0 ? " " + Number(facts.version) : "") + "</dd>\n<dt>Tile size</dt><dd>" +
          std::to_string(slide.tileSize) + "</dd>\n";
  if (!facts.scanned.empty())
    page += "<dt>Scanned</dt><dd>" + HtmlEscape(facts.scanned) + "</dd>\n";
  page += "<dt>Facts</dt><dd><a href=\"" + base + "/info.json\">info.json</a></dd>\n</dl>\n";
  return page +
         "</aside>\n</main>\n<script src=\"/static/openseadragon/openseadragon.min.js\"></script>\n"
         "<script src=\"/static/viewer.js\"></script>\n</body></html>\n";
}

std::string InfoJson(const SlideDescription& slide) {
  const SlideFacts& facts = slide.facts;
  const std::string base = SlidePath(slide.name);
  std::string json =
      "{\n  \"name\": " + JsonString(slide.name) +
      ",\n  \"width\": " + std::to_string(facts.width) +
      ",\n  \"height\": " + std::to_string(facts.height) +
      ",\n  \"scanScale\": " + std::to_string(facts.scanScale) +
      ",\n  \"blockSize\": " + std::to_string(facts.blockSize) +
      ",\n  \"micronsPerPixel\": " + Number(facts.micronsPerPixel) +
      ",\n  \"resolutionEstimated\": " + (facts.resolutionEstimated ? "true" : "false") +
      ",\n  \"format\": " + JsonString(facts.format) +
      ",\n  \"version\": " + Number(facts.version) +
      ",\n  \"scanned\": " + (facts.scanned.empty() ? "null" : JsonString(facts.scanned)) +
      ",\n  \"deepZoom\": {\"url\": " + JsonString("/dz/" + UrlPathEscape(slide.name) + ".dzi") +
      ", \"tileSize\": " + std::to_string(slide.tileSize) +
      ", \"overlap\": 0, \"levels\": " + std::to_string(slide.levels) + "}" + ",\n  \"images\": {";
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

}  // namespace strata::tools::serve
