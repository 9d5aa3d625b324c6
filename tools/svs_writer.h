// Writes Aperio-style SVS slides with libtiff: a tiled JPEG pyramid whose
// first ImageDescription starts with "Aperio" and carries the objective
// power and pixel size, a stripped thumbnail as the second directory, and
// optional label and macro images named on their description's second line.
// Used by the tests, the benchmarks and `strata synth-svs`.
#ifndef STRATA_TOOLS_SVS_WRITER_H_
#define STRATA_TOOLS_SVS_WRITER_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace strata::tools {

struct RgbPicture {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> rgb;  // rows top-down, 3 bytes a pixel
  bool empty() const { return width <= 0 || height <= 0; }
};

// How the pyramid's tiles are coded. kJpegRgb keeps the samples as RGB inside
// the JPEG streams (PhotometricInterpretation RGB), kJpegYcbcr converts them
// to subsampled YCbCr as scanners do.
enum class SvsTileCoding { kJpegRgb, kJpegYcbcr, kDeflate, kLzw, kUncompressed };

struct SvsOptions {
  int width = 0;
  int height = 0;
  int tileSize = 256;
  int quality = 75;
  int levelFactor = 4;        // each level this many times smaller
  std::string appMag = "20";  // empty: the description has no AppMag
  std::string mpp = "0.5";
  bool aperioDescription = true;  // false: a plain tiled TIFF
  int thumbnailSide = 256;        // longest side; 0: no thumbnail directory
  RgbPicture label;
  RgbPicture macro;
  SvsTileCoding coding = SvsTileCoding::kJpegRgb;
  bool horizontalPredictor = false;  // deflate and LZW only
  bool bigTiff = false;              // BigTIFF whatever the size
  std::string iccProfile;            // level 0's ICC profile; empty: none
  // Further ASCII tags of level 0 (TIFFTAG_MAKE, TIFFTAG_SOFTWARE, ...).
  std::vector<std::pair<int, std::string>> textTags;
  // Resolution of level 0 in pixels per centimetre; 0: not written.
  double pixelsPerCentimetre = 0;
  // Called after each tile with the tiles written and the tiles in all.
  std::function<void(std::int64_t done, std::int64_t total)> progress;
};

// Fills a w x h window of RGB pixels at position (x, y) of a level that is
// `downsample` times smaller than level 0.
using SvsPixelSource =
    std::function<void(int x, int y, int w, int h, double downsample, unsigned char* rgb)>;

// Level sizes as written: level 0, then each levelFactor times smaller
// (integer division) until a level fits in one tile.
std::vector<std::pair<int, int>> SvsLevelSizes(const SvsOptions& options);

// False with a one-line reason in *error when the file cannot be written.
bool WriteSvs(const std::string& path, const SvsOptions& options, const SvsPixelSource& source,
              std::string* error);

// A smooth, tile-varying test pattern of level-0 coordinates, sampled at the
// window's level.
void FillSvsTestPattern(int x, int y, int w, int h, double downsample, unsigned char* rgb);

// A w x h picture of one colour with a darker frame (labels and macros).
RgbPicture FramedPicture(int width, int height, unsigned char red, unsigned char green,
                         unsigned char blue);

// File offset and byte count of tile `tile` of TIFF directory `directory`;
// false when the file or the tile is not there (tests damage tiles with it).
bool FindTiffTile(const std::string& path, int directory, int tile, std::uint64_t& offset,
                  std::uint64_t& size);

}  // namespace strata::tools

#endif  // STRATA_TOOLS_SVS_WRITER_H_
