// The directories (IFDs) of a TIFF file as plain records: everything the
// slide layouts look at, read once while walking the file with libtiff.
//
// The walk is bounded: at most kMaxDirectories directories, tiled images of
// at most kMaxTilesPerImage tiles (kMaxTilesPerFile in all) whose sides are
// at most kMaxTileSide, and tile tables that fit in the file when its size
// is known. A directory
// that libtiff cannot read, or an IFD chain that loops, ends the walk with
// Damaged and the place where it broke.
#ifndef STRATA_TIFF_TIFF_DIRECTORY_H_
#define STRATA_TIFF_TIFF_DIRECTORY_H_

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "strata/status.h"
#include "strata/tiff/tiff_client.h"

namespace strata::tiff {

constexpr int kMaxDirectories = 1024;
constexpr std::uint32_t kMaxTileSide = 4096;
constexpr std::uint64_t kMaxTilesPerImage = 1ull << 22;
constexpr std::uint64_t kMaxTilesPerFile = 1ull << 22;

struct TiffDirectory {
  int index = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  bool tiled = false;
  std::uint32_t tileWidth = 0;
  std::uint32_t tileHeight = 0;
  std::uint16_t compression = 1;
  std::uint16_t photometric = 0;
  bool hasPhotometric = false;
  std::uint16_t bitsPerSample = 1;
  std::uint16_t samplesPerPixel = 1;
  std::uint16_t planarConfig = 1;
  std::uint16_t predictor = 1;
  std::uint16_t sampleFormat = 1;
  std::uint16_t extraSamples = 0;
  bool codecConfigured = false;
  std::optional<std::uint32_t> subfileType;
  std::optional<std::string> description;
  // Tiled images only: one entry per tile, row by row.
  std::vector<std::uint64_t> tileOffsets;
  std::vector<std::uint64_t> tileByteCounts;
  std::string jpegTables;  // the JPEGTables field, empty when absent
  std::string iccProfile;  // empty when absent
  bool hasXmp = false;
  // The ASCII fields the slide properties report ("Make", "Software", ...),
  // by their field names; absent fields are left out.
  std::map<std::string, std::string> texts;
  // Rational and short fields the properties report, when present.
  std::optional<float> xResolution, yResolution, xPosition, yPosition;
  std::optional<std::uint16_t> resolutionUnit;

  std::uint64_t TilesAcross() const { return tileWidth == 0 ? 0 : (width + tileWidth - 1ull) / tileWidth; }
  std::uint64_t TilesDown() const {
    return tileHeight == 0 ? 0 : (height + tileHeight - 1ull) / tileHeight;
  }
};

// The ASCII fields recorded in TiffDirectory::texts, in the order the
// properties (and their hash) take them.
extern const char* const kTextFieldNames[9];

// Walks every directory from the first. On success `directories` holds
// them in file order.
Status ReadTiffDirectories(TiffClient& client, std::vector<TiffDirectory>* directories);

}  // namespace strata::tiff

#endif  // STRATA_TIFF_TIFF_DIRECTORY_H_
