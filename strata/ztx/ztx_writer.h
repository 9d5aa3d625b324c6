// Writes ZTX slides of any version (1.0 to 2.0): header and property items,
// label, preview and thumbnail sections, a full pyramid of JPEG or BMP tiles
// and the tile index (plain or zlib-compressed).
//
// The base level is streamed: the writer asks its row source for one band of
// block-size rows at a time and builds every reduced level on the fly, so
// peak memory is a few bands per level, never the whole image.
#ifndef STRATA_ZTX_ZTX_WRITER_H_
#define STRATA_ZTX_ZTX_WRITER_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace strata::ztx {

enum class TileEncoding { kJpeg, kBmp };

// An associated image as it will be stored: an encoded stream (JPEG, or BMP
// for a BMP slide's thumbnail) and its pixel size. Empty: no image.
struct StoredImage {
  std::vector<unsigned char> stream;
  int width = 0;
  int height = 0;
  bool present = true;  // the section's presence flag (label, preview)
};

struct PropertyItem {
  int identifier = 0;
  std::vector<unsigned char> value;
  static PropertyItem Text(int identifier, const std::string& text);
  static PropertyItem Int(int identifier, std::int32_t value);
};

struct ZtxWriterOptions {
  float version = 1.3f;    // 1.0, 1.1, 1.2, 1.3 ... 1.7, 2.0
  bool longMagic = false;  // "ZTXL\0" instead of "ZTX\0" (1.3 and later)
  TileEncoding encoding = TileEncoding::kJpeg;
  int jpegQuality = 90;
  int blockSize = 256;  // 1.0 always uses 256
  int scanScale = 20;
  int levelMode = 0;           // item 33: 0 halves, 1 and 2 skip levels
  int smallestLevel = 256;     // stop when a level fits in this many pixels
  bool compressIndex = false;  // zlib index and marker 0xEEEE05F1 (1.1+)
  std::int64_t scanTime = 0;   // seconds since 1970
  std::uint32_t spendTimeMs = 0;
  float captureResolution = 0.0f;
  std::vector<PropertyItem> items;  // written in this order (1.2+)
  StoredImage label;
  StoredImage preview;
  StoredImage thumbnail;  // 1.1+
  // Multi-channel slides: 0 for ordinary RGB tiles; otherwise 1-6 greyscale
  // JPEG streams per tile, one after another (items 40 and 49-54 describe them).
  int channelCount = 0;
  std::vector<std::string> channelNames;  // default names when shorter
  // Threads that encode tiles; 0 uses every processor. The file is the same
  // byte for byte whatever the count.
  int threads = 0;
};

// One tile as written: where its bytes lie (relative to the index offset).
struct WrittenTile {
  float scale = 0.0f;
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  int length = 0;
  std::int64_t offset = 0;
};

// Where the sections of a written file lie; tests use it to cut and damage files.
struct ZtxLayout {
  std::int64_t propertyAreaOffset = 96;
  std::int64_t previewOffset = 0;
  std::int64_t labelOffset = 0;
  std::int64_t thumbnailOffset = 0;
  std::int64_t indexOffset = 0;
  std::int64_t indexBytes = 0;  // as stored (compressed length + 4 when compressed)
  std::int64_t fileSize = 0;
  std::vector<float> levelScales;
  std::vector<WrittenTile> tiles;  // in index order
};

// Fills rows [top, top + rows) of the base level, width * 3 RGB bytes each.
using RowSource = std::function<bool(int top, int rows, unsigned char* rgb)>;
// Reports progress as (tiles written, tiles in all).
using ProgressCallback = std::function<void(std::int64_t done, std::int64_t total)>;

class ZtxWriter {
 public:
  explicit ZtxWriter(ZtxWriterOptions options);

  // Writes a slide of width x height base pixels to `path` (directly; the
  // command line writes to a temporary name and renames). False with a
  // one-line reason in *error on failure.
  bool Write(const std::string& path, int width, int height, const RowSource& source,
             std::string* error = nullptr, ZtxLayout* layout = nullptr,
             const ProgressCallback& progress = nullptr);

  // Convenience for small images held in memory (RGB, rows top-down).
  bool WritePixels(const std::string& path, int width, int height, const unsigned char* rgb,
                   std::string* error = nullptr, ZtxLayout* layout = nullptr);

 private:
  ZtxWriterOptions options_;
};

}  // namespace strata::ztx

#endif  // STRATA_ZTX_ZTX_WRITER_H_
