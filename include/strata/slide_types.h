// The values a slide hands out: its facts, its levels, pixels and tiles.
// Plain data, free of dependencies, shared by every layer of the library and
// by C++ consumers (strata/slide.h).
#ifndef STRATA_SLIDE_TYPES_H_
#define STRATA_SLIDE_TYPES_H_

#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace strata {

// An allocator that leaves new elements uninitialised, for byte buffers that
// are sized first and then written in full (decoded regions, fetched ranges):
// clearing them first would double the memory traffic.
template <typename T>
struct UninitializedAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = UninitializedAllocator<U>;
  };
  UninitializedAllocator() = default;
  template <typename U>
  UninitializedAllocator(const UninitializedAllocator<U>&) noexcept {}
  template <typename U>
  void construct(U* place) noexcept {
    ::new (static_cast<void*>(place)) U;
  }
  template <typename U, typename... Arguments>
  void construct(U* place, Arguments&&... arguments) {
    ::new (static_cast<void*>(place)) U(std::forward<Arguments>(arguments)...);
  }
};

using UninitializedBytes = std::vector<unsigned char, UninitializedAllocator<unsigned char>>;

// One level of the stored pyramid, finest first. Level 0 is the slide at
// full resolution; `downsample` says how many level-0 pixels one pixel of
// the level spans.
struct SlideLevel {
  std::int64_t width = 0;
  std::int64_t height = 0;
  double downsample = 1.0;
  // The level's tile grid; 0 when the format reads the level as a whole.
  int tileWidth = 0;
  int tileHeight = 0;
};

// What a slide says about itself. Numbers that the slide does not record
// are 0 (and the flags false).
struct SlideFacts {
  // The format by its customary name: "ztx", "aperio", "generic-tiff",
  // "hamamatsu", "mirax", "ventana", "motic", "dmetrix", "tmap", ...
  std::string format;
  std::int64_t width = 0;  // level 0
  std::int64_t height = 0;
  double objectivePower = 0;  // magnification of level 0
  double micronsPerPixelX = 0;
  double micronsPerPixelY = 0;
  bool hasScanTime = false;
  std::int64_t scanTime = 0;      // seconds since 1970-01-01 UTC
  double scanDurationSeconds = 0;  // how long the scan took
  float version = 0;               // the format's version number
};

// Pixels, rows top-down without padding: 3 channels (RGB) or 4 (RGBA, not
// premultiplied).
struct Image {
  int width = 0;
  int height = 0;
  int channels = 0;
  UninitializedBytes pixels;

  bool empty() const { return width <= 0 || height <= 0; }
};

enum class TileEncoding {
  kJpeg,  // a complete JPEG stream any decoder reads
  kBmp,   // a 24-bit BMP stream
  kRgb,   // decoded pixels, width * height * 3 bytes
};

// One tile as the slide stores it (or, for formats that store none, as
// pixels).
struct Tile {
  TileEncoding encoding = TileEncoding::kJpeg;
  std::vector<unsigned char> bytes;
  // The tile's size in pixels; for encoded streams as the grid cell says
  // (an edge tile may decode larger).
  int width = 0;
  int height = 0;
};

}  // namespace strata

#endif  // STRATA_SLIDE_TYPES_H_
