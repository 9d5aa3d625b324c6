#include "tools/serve/geojson_check.h"

#include <cmath>
#include <cstdio>

#include <nlohmann/json.hpp>

namespace strata::tools::serve {
namespace {

using Json = nlohmann::json;

// Deeper than any geometry needs (a MultiPolygon in a GeometryCollection is
// seven levels); refused before parsing so that nesting costs no stack.
constexpr int kMaxNesting = 32;

std::string MegabytesText(std::uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1 << 20));
  return text;
}

// The deepest nesting of arrays and objects, outside strings.
int NestingDepth(const std::string& text) {
  int depth = 0, deepest = 0;
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      deepest = std::max(deepest, ++depth);
      if (deepest > kMaxNesting) return deepest;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return deepest;
}

bool IsPosition(const Json& value) {
  if (!value.is_array() || value.size() < 2 || value.size() > 4) return false;
  for (const Json& number : value) {
    if (!number.is_number() || !std::isfinite(number.get<double>())) return false;
  }
  return true;
}

// Checks an array nested `depth` times around positions, counting them.
bool IsNestedPositions(const Json& value, int depth, std::size_t* positions) {
  if (depth == 0) {
    ++*positions;
    return IsPosition(value);
  }
  if (!value.is_array()) return false;
  for (const Json& inner : value) {
    if (!IsNestedPositions(inner, depth - 1, positions)) return false;
  }
  return true;
}

struct GeometryKind {
  const char* type;
  int depth;          // arrays around the positions
  const char* shape;  // what its coordinates must be, for the message
};

const GeometryKind kGeometries[] = {
    {"Point", 0, "one [x, y] position"},
    {"MultiPoint", 1, "a list of [x, y] positions"},
    {"LineString", 1, "a list of [x, y] positions"},
    {"MultiLineString", 2, "lists of [x, y] positions"},
    {"Polygon", 2, "rings of [x, y] positions"},
    {"MultiPolygon", 3, "polygons of rings of [x, y] positions"},
};

std::string CheckGeometry(const Json& geometry, std::size_t* positions) {
  if (geometry.is_null()) return "";
  if (!geometry.is_object()) return "its geometry is not an object";
  const auto type = geometry.find("type");
  if (type == geometry.end() || !type->is_string()) return "its geometry has no \"type\"";
  const std::string name = type->get<std::string>();
  if (name == "GeometryCollection") {
    const auto members = geometry.find("geometries");
    if (members == geometry.end() || !members->is_array()) {
      return "a GeometryCollection needs a \"geometries\" list";
    }
    for (const Json& member : *members) {
      const std::string problem = CheckGeometry(member, positions);
      if (!problem.empty()) return problem;
    }
    return "";
  }
  for (const GeometryKind& kind : kGeometries) {
    if (name != kind.type) continue;
    const auto coordinates = geometry.find("coordinates");
    if (coordinates == geometry.end() || !IsNestedPositions(*coordinates, kind.depth, positions)) {
      return std::string("a ") + kind.type + "'s coordinates must be " + kind.shape;
    }
    return "";
  }
  return "\"" + name + "\" is not a GeoJSON geometry type";
}

std::string CheckFeature(const Json& feature, std::size_t* positions) {
  if (!feature.is_object()) return "not an object";
  const auto type = feature.find("type");
  if (type == feature.end() || *type != "Feature") return "its \"type\" is not \"Feature\"";
  const auto properties = feature.find("properties");
  if (properties != feature.end() && !properties->is_null() && !properties->is_object()) {
    return "its \"properties\" are not an object";
  }
  const auto geometry = feature.find("geometry");
  return geometry == feature.end() ? "it has no \"geometry\"" : CheckGeometry(*geometry, positions);
}

std::string TypeText(const Json& document) {
  const auto type = document.find("type");
  return type != document.end() && type->is_string() ? "\"" + type->get<std::string>() + "\""
                                                     : "missing";
}

}  // namespace

std::string AnnotationSizeProblem(std::uint64_t bytes) {
  if (bytes <= kMaxAnnotationBytes) return "";
  return "too large: " + MegabytesText(bytes) + ", the viewer takes up to " +
         MegabytesText(kMaxAnnotationBytes);
}

std::string CheckFeatureCollection(const std::string& text) {
  const std::string size = AnnotationSizeProblem(text.size());
  if (!size.empty()) return size;
  if (NestingDepth(text) > kMaxNesting) {
    return "nested more than " + std::to_string(kMaxNesting) + " levels deep";
  }
  Json document;
  try {
    document = Json::parse(text);
  } catch (const Json::parse_error& error) {
    return "not valid JSON (at byte " + std::to_string(error.byte) + ")";
  }
  if (!document.is_object() || document.find("type") == document.end() ||
      document["type"] != "FeatureCollection") {
    return "not a GeoJSON FeatureCollection (its \"type\" is " +
           (document.is_object() ? TypeText(document) : std::string("missing")) + ")";
  }
  const auto features = document.find("features");
  if (features == document.end() || !features->is_array()) {
    return "a FeatureCollection needs a \"features\" list";
  }
  if (features->size() > kMaxAnnotationFeatures) {
    return "too many features: " + std::to_string(features->size()) + ", the viewer draws up to " +
           std::to_string(kMaxAnnotationFeatures);
  }
  std::size_t positions = 0;
  for (std::size_t i = 0; i < features->size(); ++i) {
    const std::string problem = CheckFeature((*features)[i], &positions);
    if (!problem.empty()) {
      return "feature " + std::to_string(i + 1) + " of " + std::to_string(features->size()) + ": " +
             problem;
    }
  }
  if (positions > kMaxAnnotationPositions) {
    return "too many points: " + std::to_string(positions) + ", the viewer draws up to " +
           std::to_string(kMaxAnnotationPositions);
  }
  return "";
}

}  // namespace strata::tools::serve
