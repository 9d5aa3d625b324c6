// A stand-in for the OpenSlide library, built only for the tests. It exports
// the OpenSlide functions and serves levels, properties, associated images
// and pixels from a script that a test sets with openslide_standin_script:
//
//   level=W,H,DOWNSAMPLE      one per level, finest first
//   prop.NAME=VALUE           a property
//   image.NAME=W,H            an associated image (opaque, one colour)
//   image-fail=NAME           reading that image sets the error
//   alpha=A                   alpha of every region pixel (colours premultiplied)
//   open=fail                 openslide_open returns null
//   read-fail=1               every region read sets the error
//
// Region pixels depend on level-0 position (X, Y): red (3X + Y) % 251, green
// (X + 5Y) % 253, blue 40 * level + 7, each then premultiplied by alpha.
// Built twice: complete, and with STANDIN_PARTIAL without the read functions.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Level {
  std::int64_t width;
  std::int64_t height;
  double downsample;
};

struct Image {
  std::int64_t width;
  std::int64_t height;
};

struct Script {
  std::vector<Level> levels;
  std::map<std::string, std::string> properties;
  std::map<std::string, Image> images;
  std::vector<std::string> imageOrder;
  std::string failingImage;
  std::uint32_t alpha = 255;
  bool openFails = false;
  bool readFails = false;
};

struct Slide {
  Script script;
  std::vector<const char*> names;
  std::vector<const char*> propertyNames;
  std::string error;
};

std::mutex gLock;
Script gScript;
std::int64_t gLastRead[5] = {0, 0, -1, 0, 0};

void Parse(const char* text) {
  Script script;
  std::istringstream lines(text == nullptr ? "" : text);
  std::string line;
  while (std::getline(lines, line)) {
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals);
    const std::string value = line.substr(equals + 1);
    if (key == "level") {
      Level level{};
      std::sscanf(value.c_str(), "%ld,%ld,%lf", &level.width, &level.height, &level.downsample);
      script.levels.push_back(level);
    } else if (key.rfind("prop.", 0) == 0) {
      script.properties[key.substr(5)] = value;
    } else if (key.rfind("image.", 0) == 0) {
      Image image{};
      std::sscanf(value.c_str(), "%ld,%ld", &image.width, &image.height);
      script.images[key.substr(6)] = image;
      script.imageOrder.push_back(key.substr(6));
    } else if (key == "image-fail") {
      script.failingImage = value;
    } else if (key == "alpha") {
      script.alpha = static_cast<std::uint32_t>(std::atoi(value.c_str()));
    } else if (key == "open") {
      script.openFails = value == "fail";
    } else if (key == "read-fail") {
      script.readFails = value == "1";
    }
  }
  gScript = script;
}

