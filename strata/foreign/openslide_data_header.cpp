#include "strata/foreign/openslide_data_header.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <string>

using strata::foreign::OpenSlideLevel;

namespace {

// Slides wider or taller than this (at level 0) are refused: their sizes
// cross the C interface as int.
constexpr std::int64_t kMaxSide = INT_MAX;
// OpenSlide pyramids have a few dozen levels at most.
constexpr std::int32_t kMaxLevels = 64;

bool ParseUnsigned(const char* text, int base, std::int64_t limit, std::int64_t& value) {
  if (text == nullptr) return false;
  const char* start = text;
  while (*start == ' ' || *start == '\t') ++start;
  // strtoul would accept a sign and wrap a negative number around.
  if (*start == '-' || *start == '+' || *start == '\0') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long parsed = std::strtoull(start, &end, base);
  if (errno != 0 || end == start) return false;
  while (*end == ' ' || *end == '\t') ++end;
  if (*end != '\0' || parsed > static_cast<unsigned long long>(limit)) return false;
  value = static_cast<std::int64_t>(parsed);
  return true;
}

}  // namespace

COpenSlideDataHeader::COpenSlideDataHeader(const strata::foreign::OpenSlideLibrary& library,
                                           strata::foreign::OpenSlideHandle slide)
    : library_(library), slide_(slide) {}

bool COpenSlideDataHeader::HasProperty(const char* name) const {
  return library_.PropertyValue(slide_, name) != nullptr;
}

bool COpenSlideDataHeader::ReadNumber(const char* name, std::int64_t limit, std::int64_t& value,
                                      bool& present) const {
  const char* text = library_.PropertyValue(slide_, name);
  present = text != nullptr;
  if (!present) return true;
  return ParseUnsigned(text, 0, limit, value);
}

bool COpenSlideDataHeader::Build() {
  std::int64_t w = 0;
  std::int64_t h = 0;
  library_.Level0Dimensions(slide_, &w, &h);
  if (w < 0 || h < 0 || w > kMaxSide || h > kMaxSide) return false;
  level0Width_ = width_ = w;
  level0Height_ = height_ = h;
  objectivePower_ = library_.PropertyValue(slide_, "openslide.objective-power");
  return ReadSizeProperties() && ReadOffsetProperties() && ReadBackground() && ReadLevels();
}

bool COpenSlideDataHeader::BuildFromLevels(std::int64_t width, std::int64_t height,
                                           const std::string& objectivePower,
                                           const std::vector<OpenSlideLevel>& levels) {
  if (width < 0 || height < 0 || width > kMaxSide || height > kMaxSide ||
      levels.size() > static_cast<std::size_t>(kMaxLevels)) {
    return false;
  }
  level0Width_ = width_ = width;
  level0Height_ = height_ = height;
  ownedObjectivePower_ = objectivePower;
  objectivePower_ = objectivePower.empty() ? nullptr : ownedObjectivePower_.c_str();
  levels_.clear();
  double previous = 0.0;
  for (const OpenSlideLevel& entry : levels) {
    if (entry.width < 0 || entry.height < 0 || entry.width > width || entry.height > height ||
        !std::isfinite(entry.downsample) || entry.downsample < 1.0 || entry.downsample < previous) {
      return false;
    }
    previous = entry.downsample;
    levels_.push_back(entry);
  }
  return true;
}

bool COpenSlideDataHeader::ReadSingleRegionNumber(const char* field, std::int64_t limit,
                                                  std::int64_t& value) const {
  const std::string second = std::string("openslide.region[1].") + field;
  if (HasProperty(second.c_str())) return true;
  const std::string first = std::string("openslide.region[0].") + field;
  bool present = false;
  return ReadNumber(first.c_str(), limit, value, present);
}

