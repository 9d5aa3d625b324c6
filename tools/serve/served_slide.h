// One open slide as the server sees it: its facts, its Deep Zoom pyramid,
// and the bytes of its tiles, regions and associated images. Every call may
// run on several threads at once: tiles and regions read the slide
// concurrently, as the library allows; associated images are fetched once.
#ifndef STRATA_TOOLS_SERVE_SERVED_SLIDE_H_
#define STRATA_TOOLS_SERVE_SERVED_SLIDE_H_

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "strata/model/image_buffer.h"
#include "tools/serve/deep_zoom.h"
#include "tools/slide_handle.h"

namespace strata::tools::serve {

struct SlideFacts {
  int width = 0;
  int height = 0;
  int scanScale = 0;
  int blockSize = 0;
  float version = 0;
  // Micrometres per pixel at the scan scale; estimated from the scan scale
  // when the slide does not record its resolution.
  double micronsPerPixel = 0;
  bool resolutionEstimated = false;
  std::string scanned;  // "YYYY-MM-DD hh:mm:ss", or "" when unknown
  std::string format;   // "ZTX", or the file's extension for other formats
};

enum class AssociatedImage { kLabel, kPreview, kThumbnail };

using Bytes = std::string;

class ServedSlide {
 public:
  // Null when the library cannot open the slide.
  static std::unique_ptr<ServedSlide> Open(const std::string& path);

  const SlideFacts& facts() const { return facts_; }
  const DeepZoomGeometry& geometry() const { return geometry_; }

  // The stored JPEG of a Deep Zoom tile, when that tile is exactly a stored
  // tile of the slide (same level, same grid, same size). False otherwise,
  // and for a stored tile that is not a readable JPEG.
  bool StoredTile(int level, const PixelRect& rect, Bytes* jpeg);

  // A Deep Zoom tile composed from the slide's regions and encoded as JPEG.
  // A tile the library cannot compose (a damaged stored tile, say) comes
  // back white; false only when no JPEG could be made at all.
  bool ComposedTile(int level, const PixelRect& rect, Bytes* jpeg);

  // A region at `scale` as JPEG or PNG; false when it lies wholly outside
  // the slide or cannot be made.
  bool Region(float scale, int x, int y, int width, int height, bool png, Bytes* out);

  // The label, preview or thumbnail as JPEG; null when the slide has none.
  std::shared_ptr<const Bytes> Image(AssociatedImage which);

 private:
  ServedSlide(const std::string& path, std::unique_ptr<SlideHandle> handle);
  void ReadFacts();
  void FindStoredLevels();
  float LevelScale(int level) const;
  bool RegionPixels(float scale, const PixelRect& rect, OwnedBuffer* pixels);
  bool ShrunkTile(int level, const PixelRect& rect, Bytes* jpeg);
  std::shared_ptr<const Bytes> FetchImage(AssociatedImage which);

  std::string path_;
  std::unique_ptr<SlideHandle> handle_;
  SlideFacts facts_;
  DeepZoomGeometry geometry_{1, 1, 256};
  bool isZtx_ = false;
  // Per Deep Zoom level: whether the slide stores it as tiles of the grid.
  std::vector<bool> storedLevel_;
  // The smallest level the library composes regions of; smaller levels are
  // shrunk from it.
  int smallestRegionLevel_ = 0;

  std::mutex imagesMutex_;
  std::shared_ptr<const Bytes> images_[3];
  bool imagesFetched_[3] = {false, false, false};
};

// Width and height from a JPEG stream's frame header; false when the stream
// has none before its data.
bool JpegSize(const unsigned char* bytes, std::size_t length, int* width, int* height);

// Encodes RGB pixels as a JPEG; false on failure. (PNG: tools/png_encoding.h.)
bool EncodeJpegBytes(const unsigned char* rgb, int width, int height, Bytes* out);

}  // namespace strata::tools::serve

#endif  // STRATA_TOOLS_SERVE_SERVED_SLIDE_H_
