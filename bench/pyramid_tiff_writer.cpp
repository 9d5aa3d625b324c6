#include "bench/pyramid_tiff_writer.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

namespace strata::bench {

namespace {

constexpr int kTile = 256;

struct TiffCloser {
  void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};

std::vector<unsigned char> Halve(const std::vector<unsigned char>& pixels, int width, int height,
                                 int& halfWidth, int& halfHeight) {
  halfWidth = (width + 1) / 2;
  halfHeight = (height + 1) / 2;
  std::vector<unsigned char> half(static_cast<std::size_t>(halfWidth) * halfHeight * 3);
  for (int y = 0; y < halfHeight; ++y) {
    for (int x = 0; x < halfWidth; ++x) {
      for (int c = 0; c < 3; ++c) {
        int sum = 0;
        int count = 0;
        for (int dy = 0; dy < 2 && 2 * y + dy < height; ++dy) {
          for (int dx = 0; dx < 2 && 2 * x + dx < width; ++dx) {
            sum += pixels[(static_cast<std::size_t>(2 * y + dy) * width + 2 * x + dx) * 3 + c];
            ++count;
          }
        }
        half[(static_cast<std::size_t>(y) * halfWidth + x) * 3 + c] =
            static_cast<unsigned char>((sum + count / 2) / count);
      }
    }
  }
  return half;
}

bool WriteLevel(TIFF* tiff, const std::vector<unsigned char>& pixels, int width, int height,
                bool reduced) {
  TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, reduced ? FILETYPE_REDUCEDIMAGE : 0);
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tiff, TIFFTAG_TILEWIDTH, kTile);
  TIFFSetField(tiff, TIFFTAG_TILELENGTH, kTile);
  TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
  TIFFSetField(tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
  TIFFSetField(tiff, TIFFTAG_JPEGQUALITY, 75);
  std::vector<unsigned char> tile(static_cast<std::size_t>(kTile) * kTile * 3);
  for (int top = 0; top < height; top += kTile) {
    for (int left = 0; left < width; left += kTile) {
      std::fill(tile.begin(), tile.end(), 255);
      const int rows = std::min(kTile, height - top);
      const int columns = std::min(kTile, width - left);
      for (int row = 0; row < rows; ++row) {
        std::copy_n(&pixels[(static_cast<std::size_t>(top + row) * width + left) * 3],
                    static_cast<std::size_t>(columns) * 3,
                    &tile[static_cast<std::size_t>(row) * kTile * 3]);
      }
      if (TIFFWriteTile(tiff, tile.data(), static_cast<std::uint32_t>(left),
                        static_cast<std::uint32_t>(top), 0, 0) < 0) {
        return false;
      }
    }
  }
  return TIFFWriteDirectory(tiff) != 0;
}

}  // namespace

bool WritePyramidTiff(const std::string& path, int width, int height, const PixelRows& source) {
  std::unique_ptr<TIFF, TiffCloser> tiff(TIFFOpen(path.c_str(), "w8"));
  if (tiff == nullptr) return false;
  std::vector<unsigned char> pixels(static_cast<std::size_t>(width) * height * 3);
  source(0, height, pixels.data());
  bool reduced = false;
  for (;;) {
    if (!WriteLevel(tiff.get(), pixels, width, height, reduced)) return false;
    if (std::max(width, height) <= 512) return true;
    int halfWidth = 0;
    int halfHeight = 0;
    pixels = Halve(pixels, width, height, halfWidth, halfHeight);
    width = halfWidth;
    height = halfHeight;
    reduced = true;
  }
}

}  // namespace strata::bench
