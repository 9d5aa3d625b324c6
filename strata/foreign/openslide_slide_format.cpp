#include "strata/foreign/openslide_slide_format.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "strata/foreign/openslide_library.h"
#include "strata/foreign/openslide_pixels.h"
#include "strata/foreign/openslide_regions.h"
#include "strata/foreign/tiff_icc_profile.h"

namespace strata::foreign {
namespace {

int TileSide(const std::map<std::string, std::string>& properties, int level, const char* side) {
  const double value = PositiveNumberProperty(
      properties, "openslide.level[" + std::to_string(level) + "].tile-" + side);
  return value >= 1 && value <= 1 << 16 ? static_cast<int>(value) : 0;
}

BackgroundColour BackgroundOf(const std::map<std::string, std::string>& properties) {
  BackgroundColour colour;
  const auto found = properties.find("openslide.background-color");
  if (found == properties.end()) return colour;
  char* end = nullptr;
  const unsigned long value = std::strtoul(found->second.c_str(), &end, 16);
  if (end == found->second.c_str() || *end != '\0' || value > 0xFFFFFFul) return colour;
  colour.present = true;
  colour.red = static_cast<unsigned char>(value >> 16);
  colour.green = static_cast<unsigned char>(value >> 8);
  colour.blue = static_cast<unsigned char>(value);
  return colour;
}

class OpenSlideFormat : public SlideFormat {
 public:
  OpenSlideFormat(OpenSlideLibrary library, OpenSlideHandle slide)
      : library_(library), slide_(slide) {}
  ~OpenSlideFormat() override { library_.Close(slide_); }

  Status Describe(const std::string& path);

  Status ReadTile(int level, std::int64_t column, std::int64_t row, Tile* tile) const override;
  Status ReadRegion(int level, std::int64_t x, std::int64_t y, int width, int height,
                    const TileCacheUse& cache, Image* rgba) const override;
  Status ReadScaled(double scale, std::int64_t x, std::int64_t y, int width, int height,
                    Image* rgb) const override;
  Status ReadAssociatedImage(const std::string& name, Image* rgb) const override;

 private:
  // The slide's error once OpenSlide reports one, with `what` failed.
  Status Failure(const std::string& what) const;

