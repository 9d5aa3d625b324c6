#include "strata/slide.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <limits>

#include "strata/model/failure_note.h"
#include "strata/model/region_geometry.h"
#include "strata/model/slide_format.h"
#include "strata/platform/directory.h"
#include "strata/platform/file_io.h"
#include "strata/slide/format_registry.h"

namespace strata {
namespace {

// Decoded tiles a slide keeps unless told otherwise (about 170 tiles of
// 256 x 256).
constexpr std::size_t kDefaultCacheBytes = 32u << 20;
// The budget of one read, as the C exports have it.
constexpr std::uint64_t kReadBudgetBytes = 512ull << 20;

bool IsUrl(const std::string& location) { return location.find("http://") != std::string::npos; }

// The shortest decimal text that reads back as the same double, without an
// exponent for the numbers slides have ("20", not "2e+01").
std::string NumberText(double value) {
  const double magnitude = std::fabs(value);
  const bool plain = magnitude == 0 || (magnitude >= 1e-4 && magnitude < 1e15);
  char text[40];
  for (int digits = 1; digits <= 17; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, value);
    if (std::strtod(text, nullptr) == value && (!plain || std::strchr(text, 'e') == nullptr)) break;
  }
  return text;
}

// The common keys of the field's standard reader, computed from the facts
// for formats whose own reader does not report them.
void AddCommonProperties(const SlideDescription& description,
                         std::map<std::string, std::string>& properties) {
  if (properties.count("openslide.vendor") != 0) return;
  const SlideFacts& facts = description.facts;
  properties["openslide.vendor"] = facts.format;
  if (facts.objectivePower > 0) {
    properties["openslide.objective-power"] = NumberText(facts.objectivePower);
  }
  if (facts.micronsPerPixelX > 0) properties["openslide.mpp-x"] = NumberText(facts.micronsPerPixelX);
  if (facts.micronsPerPixelY > 0) properties["openslide.mpp-y"] = NumberText(facts.micronsPerPixelY);
  properties["openslide.level-count"] = std::to_string(description.levels.size());
  for (std::size_t n = 0; n < description.levels.size(); ++n) {
    const SlideLevel& level = description.levels[n];
    const std::string prefix = "openslide.level[" + std::to_string(n) + "].";
    properties[prefix + "width"] = std::to_string(level.width);
    properties[prefix + "height"] = std::to_string(level.height);
    properties[prefix + "downsample"] = NumberText(level.downsample);
    if (level.tileWidth > 0) properties[prefix + "tile-width"] = std::to_string(level.tileWidth);
    if (level.tileHeight > 0) properties[prefix + "tile-height"] = std::to_string(level.tileHeight);
  }
}

Status OpenFormat(const std::string& location, std::unique_ptr<SlideFormat>* format) {
  if (location.find('\0') != std::string::npos) {
    return Status::InvalidArgument("the slide path holds a zero byte");
  }
  // A folder is a slide when it holds a DICOM series.
  if (!IsUrl(location) && platform::IsDirectory(location)) {
    const FormatEntry* folder = FormatForFolder(location);
    if (folder != nullptr) return folder->open(location, format);
  }
  const Status usable = CheckSlideLocation(location);
  if (!usable.ok()) return usable;
  const FormatEntry* entry = FormatByName(location.c_str());
  std::string detected;
  if (entry == nullptr) entry = FormatByContent(location, &detected);
  if (entry == nullptr) return NotASlide(location);
  return entry->open(location, format);
}

// Runs a read; whatever it throws becomes a failure with a reason.
template <typename Read>
Status Guard(const char* what, Read&& read) {
  try {
    return read();
  } catch (const std::bad_alloc&) {
    return Status::TooLarge(std::string("out of memory ") + what);
  } catch (const std::exception& e) {
    return Status::Damaged(std::string("failed ") + what + ": " + e.what());
  }
}

}  // namespace

Slide::Slide(std::string location, std::unique_ptr<SlideFormat> format)
    : location_(std::move(location)),
      format_(std::move(format)),
      properties_(format_->Description().properties),
      cache_(std::make_shared<TileCache>(kDefaultCacheBytes)),
      owner_(TileCache::NewOwner()) {
  AddCommonProperties(format_->Description(), properties_);
}

Slide::~Slide() = default;

Status Slide::Open(const std::string& location, std::unique_ptr<Slide>* slide) {
  slide->reset();
  std::unique_ptr<SlideFormat> format;
  ClearNotedFailure();
  Status opened = Guard("opening", [&] { return OpenFormat(location, &format); });
  if (!opened.ok()) opened = PreferTransportFailure(location, opened);
  if (!opened.ok()) return location.empty() ? opened : opened.Prefixed(location);
  slide->reset(new Slide(location, std::move(format)));
  return Status::Ok();
}

std::string Slide::DetectFormat(const std::string& path) {
  if (!IsUrl(path) && platform::IsDirectory(path)) {
    const FormatEntry* folder = FormatForFolder(path);
    return folder == nullptr ? "" : folder->format;
  }
  if (!CheckSlideLocation(path).ok()) return "";
  std::string format;
  const FormatEntry* entry = FormatByContent(path, &format);
  return entry == nullptr ? "" : format;
}

