// What the viewer takes as annotations: a GeoJSON FeatureCollection whose
// coordinates are level-0 pixels, the layout pathology tools export. Its
// features carry Point, MultiPoint, LineString, MultiLineString, Polygon,
// MultiPolygon or GeometryCollection geometries (or none), and properties
// as they like; the viewer draws `properties.name` and
// `properties.classification` ({"name": ..., "color": [r, g, b]}).
#ifndef STRATA_TOOLS_SERVE_GEOJSON_CHECK_H_
#define STRATA_TOOLS_SERVE_GEOJSON_CHECK_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace strata::tools::serve {

// Beyond these a browser cannot draw the collection while the slide moves.
constexpr std::size_t kMaxAnnotationBytes = 32u << 20;
constexpr std::size_t kMaxAnnotationFeatures = 200000;
constexpr std::size_t kMaxAnnotationPositions = 4000000;

// "" when `text` is such a FeatureCollection within the limits above;
// otherwise one line that says what is wrong and where ("feature 3 of 40:
// a Polygon's coordinates must be rings of [x, y] positions").
std::string CheckFeatureCollection(const std::string& text);

// "" when a file of `bytes` bytes may hold annotations; otherwise why not.
std::string AnnotationSizeProblem(std::uint64_t bytes);

}  // namespace strata::tools::serve

#endif  // STRATA_TOOLS_SERVE_GEOJSON_CHECK_H_