  OpenSlideLibrary library_;
  OpenSlideHandle slide_;
  BackgroundColour background_;
};

Status OpenSlideFormat::Failure(const std::string& what) const {
  const char* error = library_.Error(slide_);
  return Status::Damaged(what + (error != nullptr ? ": " + std::string(error) : std::string()));
}

Status OpenSlideFormat::Describe(const std::string& path) {
  auto& p = description_.properties;
  if (const char* const* names = library_.PropertyNames(slide_)) {
    for (; *names != nullptr; ++names) {
      const char* value = library_.PropertyValue(slide_, *names);
      p[*names] = value == nullptr ? "" : value;
    }
  }
  const std::int32_t count = library_.LevelCount(slide_);
  for (std::int32_t index = 0; index < count; ++index) {
    SlideLevel level;
    library_.LevelDimensions(slide_, index, &level.width, &level.height);
    level.downsample = library_.LevelDownsample(slide_, index);
    level.tileWidth = TileSide(p, index, "width");
    level.tileHeight = TileSide(p, index, "height");
    if (level.width <= 0 || level.height <= 0 || !(level.downsample >= 1.0) ||
        !std::isfinite(level.downsample)) {
      return Failure("OpenSlide reports an unusable level " + std::to_string(index));
    }
    description_.levels.push_back(level);
  }
  if (description_.levels.empty()) return Failure("OpenSlide reports no levels");
  SlideFacts& facts = description_.facts;
  const auto vendor = p.find("openslide.vendor");
  facts.format = vendor != p.end() ? vendor->second : "openslide";
  facts.width = description_.levels[0].width;
  facts.height = description_.levels[0].height;
  facts.objectivePower = PositiveNumberProperty(p, "openslide.objective-power");
  facts.micronsPerPixelX = PositiveNumberProperty(p, "openslide.mpp-x");
  facts.micronsPerPixelY = PositiveNumberProperty(p, "openslide.mpp-y");
  facts.version = 0;
  if (const char* const* names = library_.AssociatedImageNames(slide_)) {
    for (; *names != nullptr; ++names) description_.associatedImages.emplace_back(*names);
  }
  background_ = BackgroundOf(p);
  // OpenSlide 3 does not tell the profile; TIFF-based slides keep it in the
  // first directory, and other files simply have none.
  description_.iccProfile = ReadTiffIccProfile(path);
  if (library_.Error(slide_) != nullptr) return Failure("OpenSlide cannot read the slide");
  return Status::Ok();
}

Status OpenSlideFormat::ReadRegion(int level, std::int64_t x, std::int64_t y, int width, int height,
                                   const TileCacheUse&, Image* rgba) const {
  if (!AllocateImage(width, height, 4, rgba)) {
    return Status::TooLarge("a " + std::to_string(width) + " x " + std::to_string(height) +
                            " region is over the memory budget");
  }
  if (width == 0 || height == 0) return Status::Ok();
  std::vector<std::uint32_t> argb;
  if (!ReadLevelArgb(library_, slide_, level, x, y, width, height, argb)) {
    return Failure("reading a region failed");
  }
  ConvertArgbToRgba(argb.data(), argb.size(), rgba->pixels.data());
  return Status::Ok();
}

Status OpenSlideFormat::ReadTile(int level, std::int64_t column, std::int64_t row,
                                 Tile* tile) const {
  const SlideLevel& info = description_.levels[static_cast<std::size_t>(level)];
  if (info.tileWidth <= 0 || info.tileHeight <= 0)
    return SlideFormat::ReadTile(level, column, row, tile);
  const std::int64_t left = column * info.tileWidth;
  const std::int64_t top = row * info.tileHeight;
  if (left >= info.width || top >= info.height) {
    return Status::NotFound("level " + std::to_string(level) + " has no tile at column " +
                            std::to_string(column) + ", row " + std::to_string(row));
  }
  const int width = static_cast<int>(std::min<std::int64_t>(info.tileWidth, info.width - left));
  const int height = static_cast<int>(std::min<std::int64_t>(info.tileHeight, info.height - top));
  tile->encoding = TileEncoding::kRgb;
  tile->width = width;
  tile->height = height;
  tile->bytes.resize(static_cast<std::size_t>(width) * height * 3);
  const WindowTarget target{tile->bytes.data(), static_cast<std::size_t>(width) * 3, 3};
  if (!ReadLevelRgbInto(library_, slide_, level, ToLevel0(left, info.downsample),
                        ToLevel0(top, info.downsample), width, height, background_, target)) {
    return Failure("reading a tile failed");
  }
  return Status::Ok();
}

Status OpenSlideFormat::ReadScaled(double scale, std::int64_t x, std::int64_t y, int width,
                                   int height, Image* rgb) const {
  std::vector<double> downsamples;
  for (const SlideLevel& level : description_.levels) downsamples.push_back(level.downsample);
  LevelWindowSource source(
      description_.facts.width, description_.facts.height, BaseScale(), std::move(downsamples),
      [this](int level, std::int64_t lx, std::int64_t ly, int w, int h,
             const WindowTarget& target) {
        return ReadLevelRgbInto(library_, slide_, level, lx, ly, w, h, background_, target);
      });
  const Status composed = ComposeInto(source, scale, x, y, width, height, rgb);
  if (!composed.ok() && library_.Error(slide_) != nullptr)
    return Failure("reading a region failed");
  return composed;
}

Status OpenSlideFormat::ReadAssociatedImage(const std::string& name, Image* rgb) const {
  std::int64_t width = -1;
  std::int64_t height = -1;
  library_.AssociatedImageDimensions(slide_, name.c_str(), &width, &height);
  if (width <= 0 || height <= 0 || width > INT_MAX || height > INT_MAX) {
    if (library_.Error(slide_) != nullptr) return Failure("reading the " + name + " image failed");
    return Status::NotFound("the slide has no associated image \"" + name + "\"");
  }
  std::vector<std::uint32_t> argb;
  if (!AllocateImage(static_cast<int>(width), static_cast<int>(height), 3, rgb)) {
    return Status::TooLarge("the " + name + " image is over the memory budget");
  }
  try {
    argb.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  } catch (const std::bad_alloc&) {
    return Status::TooLarge("the " + name + " image is over the memory budget");
  }
  if (!library_.ReadAssociatedImage(slide_, name.c_str(), argb.data()) ||
      library_.Error(slide_) != nullptr) {
    return Failure("reading the " + name + " image failed");
  }
  CopyArgbColours(argb.data(), argb.size(), rgb->pixels.data());
  return Status::Ok();
}

}  // namespace

std::string OpenSlideVendorOf(const std::string& path) {
  const OpenSlideLibrary library = OpenSlideLibrary::Current();
  const char* vendor = library.DetectVendor(path.c_str());
  return vendor == nullptr ? "" : vendor;
}

Status OpenOpenSlideSlide(const std::string& path, std::unique_ptr<SlideFormat>* format) {
  const OpenSlideLibrary library = OpenSlideLibrary::Current();
  if (!library.Loaded()) {
    return Status::Unsupported(std::string("OpenSlide is not available (") +
                               OpenSlideLibrary::FileName() + " cannot be loaded)");
  }
  const OpenSlideHandle handle = library.Open(path.c_str());
  if (handle == nullptr) return Status::UnsupportedFormat("OpenSlide does not recognise the file");
  auto made = std::make_unique<OpenSlideFormat>(library, handle);
  // A file OpenSlide recognised but cannot read: its own words say why.
  if (const char* error = library.Error(handle)) {
    return Status::Damaged(std::string("OpenSlide: ") + error);
  }
  const Status described = made->Describe(path);
  if (!described.ok()) return described;
  *format = std::move(made);
  return Status::Ok();
}

}  // namespace strata::foreign
