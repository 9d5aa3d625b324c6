// One open slide for the Python package: owns the library handle, answers
// header facts, stored levels and property items, and reads regions and
// tiles into buffers of its own. Reads may run on many threads at once;
// Close waits for them and later calls fail with SlideClosed.
#ifndef STRATA_PYTHON_NATIVE_SLIDE_H_
#define STRATA_PYTHON_NATIVE_SLIDE_H_

#include <cstdint>
#include <memory>
#include <shared_mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "python/tile_cache.h"
#include "strata/interface/image_operation_manager.h"
#include "strata/model/uninitialized_allocator.h"

namespace strata::python {

// Raised for everything that is the slide's fault, with a one-line reason.
class SlideFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Raised for arguments no slide could satisfy (negative sizes, bad levels).
class BadArgument : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

struct HeaderFacts {
  int width = 0;
  int height = 0;
  int scanScale = 0;
  int blockSize = 0;
  float captureResolution = 0.0f;
  double scanTime = 0.0;   // seconds since 1970, 0 when unknown
  float spendTime = 0.0f;  // milliseconds
  float version = 0.0f;    // 0 when the format has none
  std::string serial;
  int channelCount = 0;
  std::vector<std::string> channels;
  bool hasDuration = false;
  int duration[9] = {};  // year, month, day, hour, minute, second, h, m, s taken
};

struct Level {
  float scale = 0.0f;
  int width = 0;
  int height = 0;
  int tileWidth = 0;
  int tileHeight = 0;
};

struct PropertyItem {
  int identifier = 0;
  std::string value;  // raw bytes
};

// Pixels owned by us (never by the library), rows top-down without padding.
struct Pixels {
  int width = 0;
  int height = 0;
  int channels = 0;
  strata::UninitializedBytes bytes;
};

// Buffers the library hands out, released through the library.
struct LibraryBufferRelease {
  void operator()(unsigned char* data) const;
};
using LibraryBuffer = std::unique_ptr<unsigned char, LibraryBufferRelease>;

// The largest buffer one read may produce: 512 MiB, the library's own bound.
constexpr std::int64_t kReadBudgetBytes = 512LL * 1024 * 1024;
// Decoded tiles kept per open slide (about 170 tiles of 256 x 256).
constexpr std::size_t kTileCacheBytes = 32u * 1024 * 1024;

class NativeSlide {
 public:
  explicit NativeSlide(const std::string& path);
  ~NativeSlide();
  NativeSlide(const NativeSlide&) = delete;
  NativeSlide& operator=(const NativeSlide&) = delete;

  void Close();
  bool Closed() const;
  const std::string& Path() const { return path_; }

  const HeaderFacts& Facts() const { return facts_; }
  const std::vector<Level>& Levels() const { return levels_; }
  std::vector<PropertyItem> Items() const;

  // RGBA pixels of a w x h rectangle at (x, y) in the pixels of `level`;
  // transparent (all zero) outside the level.
  Pixels ReadRegion(int level, std::int64_t x, std::int64_t y, int width, int height) const;
  // RGB pixels of the library's any-scale region, white outside the slide.
  Pixels ReadScaled(int x, int y, int width, int height, double scale) const;
  // One stored tile decoded to RGB, by grid column and row; empty when absent.
  Pixels ReadTile(int level, int column, int row) const;
  // One stored tile as its encoded stream; empty when absent.
  std::string ReadTileStream(int level, int column, int row) const;
  // An associated image's stream as the format stores it ("label",
  // "preview", "thumbnail"); empty when the slide has none.
  std::string AssociatedImage(const std::string& name) const;

 private:
  IMAGE_INFO_STRUCT HandleFor(std::shared_lock<std::shared_mutex>& lock) const;
  const Level& LevelAt(int level) const;
  void LoadFacts();
  void LoadLevels();
  std::shared_ptr<const DecodedTile> CachedTile(int levelIndex, int column, int row) const;
  void PaintTile(int levelIndex, int column, int row, std::int64_t x, std::int64_t y,
                 Pixels& out) const;
  static void ClearOutside(std::int64_t left, std::int64_t top, std::int64_t right,
                           std::int64_t bottom, std::int64_t x, std::int64_t y, Pixels& out);
  static void ClearRect(std::int64_t left, std::int64_t top, std::int64_t right,
                        std::int64_t bottom, std::int64_t x, std::int64_t y, Pixels& out);

  std::string path_;
  mutable std::shared_mutex lock_;
  IMAGE_INFO_STRUCT handle_{nullptr};
  HeaderFacts facts_;
  std::vector<Level> levels_;
  mutable TileCache cache_;
};

}  // namespace strata::python

#endif  // STRATA_PYTHON_NATIVE_SLIDE_H_
