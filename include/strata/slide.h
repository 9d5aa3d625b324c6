// One slide with its pyramid, whatever its format: the C++ way into the
// library. Open a local path or an http:// URL, read the slide's facts and
// levels, then tiles, regions and associated images.
//
//   std::unique_ptr<strata::Slide> slide;
//   strata::Status opened = strata::Slide::Open("scan.svs", &slide);
//   if (!opened.ok()) { std::cerr << opened.message() << "\n"; return 1; }
//   strata::Image region;
//   slide->ReadRegion(0, 1000, 1000, 512, 512, &region);   // RGBA
//
// Levels are numbered from 0 (full resolution), finest first. Regions take
// their position in level-0 pixels and their size in pixels of the level,
// as the field's readers do. Every read may run on many threads at once;
// failures come back as a Status whose message says why.
#ifndef STRATA_SLIDE_H_
#define STRATA_SLIDE_H_

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "strata/export.h"
#include "strata/slide_types.h"
#include "strata/status.h"
#include "strata/tile_cache.h"

namespace strata {

class SlideFormat;

class STRATA_API Slide {
 public:
  // Opens a slide. The format is chosen by the file name where the name
  // says it (".ztx", ".svs", ".ndpi", ...), otherwise by the file's content.
  // On failure *slide is left empty and the status says why: no such file,
  // a directory, not a slide (with its first bytes), damage, HTTP status.
  static Status Open(const std::string& location, std::unique_ptr<Slide>* slide);

  // The format a file holds, by its content: "ztx", "aperio",
  // "generic-tiff", "hamamatsu", ...; "" when it is no slide this library
  // opens (or cannot be read).
  static std::string DetectFormat(const std::string& path);

  ~Slide();
  Slide(const Slide&) = delete;
  Slide& operator=(const Slide&) = delete;

  const std::string& Location() const { return location_; }
  const SlideFacts& Facts() const;
  // Never empty; level 0 first.
  const std::vector<SlideLevel>& Levels() const;
  // Every key the format's own reader reports ("ztx.*", "aperio.*",
  // "tiff.*", "openslide.*", ...) and, for formats whose reader has none,
  // the common "openslide.*" keys computed from the facts.
  const std::map<std::string, std::string>& Properties() const;
  // The slide's ICC colour profile; empty when it has none.
  const std::string& IccProfile() const;
  // Names of the associated images ("label", "macro", "thumbnail", ...).
  const std::vector<std::string>& AssociatedImageNames() const;

  // The level whose downsample is the largest not above `downsample`.
  int BestLevelForDownsample(double downsample) const;

  // The tile at (column, row) of the level's grid: its stored bytes where
  // the slide stores tiles (kJpeg streams are whole: any decoder reads
  // them), else its pixels. NotFound for a cell without a tile.
  Status ReadTile(int level, std::int64_t column, std::int64_t row, Tile* tile) const;
  // A tile decoded to RGB.
  Status ReadTilePixels(int level, std::int64_t column, std::int64_t row, Image* rgb) const;

  // RGBA pixels of `level` (not premultiplied), width x height, whose
  // top-left is level-0 position (x, y); transparent outside the slide.
  Status ReadRegion(int level, std::int64_t x, std::int64_t y, int width, int height,
                    Image* rgba) const;

  // RGB pixels of the width x height region at (x, y) in the pixel grid of
  // magnification `scale` (level 0 has the objective power, or 1 when the
  // slide records none), composed from the nearest stored level; white
  // outside the slide.
  Status ReadScaled(double scale, std::int64_t x, std::int64_t y, int width, int height,
                    Image* rgb) const;

  // An associated image by name, decoded to RGB.
  Status ReadAssociatedImage(const std::string& name, Image* rgb) const;

  // Decoded tiles are kept in `cache` (shared with other slides if the
  // caller likes); null keeps none. A slide starts with a cache of its own.
  void SetCache(std::shared_ptr<TileCache> cache);

  // The memory budget of one read, in bytes.
  static std::uint64_t ReadBudgetBytes();

 private:
  Slide(std::string location, std::unique_ptr<SlideFormat> format);
  Status CheckLevel(int level) const;
  Status CheckSize(int width, int height, int channels) const;

  std::string location_;
  std::unique_ptr<SlideFormat> format_;
  std::map<std::string, std::string> properties_;
  std::shared_ptr<TileCache> cache_;
  std::uint64_t owner_;
};

}  // namespace strata

#endif  // STRATA_SLIDE_H_
