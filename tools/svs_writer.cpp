#include "tools/svs_writer.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "tools/tiff_file.h"

namespace strata::tools {
namespace {

std::string Size(int width, int height) {
  return std::to_string(width) + "x" + std::to_string(height);
}

// The first line names the library, the second the scanned area, the tile
// size and, for a reduced image, the size it was reduced to.
std::string Description(const SvsOptions& options, int width, int height, const std::string& tail) {
  if (!options.aperioDescription) return "plain tiled image " + tail;
  const std::string full = Size(options.width, options.height);
  std::string text = "Aperio Image Library v11.2.1 \r\n" + full + " [0,0 " + full + "] (" +
                     Size(options.tileSize, options.tileSize) + ")";
  if (width != options.width || height != options.height) text += " -> " + Size(width, height);
  return text + " JPEG/RGB Q=" + std::to_string(options.quality) + tail;
}

// Scanners mark only the label (reduced) and the macro (reduced, macro) with
// a subfile type; the pyramid and the thumbnail carry none. Plain tiled
// TIFFs mark their reduced levels, as generic readers expect.
constexpr std::uint32_t kMacroSubfileType = FILETYPE_REDUCEDIMAGE | 8;

void SetCommonFields(TIFF* tiff, int width, int height, const std::string& description) {
  SetRgbLayout(tiff, width, height, PHOTOMETRIC_RGB);
  TIFFSetField(tiff, TIFFTAG_IMAGEDESCRIPTION, description.c_str());
}

void SetTileCoding(TIFF* tiff, const SvsOptions& options) {
  switch (options.coding) {
    case SvsTileCoding::kJpegRgb:
    case SvsTileCoding::kJpegYcbcr:
      TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
      TIFFSetField(tiff, TIFFTAG_JPEGQUALITY, options.quality);
      if (options.coding == SvsTileCoding::kJpegYcbcr) {
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
        TIFFSetField(tiff, TIFFTAG_YCBCRSUBSAMPLING, 2, 2);
        // libtiff converts the RGB tiles it is given.
        TIFFSetField(tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
      }
      return;
    case SvsTileCoding::kDeflate:
    case SvsTileCoding::kLzw:
      TIFFSetField(
          tiff, TIFFTAG_COMPRESSION,
          options.coding == SvsTileCoding::kDeflate ? COMPRESSION_ADOBE_DEFLATE : COMPRESSION_LZW);
      if (options.horizontalPredictor) TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
      return;
    case SvsTileCoding::kUncompressed:
      TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
      return;
  }
}

void SetLevelZeroTags(TIFF* tiff, const SvsOptions& options) {
  for (const auto& [tag, text] : options.textTags) {
    TIFFSetField(tiff, static_cast<std::uint32_t>(tag), text.c_str());
  }
  if (!options.iccProfile.empty()) {
    TIFFSetField(tiff, TIFFTAG_ICCPROFILE, static_cast<std::uint32_t>(options.iccProfile.size()),
                 options.iccProfile.data());
  }
  if (options.pixelsPerCentimetre > 0) {
    TIFFSetField(tiff, TIFFTAG_XRESOLUTION, options.pixelsPerCentimetre);
    TIFFSetField(tiff, TIFFTAG_YRESOLUTION, options.pixelsPerCentimetre);
    TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_CENTIMETER);
  }
}

// Tiles written so far, for the progress callback.
struct TileCount {
  std::int64_t done = 0;
  std::int64_t total = 0;
};

bool WriteLevel(TIFF* tiff, const SvsOptions& options, int level, int width, int height,
                double downsample, const SvsPixelSource& source, TileCount* count,
                std::string* error) {
  std::string tail;
  if (level == 0 && options.aperioDescription) {
    if (!options.appMag.empty()) tail += "|AppMag = " + options.appMag;
    if (!options.mpp.empty()) tail += "|MPP = " + options.mpp;
  }
  SetCommonFields(tiff, width, height, Description(options, width, height, tail));
  if (level == 0) SetLevelZeroTags(tiff, options);
  if (level > 0 && !options.aperioDescription) {
    TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, FILETYPE_REDUCEDIMAGE);
  }
  TIFFSetField(tiff, TIFFTAG_TILEWIDTH, static_cast<std::uint32_t>(options.tileSize));
  TIFFSetField(tiff, TIFFTAG_TILELENGTH, static_cast<std::uint32_t>(options.tileSize));
  SetTileCoding(tiff, options);
  const int tile = options.tileSize;
  std::vector<unsigned char> pixels(static_cast<std::size_t>(tile) * tile * 3, 255);
  std::vector<unsigned char> window;
  for (int y = 0; y < height; y += tile) {
    for (int x = 0; x < width; x += tile) {
      const int w = std::min(tile, width - x);
      const int h = std::min(tile, height - y);
      window.assign(static_cast<std::size_t>(w) * h * 3, 0);
      source(x, y, w, h, downsample, window.data());
      std::fill(pixels.begin(), pixels.end(), 255);
      for (int row = 0; row < h; ++row) {
        std::copy_n(window.data() + static_cast<std::size_t>(row) * w * 3,
                    static_cast<std::size_t>(w) * 3,
                    pixels.data() + static_cast<std::size_t>(row) * tile * 3);
      }
      if (TIFFWriteTile(tiff, pixels.data(), static_cast<std::uint32_t>(x),
                        static_cast<std::uint32_t>(y), 0, 0) < 0) {
        *error = "cannot write a tile of level " + std::to_string(level);
        return false;
      }
      ++count->done;
      if (options.progress) options.progress(count->done, count->total);
    }
  }
  if (!TIFFWriteDirectory(tiff)) {
    *error = "cannot finish level " + std::to_string(level);
    return false;
  }
  return true;
}

bool WriteStripped(TIFF* tiff, const RgbPicture& picture, const std::string& description,
                   std::uint32_t subfileType, std::string* error) {
  SetCommonFields(tiff, picture.width, picture.height, description);
  if (subfileType != 0) TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, subfileType);
  TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
  TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, static_cast<std::uint32_t>(picture.height));
  const tmsize_t bytes = static_cast<tmsize_t>(picture.rgb.size());
  std::vector<unsigned char> copy(picture.rgb);
  if (TIFFWriteEncodedStrip(tiff, 0, copy.data(), bytes) < 0 || !TIFFWriteDirectory(tiff)) {
    *error = "cannot write an associated image";
    return false;
  }
  return true;
}

