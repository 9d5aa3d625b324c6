#include "strata/tiff/tiff_properties.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "strata/tiff/sha256.h"

namespace strata::tiff {
namespace {

// Leading and trailing white space (space, tab, line ends, form feed) off.
std::string Stripped(const std::string& text) {
  const char* const space = " \t\n\v\f\r";
  const std::size_t first = text.find_first_not_of(space);
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(space) - first + 1);
}

// A whole decimal number with optional sign and surrounding space; out of
// range values are clamped, as the reference's parser does.
bool ParseWholeNumber(const std::string& text, long long* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  *value = std::strtoll(text.c_str(), &end, 10);
  return end != text.c_str() && *end == '\0';
}

// A real number, a decimal comma taken as a point; NaN and values out of
// range are refused, infinities kept.
bool ParseRealNumber(std::string text, double* value) {
  if (text.empty()) return false;
  for (char& c : text) {
    if (c == ',') c = '.';
  }
  char* end = nullptr;
  errno = 0;
  *value = std::strtod(text.c_str(), &end);
  return end != text.c_str() && *end == '\0' && errno != ERANGE && !std::isnan(*value);
}

void AddAperioProperties(const std::string& description,
                         std::map<std::string, std::string>& properties) {
  // "header|key = value|key = value..."; the header is not a property.
  std::size_t start = description.find('|');
  while (start != std::string::npos) {
    const std::size_t end = description.find('|', start + 1);
    const std::string item = description.substr(start + 1, end == std::string::npos
                                                               ? std::string::npos
                                                               : end - start - 1);
    start = end;
    if (item.empty()) continue;
    const std::size_t equals = item.find('=');
    const std::string key = Stripped(item.substr(0, equals));
    // An item without "=" names a property without a value.
    const std::string value = equals == std::string::npos ? "" : Stripped(item.substr(equals + 1));
    properties["aperio." + key] = value;
  }
  const auto magnification = properties.find("aperio.AppMag");
  long long power = 0;
  if (magnification != properties.end() && ParseWholeNumber(magnification->second, &power)) {
    properties["openslide.objective-power"] = std::to_string(power);
  }
  const auto pixelSize = properties.find("aperio.MPP");
  double microns = 0;
  if (pixelSize != properties.end() && ParseRealNumber(pixelSize->second, &microns)) {
    properties["openslide.mpp-x"] = ReferenceNumber(microns);
    properties["openslide.mpp-y"] = ReferenceNumber(microns);
  }
}

void AddTiffProperties(const TiffDirectory& first, std::map<std::string, std::string>& properties) {
  for (const auto& [name, text] : first.texts) properties["tiff." + name] = text;
  const std::pair<const char*, const std::optional<float>*> numbers[] = {
      {"XResolution", &first.xResolution},
      {"YResolution", &first.yResolution},
      {"XPosition", &first.xPosition},
      {"YPosition", &first.yPosition}};
  for (const auto& [name, value] : numbers) {
    if (*value) properties[std::string("tiff.") + name] = ReferenceNumber(**value);
  }
  if (first.resolutionUnit) {
    const char* unit = "unknown";
    if (*first.resolutionUnit == RESUNIT_NONE) unit = "none";
    if (*first.resolutionUnit == RESUNIT_INCH) unit = "inch";
    if (*first.resolutionUnit == RESUNIT_CENTIMETER) unit = "centimeter";
    properties["tiff.ResolutionUnit"] = unit;
  }
}

void AddLevelProperties(const TiffLayout& layout, std::map<std::string, std::string>& properties) {
  properties["openslide.level-count"] = std::to_string(layout.levels.size());
  for (std::size_t n = 0; n < layout.levels.size(); ++n) {
    const TiffLevel& level = layout.levels[n];
    const std::string prefix = "openslide.level[" + std::to_string(n) + "].";
    properties[prefix + "width"] = std::to_string(level.width);
    properties[prefix + "height"] = std::to_string(level.height);
    properties[prefix + "downsample"] = ReferenceNumber(level.downsample);
    properties[prefix + "tile-width"] = std::to_string(level.tileWidth);
    properties[prefix + "tile-height"] = std::to_string(level.tileHeight);
  }
}

// Text hashed with its terminating zero byte.
void HashText(Sha256& hash, const std::string& text) { hash.Update(text.c_str(), text.size() + 1); }

}  // namespace

std::string ReferenceNumber(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g", value);
  for (char* c = text; *c != '\0'; ++c) {
    if (*c == ',') *c = '.';
  }
  return text;
}

Status ComputeQuickHash(CFileOperationTool& reader, const std::vector<TiffDirectory>& directories,
                        const TiffLayout& layout, std::string* hash) {
  hash->clear();
  const TiffDirectory& smallest =
      directories[static_cast<std::size_t>(layout.levels.back().directory)];
  std::uint64_t total = 0;
  for (const std::uint64_t count : smallest.tileByteCounts) {
    total += count;
    if (total > kQuickHashTileLimit) return Status::Ok();
  }
  std::vector<ByteRange> ranges;
  for (std::size_t n = 0; n < smallest.tileOffsets.size(); ++n) {
    ranges.push_back({smallest.tileOffsets[n], smallest.tileByteCounts[n]});
  }
  reader.Prefetch(ranges);
  Sha256 sha;
  std::vector<unsigned char> tile;
  for (const ByteRange& range : ranges) {
    tile.resize(static_cast<std::size_t>(range.length));
    if (!reader.ReadWhole(range.offset, tile.size(), tile.data())) {
      return Status::IoError("cannot read " + std::to_string(range.length) + " bytes of a tile at " +
                             std::to_string(range.offset));
    }
    sha.Update(tile.data(), tile.size());
  }
  const TiffDirectory& first = directories.front();
  for (const char* name : kTextFieldNames) {
    const auto found = first.texts.find(name);
    HashText(sha, std::string("tiff.") + name);
    HashText(sha, found == first.texts.end() ? std::string() : found->second);
  }
  *hash = sha.HexDigest();
  return Status::Ok();
}

std::map<std::string, std::string> DescribeTiffProperties(
    const std::vector<TiffDirectory>& directories, const TiffLayout& layout,
    const std::string& quickHash) {
  std::map<std::string, std::string> properties;
  const TiffDirectory& first = directories.front();
  AddTiffProperties(first, properties);
  if (first.description) properties["openslide.comment"] = *first.description;
  if (layout.vendor == "aperio" && first.description) {
    AddAperioProperties(*first.description, properties);
  }
  properties["openslide.vendor"] = layout.vendor;
  if (!quickHash.empty()) properties["openslide.quickhash-1"] = quickHash;
  AddLevelProperties(layout, properties);
  return properties;
}

}  // namespace strata::tiff
