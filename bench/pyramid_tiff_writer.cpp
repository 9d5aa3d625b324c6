#include "bench/pyramid_tiff_writer.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "strata/slide.h"
#include "strata/slide/image_codec.h"
#include "strata/slide/system.h"
#include "tools/tiff_file.h"

namespace strata::bench {

namespace {

constexpr int kTile = 256;
constexpr int kEdgeQuality = 75;

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
  explicit TileCopier(const Slide& slide) : slide_(slide) {}

  // The JPEG stream of one whole tile for the cell (white where the slide
  // stores none); empty on failure.
  std::vector<unsigned char> WholeTile(int level, std::int64_t column, std::int64_t row) {
    const Status read = slide_.ReadTile(level, column, row, &tile_);
    if (read.code() == Status::Code::kNotFound) {
      if (white_.empty()) {
        white_ = EncodeWholeTile(std::vector<unsigned char>(std::size_t{kTile} * kTile * 3, 255));
      }
      return white_;
    }
    if (!read.ok() || tile_.encoding != TileEncoding::kJpeg || tile_.bytes.empty()) return {};
    if (tile_.width == kTile && tile_.height == kTile) return tile_.bytes;
    return PaddedTile(tile_.bytes);
  }

 private:
  const Slide& slide_;
  Tile tile_;
  std::vector<unsigned char> white_;
};

void SetLevelTags(TIFF* tiff, const SlideLevel& level, bool reduced) {
  // Readers take only directories marked as reduced images for lower levels.
  TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, reduced ? FILETYPE_REDUCEDIMAGE : 0);
  tools::SetRgbLayout(tiff, static_cast<int>(level.width), static_cast<int>(level.height),
                      PHOTOMETRIC_YCBCR);
  TIFFSetField(tiff, TIFFTAG_TILEWIDTH, kTile);
  TIFFSetField(tiff, TIFFTAG_TILELENGTH, kTile);
  TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
  // Every tile is a complete JPEG stream with its own tables.
  TIFFSetField(tiff, TIFFTAG_JPEGTABLESMODE, 0);
  TIFFSetField(tiff, TIFFTAG_YCBCRSUBSAMPLING, 2, 2);
}

bool WriteLevel(TIFF* tiff, int index, const SlideLevel& level, TileCopier& copier) {
  SetLevelTags(tiff, level, index > 0);
  const std::int64_t columns = (level.width + kTile - 1) / kTile;
  const std::int64_t rows = (level.height + kTile - 1) / kTile;
  for (std::int64_t row = 0; row < rows; ++row) {
    for (std::int64_t column = 0; column < columns; ++column) {
      std::vector<unsigned char> stream = copier.WholeTile(index, column, row);
      const auto cell = static_cast<ttile_t>(row * columns + column);
      if (stream.empty() || TIFFWriteRawTile(tiff, cell, stream.data(),
                                             static_cast<tmsize_t>(stream.size())) < 0) {
        return false;
      }
    }
  }
  return TIFFWriteDirectory(tiff) != 0;
}

bool WriteLevels(const std::string& slidePath, const std::string& tiffPath, std::string* error) {
  std::unique_ptr<Slide> slide;
  const Status opened = Slide::Open(slidePath, &slide);
  if (!opened.ok()) {
    *error = opened.message();
    return false;
  }
  // The stored JPEG streams are copied as they are, so the slide's tiles
  // must be the TIFF's.
  for (const SlideLevel& level : slide->Levels()) {
    if (level.tileWidth != kTile || level.tileHeight != kTile) {
      *error = "the slide's tiles are not " + std::to_string(kTile) + " pixels square: " + slidePath;
      return false;
    }
  }
  TileCopier copier(*slide);
  tools::TiffFile tiff(TIFFOpen(tiffPath.c_str(), "w8"));
  if (tiff == nullptr) {
    *error = "cannot create " + tiffPath;
    return false;
  }
  const std::vector<SlideLevel>& levels = slide->Levels();
  for (std::size_t index = 0; index < levels.size(); ++index) {
    if (!WriteLevel(tiff.get(), static_cast<int>(index), levels[index], copier)) {
      *error = "cannot write the tiles of level " + std::to_string(index);
      return false;
    }
  }
  tiff.reset();
  return true;
}

}  // namespace

bool WritePyramidTiff(const std::string& slidePath, const std::string& tiffPath,
                      std::string* error) {
  if (WriteLevels(slidePath, tiffPath, error)) return true;
  system::RemoveFile(tiffPath);
  return false;
}

bool EnsurePyramidTiff(const std::string& slidePath, const std::string& tiffPath,
                       std::string* error) {
  if (system::FileExists(tiffPath)) return true;
  const std::string partial = tiffPath + ".partial";
  if (!WritePyramidTiff(slidePath, partial, error)) return false;
  if (system::RenameFile(partial, tiffPath)) return true;
  *error = "cannot rename " + partial;
  system::RemoveFile(partial);
  return false;
}

}  // namespace strata::bench