const SlideFacts& Slide::Facts() const { return format_->Description().facts; }

const std::vector<SlideLevel>& Slide::Levels() const { return format_->Description().levels; }

const std::map<std::string, std::string>& Slide::Properties() const { return properties_; }

const std::string& Slide::IccProfile() const { return format_->Description().iccProfile; }

const std::vector<std::string>& Slide::AssociatedImageNames() const {
  return format_->Description().associatedImages;
}

int Slide::BestLevelForDownsample(double downsample) const {
  const std::vector<SlideLevel>& levels = Levels();
  int best = 0;
  for (std::size_t n = 0; n < levels.size(); ++n) {
    if (levels[n].downsample <= downsample * (1 + 1e-9)) best = static_cast<int>(n);
  }
  return best;
}

std::uint64_t Slide::ReadBudgetBytes() { return kReadBudgetBytes; }

Status Slide::CheckLevel(int level) const {
  if (level < 0 || level >= static_cast<int>(Levels().size())) {
    return Status::OutOfRange("level " + std::to_string(level) + " is out of range 0.." +
                              std::to_string(Levels().size() - 1));
  }
  return Status::Ok();
}

Status Slide::CheckSize(int width, int height, int channels) const {
  if (width < 0 || height < 0) {
    return Status::InvalidArgument("width and height must not be negative, got " +
                                   std::to_string(width) + " x " + std::to_string(height));
  }
  const std::uint64_t bytes = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) *
                              static_cast<std::uint64_t>(channels);
  if (bytes > kReadBudgetBytes || !FitsRegionMemoryBudget(bytes)) {
    return Status::TooLarge("a " + std::to_string(width) + " x " + std::to_string(height) +
                            " read is over the memory budget of " +
                            std::to_string(kReadBudgetBytes >> 20) + " MiB");
  }
  return Status::Ok();
}

Status Slide::ReadTile(int level, std::int64_t column, std::int64_t row, Tile* tile) const {
  Status checked = CheckLevel(level);
  if (!checked.ok()) return checked;
  if (column < 0 || row < 0) {
    return Status::InvalidArgument("tile column and row must not be negative");
  }
  return Guard("reading a tile", [&] { return format_->ReadTile(level, column, row, tile); });
}

Status Slide::ReadTilePixels(int level, std::int64_t column, std::int64_t row, Image* rgb) const {
  Tile tile;
  Status read = ReadTile(level, column, row, &tile);
  if (!read.ok()) return read;
  int width = 0;
  int height = 0;
  const PixelBuffer pixels = format_->DecodeTile(level, tile, width, height);
  if (pixels == nullptr) {
    return Status::Damaged("the tile at column " + std::to_string(column) + ", row " +
                           std::to_string(row) + " of level " + std::to_string(level) +
                           " does not decode");
  }
  rgb->width = width;
  rgb->height = height;
  rgb->channels = 3;
  rgb->pixels.assign(pixels.get(), pixels.get() + static_cast<std::size_t>(width) * height * 3);
  return Status::Ok();
}

Status Slide::ReadRegion(int level, std::int64_t x, std::int64_t y, int width, int height,
                         Image* rgba) const {
  Status checked = CheckLevel(level);
  if (checked.ok()) checked = CheckSize(width, height, 4);
  if (!checked.ok()) return checked;
  const std::shared_ptr<TileCache> cache = std::atomic_load(&cache_);
  const TileCacheUse use{cache != nullptr && cache->CapacityBytes() > 0 ? cache.get() : nullptr,
                         owner_};
  return Guard("reading a region",
               [&] { return format_->ReadRegion(level, x, y, width, height, use, rgba); });
}

Status Slide::ReadScaled(double scale, std::int64_t x, std::int64_t y, int width, int height,
                         Image* rgb) const {
  if (!std::isfinite(scale) || scale <= 0) {
    return Status::InvalidArgument("the scale must be a positive number");
  }
  if (width <= 0 || height <= 0) {
    return Status::InvalidArgument("width and height must be positive, got " +
                                   std::to_string(width) + " x " + std::to_string(height));
  }
  Status checked = CheckSize(width, height, 3);
  if (!checked.ok()) return checked;
  return Guard("reading a region",
               [&] { return format_->ReadScaled(scale, x, y, width, height, rgb); });
}

Status Slide::ReadAssociatedImage(const std::string& name, Image* rgb) const {
  const std::vector<std::string>& names = AssociatedImageNames();
  if (std::find(names.begin(), names.end(), name) == names.end()) {
    return Status::NotFound("the slide has no associated image \"" + name + "\"");
  }
  return Guard("reading an associated image",
               [&] { return format_->ReadAssociatedImage(name, rgb); });
}

void Slide::SetCache(std::shared_ptr<TileCache> cache) { std::atomic_store(&cache_, std::move(cache)); }

}  // namespace strata
