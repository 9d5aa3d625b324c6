#include "strata/foreign/openslide_library.h"

#include <map>
#include <string>

#include "strata/platform/dynamic_library.h"
#include "strata/platform/file_io.h"
#include "strata/platform/lock.h"

namespace strata::foreign {
namespace {

// The function types of the OpenSlide C interface.
using OpenFunction = void* (*)(const char*);
using CloseFunction = void (*)(void*);
using LevelCountFunction = std::int32_t (*)(void*);
using Level0DimensionsFunction = void (*)(void*, std::int64_t*, std::int64_t*);
using LevelDimensionsFunction = void (*)(void*, std::int32_t, std::int64_t*, std::int64_t*);
using LevelDownsampleFunction = double (*)(void*, std::int32_t);
using BestLevelFunction = std::int32_t (*)(void*, double);
using PropertyValueFunction = const char* (*)(void*, const char*);
using ImageNamesFunction = const char* const* (*)(void*);
using ImageDimensionsFunction = void (*)(void*, const char*, std::int64_t*, std::int64_t*);
using ReadImageFunction = void (*)(void*, const char*, std::uint32_t*);
using ReadRegionFunction = void (*)(void*, std::uint32_t*, std::int64_t, std::int64_t, std::int32_t,
                                    std::int64_t, std::int64_t);
using ErrorFunction = const char* (*)(void*);
using PropertyNamesFunction = const char* const* (*)(void*);
using DetectVendorFunction = const char* (*)(const char*);
using VersionFunction = const char* (*)();

// The file that the logical name "libAltSlide.dll" stands for on Debian
// (package libopenslide0).
constexpr char kPlatformFile[] = "libopenslide.so.0";
constexpr char kOverrideVariable[] = "STRATA_OPENSLIDE_LIBRARY";

// Loaded modules by file name (a failed load is remembered as null); never
// unloaded, since handles and their pixels may outlive any one slide.
struct ModuleCache {
  platform::Lock lock;
  std::map<std::string, void*> modules;
};

ModuleCache& Cache() {
  static ModuleCache* cache = new ModuleCache();  // lives until exit
  return *cache;
}

template <typename Function>
Function As(void* symbol) {
  return reinterpret_cast<Function>(symbol);
}

}  // namespace

const char* OpenSlideLibrary::FileName() {
  const char* chosen = platform::EnvironmentValue(kOverrideVariable);
  if (chosen != nullptr && chosen[0] != '\0') return chosen;
  return kPlatformFile;
}

OpenSlideLibrary OpenSlideLibrary::Current() {
  const std::string file = FileName();
  ModuleCache& cache = Cache();
  platform::ScopedLock guard(cache.lock);
  const auto found = cache.modules.find(file);
  if (found != cache.modules.end()) return OpenSlideLibrary(found->second);
  void* module = platform::LoadModule(file);
  cache.modules.emplace(file, module);
  return OpenSlideLibrary(module);
}

void* OpenSlideLibrary::Find(const char* name) const { return platform::FindSymbol(module_, name); }

OpenSlideHandle OpenSlideLibrary::Open(const char* path) const {
  const auto call = As<OpenFunction>(Find("openslide_open"));
  return call == nullptr || path == nullptr ? nullptr : call(path);
}

void OpenSlideLibrary::Close(OpenSlideHandle slide) const {
  const auto call = As<CloseFunction>(Find("openslide_close"));
  if (call != nullptr && slide != nullptr) call(slide);
}

std::int32_t OpenSlideLibrary::LevelCount(OpenSlideHandle slide) const {
  const auto call = As<LevelCountFunction>(Find("openslide_get_level_count"));
  return call == nullptr ? 0 : call(slide);
}

void OpenSlideLibrary::Level0Dimensions(OpenSlideHandle slide, std::int64_t* w,
                                        std::int64_t* h) const {
  const auto call = As<Level0DimensionsFunction>(Find("openslide_get_level0_dimensions"));
  if (call != nullptr) call(slide, w, h);
}

void OpenSlideLibrary::LevelDimensions(OpenSlideHandle slide, std::int32_t level, std::int64_t* w,
                                       std::int64_t* h) const {
  const auto call = As<LevelDimensionsFunction>(Find("openslide_get_level_dimensions"));
  if (call != nullptr) call(slide, level, w, h);
}

double OpenSlideLibrary::LevelDownsample(OpenSlideHandle slide, std::int32_t level) const {
  const auto call = As<LevelDownsampleFunction>(Find("openslide_get_level_downsample"));
  return call == nullptr ? 0.0 : call(slide, level);
}

std::int32_t OpenSlideLibrary::BestLevelForDownsample(OpenSlideHandle slide,
                                                      double downsample) const {
  const auto call = As<BestLevelFunction>(Find("openslide_get_best_level_for_downsample"));
  return call == nullptr ? -1 : call(slide, downsample);
}

const char* OpenSlideLibrary::PropertyValue(OpenSlideHandle slide, const char* name) const {
  const auto call = As<PropertyValueFunction>(Find("openslide_get_property_value"));
  return call == nullptr ? nullptr : call(slide, name);
}

const char* const* OpenSlideLibrary::AssociatedImageNames(OpenSlideHandle slide) const {
  const auto call = As<ImageNamesFunction>(Find("openslide_get_associated_image_names"));
  return call == nullptr ? nullptr : call(slide);
}

void OpenSlideLibrary::AssociatedImageDimensions(OpenSlideHandle slide, const char* name,
                                                 std::int64_t* w, std::int64_t* h) const {
  const auto call = As<ImageDimensionsFunction>(Find("openslide_get_associated_image_dimensions"));
  if (call != nullptr) call(slide, name, w, h);
}

bool OpenSlideLibrary::ReadAssociatedImage(OpenSlideHandle slide, const char* name,
                                           std::uint32_t* dest) const {
  const auto call = As<ReadImageFunction>(Find("openslide_read_associated_image"));
  if (call == nullptr) return false;
  call(slide, name, dest);
  return true;
}

bool OpenSlideLibrary::ReadRegion(OpenSlideHandle slide, std::uint32_t* dest, std::int64_t x,
                                  std::int64_t y, std::int32_t level, std::int64_t w,
                                  std::int64_t h) const {
  const auto call = As<ReadRegionFunction>(Find("openslide_read_region"));
  if (call == nullptr) return false;
  call(slide, dest, x, y, level, w, h);
  return true;
}

const char* const* OpenSlideLibrary::PropertyNames(OpenSlideHandle slide) const {
  const auto call = As<PropertyNamesFunction>(Find("openslide_get_property_names"));
  return call == nullptr || slide == nullptr ? nullptr : call(slide);
}

const char* OpenSlideLibrary::DetectVendor(const char* path) const {
  const auto call = As<DetectVendorFunction>(Find("openslide_detect_vendor"));
  return call == nullptr || path == nullptr ? nullptr : call(path);
}

const char* OpenSlideLibrary::Version() const {
  const auto call = As<VersionFunction>(Find("openslide_get_version"));
  return call == nullptr ? nullptr : call();
}

const char* OpenSlideLibrary::Error(OpenSlideHandle slide) const {
  const auto call = As<ErrorFunction>(Find("openslide_get_error"));
  return call == nullptr || slide == nullptr ? nullptr : call(slide);
}

}  // namespace strata::foreign
