#include "bench/pyramid_tiff_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "strata/model/image_buffer.h"
#include "strata/model/image_codec.h"
#include "strata/platform/file_io.h"
#include "strata/strata.h"
#include "strata/ztx/tile_info.h"
#include "strata/ztx/ztx_data_file.h"
#include "strata/ztx/ztx_header.h"
#include "tools/tiff_file.h"

namespace strata::bench {

namespace {

constexpr int kTile = 256;
constexpr int kEdgeQuality = 75;

// One stored level: its size and its tiles on the 256-pixel grid (null where
// the slide stores none; the first record of a cell wins, as when reading).
struct StoredLevel {
  int width = 0;
  int height = 0;
  int columns = 0;
  std::vector<const TileInfo*> grid;
};

// Levels by scale, largest scale (the base level) first. A level is the base
// size times scale / scanScale, rounded up; its edge tiles may be stored
// larger than the level reaches.
std::map<float, StoredLevel, std::greater<float>> StoredLevels(const std::vector<TileInfo>& tiles,
                                                               int width, int height,
                                                               double scanScale) {
  std::map<float, StoredLevel, std::greater<float>> levels;
  for (const TileInfo& tile : tiles) {
    StoredLevel& level = levels[tile.scale];
    level.width = static_cast<int>(std::ceil(width * (tile.scale / scanScale)));
    level.height = static_cast<int>(std::ceil(height * (tile.scale / scanScale)));
  }
  for (auto& [scale, level] : levels) {
    level.columns = (level.width + kTile - 1) / kTile;
    const int rows = (level.height + kTile - 1) / kTile;
    level.grid.assign(static_cast<std::size_t>(level.columns) * rows, nullptr);
  }
  for (const TileInfo& tile : tiles) {
    if (tile.x < 0 || tile.y < 0 || tile.x % kTile != 0 || tile.y % kTile != 0) continue;
    StoredLevel& level = levels[tile.scale];
    const std::size_t cell =
        static_cast<std::size_t>(tile.y / kTile) * level.columns + tile.x / kTile;
    if (tile.x / kTile >= level.columns || cell >= level.grid.size()) continue;
    if (level.grid[cell] == nullptr) level.grid[cell] = &tile;
  }
  return levels;
}

std::vector<unsigned char> EncodeWholeTile(const std::vector<unsigned char>& pixels) {
  unsigned char* stream = nullptr;
  int length = 0;
  std::vector<unsigned char> encoded;
  if (EncodeJpegWithQuality(pixels.data(), kTile, kTile, 3, kEdgeQuality, &stream, length)) {
    encoded.assign(stream, stream + length);
  }
  ReleaseBuffer(stream);
  return encoded;
}

// A stored tile smaller than a whole tile, decoded and padded with white.
std::vector<unsigned char> PaddedTile(const std::vector<unsigned char>& stream) {
  std::vector<unsigned char> pixels(static_cast<std::size_t>(kTile) * kTile * 3, 255);
  int width = 0;
  int height = 0;
  OwnedBuffer decoded(DecodeJpeg(stream.data(), static_cast<int>(stream.size()), width, height));
  if (decoded == nullptr) return {};
  for (int row = 0; row < std::min(height, kTile); ++row) {
    std::copy_n(decoded.get() + static_cast<std::size_t>(row) * width * 3,
                static_cast<std::size_t>(std::min(width, kTile)) * 3,
                pixels.data() + static_cast<std::size_t>(row) * kTile * 3);
  }
  return EncodeWholeTile(pixels);
}

class TileCopier {
 public:
  TileCopier(const std::string& slidePath, std::int64_t indexOffset)
      : slide_(slidePath, std::ios::binary), indexOffset_(indexOffset) {}

  bool ok() const { return static_cast<bool>(slide_); }

  // The JPEG stream of one whole tile for the cell; empty on failure.
  std::vector<unsigned char> WholeTile(const TileInfo* tile) {
    if (tile == nullptr) {
      if (white_.empty()) {
        white_ = EncodeWholeTile(std::vector<unsigned char>(std::size_t{kTile} * kTile * 3, 255));
      }
      return white_;
    }
    std::vector<unsigned char> stream(static_cast<std::size_t>(std::max(tile->length, 0)));
    slide_.seekg(indexOffset_ + tile->offset);
    slide_.read(reinterpret_cast<char*>(stream.data()),
                static_cast<std::streamsize>(stream.size()));
    if (!slide_ || stream.empty()) return {};
    if (tile->width == kTile && tile->height == kTile) return stream;
    return PaddedTile(stream);
  }

