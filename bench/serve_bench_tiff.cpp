// Writes the pixels of a slide as a pyramidal, tiled JPEG TIFF (one
// directory per level, each half the size of the one before, down to one
// tile), the layout the usual Deep Zoom servers read. Pixels come from the
// library's regions at each level's scale.
//
//   serve_bench_tiff SLIDE OUT.tif
#include <tiffio.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "strata/strata.h"

namespace {

constexpr int kTile = 256;
constexpr int kQuality = 90;

struct TiffClose {
  void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
struct BufferRelease {
  void operator()(unsigned char* buffer) const { DeleteImageDataFunc(buffer); }
};

bool WriteLevel(TIFF* tiff, IMAGE_INFO_STRUCT handle, float scale, int width, int height,
                bool reduced) {
  // Readers take only directories marked as reduced images for lower levels.
  if (reduced) TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, FILETYPE_REDUCEDIMAGE);
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
  TIFFSetField(tiff, TIFFTAG_JPEGQUALITY, kQuality);
  for (int y = 0; y < height; y += kTile) {
    for (int x = 0; x < width; x += kTile) {
      unsigned char* pixels = nullptr;
      int length = 0;
      if (!GetImageDataRoiFunc(handle, scale, x, y, kTile, kTile, &pixels, &length, false)) {
        return false;
      }
      std::unique_ptr<unsigned char, BufferRelease> owned(pixels);
      if (TIFFWriteTile(tiff, pixels, static_cast<uint32_t>(x), static_cast<uint32_t>(y), 0, 0) <
          0) {
        return false;
      }
    }
  }
  return TIFFWriteDirectory(tiff) != 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: serve_bench_tiff SLIDE OUT.tif\n");
    return 2;
  }
  IMAGE_INFO_STRUCT handle{};
  if (!InitImageFileFunc(&handle, argv[1])) {
    std::fprintf(stderr, "serve_bench_tiff: cannot open %s\n", argv[1]);
    return 1;
  }
  int height = 0, width = 0, scanScale = 0, block = 0;
  float spend = 0, resolution = 0;
  double when = 0;
  GetHeaderInfoFunc(handle, &height, &width, &scanScale, &spend, &when, &resolution, &block);
  std::unique_ptr<TIFF, TiffClose> tiff(TIFFOpen(argv[2], "w8"));
  bool written = tiff != nullptr;
  for (int level = 0; written; ++level) {
    const float scale = std::ldexp(static_cast<float>(scanScale), -level);
    written = WriteLevel(tiff.get(), handle, scale, width, height, level > 0);
    if (width <= kTile && height <= kTile) break;
    width = (width + 1) / 2;
    height = (height + 1) / 2;
  }
  UnInitImageFileFunc(&handle);
  if (!written) {
    std::fprintf(stderr, "serve_bench_tiff: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