bool COpenSlideDataHeader::ReadSizeProperties() {
  bool present = false;
  // A slide with exactly one region is sized by that region.
  return ReadNumber("openslide.bounds-width", level0Width_, width_, present) &&
         ReadNumber("openslide.bounds-height", level0Height_, height_, present) &&
         ReadSingleRegionNumber("width", level0Width_, width_) &&
         ReadSingleRegionNumber("height", level0Height_, height_);
}

bool COpenSlideDataHeader::ReadOffsetProperties() {
  bool present = false;
  return ReadNumber("openslide.bounds-x", level0Width_, boundsX_, present) &&
         ReadNumber("openslide.bounds-y", level0Height_, boundsY_, present) &&
         ReadSingleRegionNumber("x", level0Width_, regionX_) &&
         ReadSingleRegionNumber("y", level0Height_, regionY_);
}

bool COpenSlideDataHeader::ReadBackground() {
  const char* text = library_.PropertyValue(slide_, "openslide.background-color");
  if (text == nullptr) return true;
  std::int64_t value = 0;
  if (!ParseUnsigned(text, 16, 0xFFFFFF, value)) return false;
  background_.present = true;
  background_.red = static_cast<unsigned char>(value >> 16);
  background_.green = static_cast<unsigned char>(value >> 8);
  background_.blue = static_cast<unsigned char>(value);
  return true;
}

bool COpenSlideDataHeader::ReadLevels() {
  const std::int32_t count = library_.LevelCount(slide_);
  if (count < 0 || count > kMaxLevels) return false;
  levels_.clear();
  double previous = 0.0;
  for (std::int32_t level = 0; level < count; ++level) {
    OpenSlideLevel entry;
    entry.width = entry.height = -1;
    library_.LevelDimensions(slide_, level, &entry.width, &entry.height);
    entry.downsample = library_.LevelDownsample(slide_, level);
    if (entry.width == -1 && entry.height == -1 && std::isfinite(entry.downsample) &&
        entry.downsample >= 1.0) {
      // A library without the level-size function: the level is level 0
      // reduced by its downsample.
      entry.width = static_cast<std::int64_t>(std::ceil(level0Width_ / entry.downsample));
      entry.height = static_cast<std::int64_t>(std::ceil(level0Height_ / entry.downsample));
    }
    // Unusable levels leave the slide without levels: reads then deliver
    // nothing, the header facts stay available.
    if (entry.width < 0 || entry.height < 0 || entry.width > level0Width_ ||
        entry.height > level0Height_ || !std::isfinite(entry.downsample) ||
        entry.downsample < 1.0 || entry.downsample < previous) {
      levels_.clear();
      return true;
    }
    previous = entry.downsample;
    levels_.push_back(entry);
  }
  return true;
}

int COpenSlideDataHeader::GetWidth() { return static_cast<int>(width_); }
int COpenSlideDataHeader::GetHeight() { return static_cast<int>(height_); }

int COpenSlideDataHeader::GetScanScale() {
  return objectivePower_ == nullptr ? -1 : std::atoi(objectivePower_);
}

int COpenSlideDataHeader::GetSpendTime() { return 0; }
std::int64_t COpenSlideDataHeader::GetScanTime() { return 0; }
float COpenSlideDataHeader::GetCaptureResolution() { return 0.0f; }
float COpenSlideDataHeader::GetVersion() { return 1.0f; }
int COpenSlideDataHeader::GetBlockSize() { return 256; }
int COpenSlideDataHeader::GetIntItem(int) {
  return slide_ != nullptr ? library_.LevelCount(slide_) : static_cast<int>(levels_.size());
}
const char* COpenSlideDataHeader::GetTextItem(int) { return ""; }

void COpenSlideDataHeader::LevelExtent(std::size_t level, std::int64_t& width,
                                       std::int64_t& height) const {
  const OpenSlideLevel& entry = levels_[level];
  width = std::min<std::int64_t>(entry.width,
                                 static_cast<std::int64_t>(std::ceil(width_ / entry.downsample)));
  height = std::min<std::int64_t>(entry.height,
                                  static_cast<std::int64_t>(std::ceil(height_ / entry.downsample)));
}