[[maybe_unused]] std::uint32_t Premultiplied(std::uint32_t channel, std::uint32_t alpha) {
  return channel * alpha / 255;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void openslide_standin_script(const char* text) {
  std::lock_guard<std::mutex> guard(gLock);
  Parse(text);
}

// x, y, level, w, h of the last region read.
__attribute__((visibility("default"))) void openslide_standin_last_read(std::int64_t out[5]) {
  std::lock_guard<std::mutex> guard(gLock);
  std::memcpy(out, gLastRead, sizeof gLastRead);
}

__attribute__((visibility("default"))) void* openslide_open(const char*) {
  std::lock_guard<std::mutex> guard(gLock);
  if (gScript.openFails) return nullptr;
  Slide* slide = new Slide{gScript, {}, {}, {}};
  for (const std::string& name : slide->script.imageOrder) {
    slide->names.push_back(slide->script.images.find(name)->first.c_str());
  }
  slide->names.push_back(nullptr);
  for (const auto& property : slide->script.properties) {
    slide->propertyNames.push_back(property.first.c_str());
  }
  slide->propertyNames.push_back(nullptr);
  return slide;
}

__attribute__((visibility("default"))) void openslide_close(void* handle) {
  delete static_cast<Slide*>(handle);
}

__attribute__((visibility("default"))) std::int32_t openslide_get_level_count(void* handle) {
  return static_cast<std::int32_t>(static_cast<Slide*>(handle)->script.levels.size());
}

__attribute__((visibility("default"))) void openslide_get_level_dimensions(void* handle,
                                                                           std::int32_t level,
                                                                           std::int64_t* w,
                                                                           std::int64_t* h) {
  const Script& script = static_cast<Slide*>(handle)->script;
  if (level < 0 || static_cast<std::size_t>(level) >= script.levels.size()) {
    *w = *h = -1;
    return;
  }
  *w = script.levels[level].width;
  *h = script.levels[level].height;
}

__attribute__((visibility("default"))) void openslide_get_level0_dimensions(void* handle,
                                                                            std::int64_t* w,
                                                                            std::int64_t* h) {
  openslide_get_level_dimensions(handle, 0, w, h);
}

__attribute__((visibility("default"))) double openslide_get_level_downsample(void* handle,
                                                                             std::int32_t level) {
  const Script& script = static_cast<Slide*>(handle)->script;
  if (level < 0 || static_cast<std::size_t>(level) >= script.levels.size()) return -1.0;
  return script.levels[level].downsample;
}

__attribute__((visibility("default"))) const char* openslide_get_property_value(void* handle,
                                                                                const char* name) {
  const Script& script = static_cast<Slide*>(handle)->script;
  const auto found = script.properties.find(name);
  return found == script.properties.end() ? nullptr : found->second.c_str();
}

__attribute__((visibility("default"))) void openslide_get_associated_image_dimensions(
    void* handle, const char* name, std::int64_t* w, std::int64_t* h) {
  const Script& script = static_cast<Slide*>(handle)->script;
  const auto found = script.images.find(name);
  *w = found == script.images.end() ? -1 : found->second.width;
  *h = found == script.images.end() ? -1 : found->second.height;
}

__attribute__((visibility("default"))) const char* openslide_get_error(void* handle) {
  Slide* slide = static_cast<Slide*>(handle);
  return slide->error.empty() ? nullptr : slide->error.c_str();
}

#ifndef STANDIN_PARTIAL

__attribute__((visibility("default"))) std::int32_t openslide_get_best_level_for_downsample(
    void* handle, double downsample) {
  const Script& script = static_cast<Slide*>(handle)->script;
  std::int32_t best = 0;
  for (std::size_t i = 0; i < script.levels.size(); ++i) {
    if (script.levels[i].downsample <= downsample) best = static_cast<std::int32_t>(i);
  }
  return best;
}

__attribute__((visibility("default"))) const char* const* openslide_get_property_names(
    void* handle) {
  return static_cast<Slide*>(handle)->propertyNames.data();
}

__attribute__((visibility("default"))) const char* const* openslide_get_associated_image_names(
    void* handle) {
  return static_cast<Slide*>(handle)->names.data();
}

__attribute__((visibility("default"))) void openslide_read_associated_image(void* handle,
                                                                            const char* name,
                                                                            std::uint32_t* dest) {
  Slide* slide = static_cast<Slide*>(handle);
  const auto found = slide->script.images.find(name);
  if (found == slide->script.images.end() || slide->script.failingImage == name) {
    slide->error = "cannot read associated image";
    return;
  }
  const std::size_t count = static_cast<std::size_t>(found->second.width * found->second.height);
  const std::uint32_t colour = 0xFF000000u | (static_cast<std::uint32_t>(std::strlen(name)) * 20);
  for (std::size_t i = 0; i < count; ++i) dest[i] = colour;
}

__attribute__((visibility("default"))) void openslide_read_region(void* handle, std::uint32_t* dest,
                                                                  std::int64_t x, std::int64_t y,
                                                                  std::int32_t level,
                                                                  std::int64_t w, std::int64_t h) {
  Slide* slide = static_cast<Slide*>(handle);
  {
    std::lock_guard<std::mutex> guard(gLock);
    const std::int64_t record[5] = {x, y, level, w, h};
    std::memcpy(gLastRead, record, sizeof record);
  }
  const Script& script = slide->script;
  if (script.readFails || level < 0 || static_cast<std::size_t>(level) >= script.levels.size()) {
    slide->error = "cannot read region";
    std::memset(dest, 0, static_cast<std::size_t>(w * h) * 4);
    return;
  }
  const double downsample = script.levels[level].downsample;
  const std::uint32_t alpha = script.alpha;
  for (std::int64_t row = 0; row < h; ++row) {
    const std::int64_t levelY = y + static_cast<std::int64_t>(row * downsample);
    for (std::int64_t column = 0; column < w; ++column) {
      const std::int64_t levelX = x + static_cast<std::int64_t>(column * downsample);
      const std::uint32_t red = static_cast<std::uint32_t>((levelX * 3 + levelY) % 251);
      const std::uint32_t green = static_cast<std::uint32_t>((levelX + levelY * 5) % 253);
      const std::uint32_t blue = static_cast<std::uint32_t>(40 * level + 7);
      dest[row * w + column] = alpha << 24 | Premultiplied(red, alpha) << 16 |
                               Premultiplied(green, alpha) << 8 | Premultiplied(blue, alpha);
    }
  }
}

#endif  // STANDIN_PARTIAL

}  // extern "C"