RgbPicture SampleThumbnail(const SvsOptions& options, const SvsPixelSource& source) {
  RgbPicture thumbnail;
  const double factor =
      static_cast<double>(std::max(options.width, options.height)) / options.thumbnailSide;
  const double downsample = std::max(1.0, factor);
  thumbnail.width = std::max(1, static_cast<int>(options.width / downsample));
  thumbnail.height = std::max(1, static_cast<int>(options.height / downsample));
  thumbnail.rgb.resize(static_cast<std::size_t>(thumbnail.width) * thumbnail.height * 3);
  source(0, 0, thumbnail.width, thumbnail.height, downsample, thumbnail.rgb.data());
  return thumbnail;
}

}  // namespace

std::vector<std::pair<int, int>> SvsLevelSizes(const SvsOptions& options) {
  std::vector<std::pair<int, int>> sizes{{options.width, options.height}};
  const int factor = std::max(2, options.levelFactor);
  while (std::max(sizes.back().first, sizes.back().second) > options.tileSize) {
    sizes.emplace_back(std::max(1, sizes.back().first / factor),
                       std::max(1, sizes.back().second / factor));
  }
  return sizes;
}

bool WriteSvs(const std::string& path, const SvsOptions& options, const SvsPixelSource& source,
              std::string* error) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  if (options.width <= 0 || options.height <= 0 || options.tileSize % 16 != 0) {
    *error = "bad slide size or tile size";
    return false;
  }
  TIFFSetWarningHandler(nullptr);
  const bool big =
      options.bigTiff || static_cast<double>(options.width) * options.height * 3 > 3.5e9;
  TiffFile tiff(TIFFOpen(path.c_str(), big ? "w8" : "w"));
  if (tiff == nullptr) {
    *error = "cannot create " + path;
    return false;
  }
  const std::vector<std::pair<int, int>> sizes = SvsLevelSizes(options);
  TileCount count;
  const std::int64_t tile = options.tileSize;
  for (const auto& [width, height] : sizes) {
    count.total += (width + tile - 1) / tile * ((height + tile - 1) / tile);
  }
  for (std::size_t level = 0; level < sizes.size(); ++level) {
    const double downsample = static_cast<double>(options.width) / sizes[level].first;
    if (!WriteLevel(tiff.get(), options, static_cast<int>(level), sizes[level].first,
                    sizes[level].second, downsample, source, &count, error)) {
      return false;
    }
    if (level == 0 && options.thumbnailSide > 0) {
      const RgbPicture thumbnail = SampleThumbnail(options, source);
      const std::uint32_t subfileType = options.aperioDescription ? 0 : FILETYPE_REDUCEDIMAGE;
      if (!WriteStripped(tiff.get(), thumbnail,
                         Description(options, thumbnail.width, thumbnail.height, ""), subfileType,
                         error)) {
        return false;
      }
    }
  }
  // Associated images name themselves on the second line, after a bare "\n".
  const std::string head = "Aperio Image Library v11.2.1\n";
  const RgbPicture& label = options.label;
  if (!label.empty() &&
      !WriteStripped(tiff.get(), label, head + "label " + Size(label.width, label.height),
                     FILETYPE_REDUCEDIMAGE, error)) {
    return false;
  }
  const RgbPicture& macro = options.macro;
  if (!macro.empty() &&
      !WriteStripped(tiff.get(), macro, head + "macro " + Size(macro.width, macro.height),
                     kMacroSubfileType, error)) {
    return false;
  }
  return true;
}