 private:
  std::ifstream slide_;
  std::int64_t indexOffset_;
  std::vector<unsigned char> white_;
};

void SetLevelTags(TIFF* tiff, const StoredLevel& level, bool reduced) {
  // Readers take only directories marked as reduced images for lower levels.
  TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, reduced ? FILETYPE_REDUCEDIMAGE : 0);
  tools::SetRgbLayout(tiff, level.width, level.height, PHOTOMETRIC_YCBCR);
  TIFFSetField(tiff, TIFFTAG_TILEWIDTH, kTile);
  TIFFSetField(tiff, TIFFTAG_TILELENGTH, kTile);
  TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
  // Every tile is a complete JPEG stream with its own tables.
  TIFFSetField(tiff, TIFFTAG_JPEGTABLESMODE, 0);
  TIFFSetField(tiff, TIFFTAG_YCBCRSUBSAMPLING, 2, 2);
}

bool WriteLevel(TIFF* tiff, const StoredLevel& level, bool reduced, TileCopier& copier) {
  SetLevelTags(tiff, level, reduced);
  for (std::size_t cell = 0; cell < level.grid.size(); ++cell) {
    std::vector<unsigned char> stream = copier.WholeTile(level.grid[cell]);
    if (stream.empty() || TIFFWriteRawTile(tiff, static_cast<ttile_t>(cell), stream.data(),
                                           static_cast<tmsize_t>(stream.size())) < 0) {
      return false;
    }
  }
  return TIFFWriteDirectory(tiff) != 0;
}

bool WriteLevels(const std::string& slidePath, const std::string& tiffPath, std::string* error) {
  IMAGE_INFO_STRUCT handle{};
  if (!InitImageFileFunc(&handle, slidePath.c_str())) {
    *error = "cannot open the slide " + slidePath;
    return false;
  }
  std::unique_ptr<IMAGE_INFO_STRUCT, void (*)(IMAGE_INFO_STRUCT*)> closer(
      &handle, [](IMAGE_INFO_STRUCT* opened) { UnInitImageFileFunc(opened); });
  auto* slide = dynamic_cast<CZTXDataFile*>(handle.slide);
  if (slide == nullptr || slide->GetZtxHeader() == nullptr) {
    *error = "not a ZTX slide: " + slidePath;
    return false;
  }
  TileCopier copier(slidePath, slide->GetZtxHeader()->GetIndexOffset());
  tools::TiffFile tiff(TIFFOpen(tiffPath.c_str(), "w8"));
  if (!copier.ok() || tiff == nullptr) {
    *error = "cannot read the slide or create " + tiffPath;
    return false;
  }
  bool reduced = false;
  CZTXDataHeader* header = slide->GetZtxHeader();
  const auto levels =
      StoredLevels(slide->Tiles(), header->GetWidth(), header->GetHeight(), header->GetScanScale());
  for (const auto& [scale, level] : levels) {
    if (!WriteLevel(tiff.get(), level, reduced, copier)) {
      *error = "cannot write the tiles of the " + std::to_string(scale) + "x level";
      return false;
    }
    reduced = true;
  }
  tiff.reset();
  return true;
}

}  // namespace

bool WritePyramidTiff(const std::string& slidePath, const std::string& tiffPath,
                      std::string* error) {
  if (WriteLevels(slidePath, tiffPath, error)) return true;
  platform::RemoveFile(tiffPath);
  return false;
}

bool EnsurePyramidTiff(const std::string& slidePath, const std::string& tiffPath,
                       std::string* error) {
  if (platform::FileExists(tiffPath)) return true;
  const std::string partial = tiffPath + ".partial";
  if (!WritePyramidTiff(slidePath, partial, error)) return false;
  if (platform::RenameFile(partial, tiffPath)) return true;
  *error = "cannot rename " + partial;
  platform::RemoveFile(partial);
  return false;
}

}  // namespace strata::bench
