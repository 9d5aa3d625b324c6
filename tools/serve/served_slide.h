// One open slide as the server sees it: its facts, its Deep Zoom pyramid,
// and the bytes of its tiles, regions and associated images. Every call may
// run on several threads at once: tiles and regions read the slide
// concurrently, as the library allows; associated images are made once.
#ifndef STRATA_TOOLS_SERVE_SERVED_SLIDE_H_
#define STRATA_TOOLS_SERVE_SERVED_SLIDE_H_

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "strata/slide.h"
#include "tools/serve/deep_zoom.h"

namespace strata::tools::serve {

struct ServedFacts {
  std::int64_t width = 0;
  std::int64_t height = 0;
  double objectivePower = 0;  // 0 when the slide records none
  // Micrometres per level-0 pixel; estimated from the objective power when
  // the slide does not record its resolution, 0 when it records neither.
  double micronsPerPixel = 0;
  bool resolutionEstimated = false;
  std::string scanned;  // local "YYYY-MM-DD hh:mm:ss"; "" when the slide has no scan time
  std::string format;   // "ztx", "aperio", ...
  float version = 0;
  int tileSize = 0;  // of level 0's stored tiles; 0 when it has none
  int levels = 0;    // stored levels
};

enum class AssociatedImage { kLabel, kPreview, kThumbnail };

using Bytes = std::string;

class ServedSlide {
 public:
  // Opens a slide file or URL; the status says why it cannot be served.
  // Decoded tiles go to `tileCache`, shared by the server's slides.
  static Status Open(const std::string& location, std::shared_ptr<TileCache> tileCache,
                     std::unique_ptr<ServedSlide>* served);

  const ServedFacts& facts() const { return facts_; }
  const DeepZoomGeometry& geometry() const { return geometry_; }

  // The stored JPEG of a Deep Zoom tile, when that tile is exactly a stored
  // tile of the slide (a level of the same size and grid, a stored stream
  // of exactly the tile's size). False otherwise.
  bool StoredTile(int level, const PixelRect& rect, Bytes* jpeg) const;

  // A Deep Zoom tile composed from the slide and encoded as JPEG. A tile the
  // library cannot compose (a damaged stored tile, say) comes back white;
  // false only when no JPEG could be made at all.
  bool ComposedTile(int level, const PixelRect& rect, Bytes* jpeg) const;

  // True when the width x height region at (x, y) of magnification `scale`
  // overlaps the slide.
  bool RegionOverlaps(double scale, std::int64_t x, std::int64_t y, int width, int height) const;
  // A region at magnification `scale` (level 0 has the objective power, or
  // 1 when the slide records none) as JPEG or PNG; false when it cannot be
  // made.
  bool Region(double scale, std::int64_t x, std::int64_t y, int width, int height, bool png,
              Bytes* out) const;
  // The magnification of level 0 for Region.
  double BaseScale() const;

  // The label, preview or thumbnail as JPEG; null when the slide has none.
  std::shared_ptr<const Bytes> Image(AssociatedImage which);

 private:
  explicit ServedSlide(std::unique_ptr<Slide> slide);
  void ReadFacts();
  void MatchStoredLevels();
  bool LevelTile(int storedLevel, const PixelRect& rect, std::vector<unsigned char>* rgb) const;
  bool ShrunkTile(int level, const PixelRect& rect, std::vector<unsigned char>* rgb) const;
  std::shared_ptr<const Bytes> MakeImage(AssociatedImage which) const;

  std::unique_ptr<Slide> slide_;
  ServedFacts facts_;
  DeepZoomGeometry geometry_{1, 1, 256};
  // Per Deep Zoom level: the stored level of the same size, or -1.
  std::vector<int> storedLevel_;
  // The Deep Zoom levels below this one are smaller than every stored
  // level; their tiles are shrunk from the smallest one.
  int smallestStoredDeepZoomLevel_ = 0;

  std::mutex imagesMutex_;
  std::shared_ptr<const Bytes> images_[3];
  bool imagesMade_[3] = {false, false, false};
};

// Width and height from a JPEG stream's frame header; false when the stream
// has none before its data.
bool JpegSize(const unsigned char* bytes, std::size_t length, int* width, int* height);

// Encodes RGB pixels as a JPEG; false on failure. (PNG: tools/png_encoding.h.)
bool EncodeJpegBytes(const unsigned char* rgb, int width, int height, Bytes* out);

}  // namespace strata::tools::serve

#endif  // STRATA_TOOLS_SERVE_SERVED_SLIDE_H_