void FillSvsTestPattern(int x, int y, int w, int h, double downsample, unsigned char* rgb) {
  for (int row = 0; row < h; ++row) {
    const double py = (y + row) * downsample;
    for (int column = 0; column < w; ++column) {
      const double px = (x + column) * downsample;
      unsigned char* pixel = rgb + (static_cast<std::size_t>(row) * w + column) * 3;
      pixel[0] = static_cast<unsigned char>(128 + 100 * std::sin(px / 97.0));
      pixel[1] = static_cast<unsigned char>(128 + 100 * std::cos(py / 53.0));
      pixel[2] = static_cast<unsigned char>(
          (static_cast<long long>(px / 256) * 37 + static_cast<long long>(py / 256) * 91) % 200 +
          30);
    }
  }
}

RgbPicture FramedPicture(int width, int height, unsigned char red, unsigned char green,
                         unsigned char blue) {
  RgbPicture picture;
  picture.width = width;
  picture.height = height;
  picture.rgb.resize(static_cast<std::size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const bool frame = x < 8 || y < 8 || x >= width - 8 || y >= height - 8;
      unsigned char* pixel = picture.rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3;
      pixel[0] = frame ? red / 2 : red;
      pixel[1] = frame ? green / 2 : green;
      pixel[2] = frame ? blue / 2 : blue;
    }
  }
  return picture;
}

bool FindTiffTile(const std::string& path, int directory, int tile, std::uint64_t& offset,
                  std::uint64_t& size) {
  TIFFSetWarningHandler(nullptr);
  TiffFile tiff(TIFFOpen(path.c_str(), "r"));
  if (tiff == nullptr || !TIFFSetDirectory(tiff.get(), static_cast<tdir_t>(directory))) {
    return false;
  }
  std::uint64_t* offsets = nullptr;
  std::uint64_t* counts = nullptr;
  if (!TIFFGetField(tiff.get(), TIFFTAG_TILEOFFSETS, &offsets) ||
      !TIFFGetField(tiff.get(), TIFFTAG_TILEBYTECOUNTS, &counts) || tile < 0 ||
      static_cast<std::uint32_t>(tile) >= TIFFNumberOfTiles(tiff.get())) {
    return false;
  }
  offset = offsets[tile];
  size = counts[tile];
  return true;
}

}  // namespace strata::tools
