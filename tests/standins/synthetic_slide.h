// The synthetic slides the stand-in libraries serve: every pixel is computed
// from its position, so tests know what any tile, region or image holds.
#ifndef STRATA_TESTS_STANDINS_SYNTHETIC_SLIDE_H_
#define STRATA_TESTS_STANDINS_SYNTHETIC_SLIDE_H_

#include <cstdint>
#include <vector>

namespace standin {

struct SlideFacts {
  int width;
  int height;
  int scanScale;
  int blockSize;  // what the bridge reports
  int tileSize;   // edge of the tiles it serves
};

constexpr SlideFacts kDmetrixSlide = {1000, 700, 40, 512, 256};
constexpr SlideFacts kMoticSlide = {900, 600, 20, 128, 128};
constexpr float kSpendTime = 1234.75f;
constexpr double kScanTime = 1700000000.5;
constexpr float kCaptureResolution = 0.25f;

// Pixel (x, y) of the full-resolution level: smooth, distinct per position.
inline void ScanPixel(std::int64_t x, std::int64_t y, unsigned char rgb[3]) {
  rgb[0] = static_cast<unsigned char>((x / 2) & 255);
  rgb[1] = static_cast<unsigned char>((y / 2) & 255);
  rgb[2] = static_cast<unsigned char>(((x + y) / 8) & 255);
}

// Pixel (x, y) of the level that is `divisor` times smaller than the scan
// level; white outside the slide.
inline void LevelPixel(const SlideFacts& slide, int divisor, std::int64_t x, std::int64_t y,
                       unsigned char rgb[3]) {
  const std::int64_t sx = x * divisor;
  const std::int64_t sy = y * divisor;
  if (x < 0 || y < 0 || sx >= slide.width || sy >= slide.height) {
    rgb[0] = rgb[1] = rgb[2] = 255;
    return;
  }
  ScanPixel(sx, sy, rgb);
}

// A width x height window of a level at (left, top), top-down RGB.
inline std::vector<unsigned char> LevelWindow(const SlideFacts& slide, int divisor, int left,
                                              int top, int width, int height) {
  std::vector<unsigned char> pixels(static_cast<std::size_t>(width) * height * 3);
  for (int j = 0; j < height; ++j) {
    for (int i = 0; i < width; ++i) {
      LevelPixel(slide, divisor, left + i, top + j,
                 &pixels[(static_cast<std::size_t>(j) * width + i) * 3]);
    }
  }
  return pixels;
}

// Associated image `kind` (0 label, 1 preview, 2 thumbnail) of the MDS slide.
inline void AssociatedPixel(int kind, int x, int y, unsigned char rgb[3]) {
  rgb[0] = static_cast<unsigned char>(kind * 80 + x);
  rgb[1] = static_cast<unsigned char>(y * 3);
  rgb[2] = static_cast<unsigned char>(x ^ y);
}

constexpr int kAssociatedSizes[3][2] = {{64, 32}, {128, 48}, {96, 64}};

// 24-bit BMP: 54-byte header, bottom-up BGR rows without padding.
inline std::vector<unsigned char> EncodeBmp(const std::vector<unsigned char>& rgb, int width,
                                            int height) {
  const std::uint32_t dataBytes = static_cast<std::uint32_t>(width) * height * 3;
  std::vector<unsigned char> bmp(54 + dataBytes, 0);
  auto put32 = [&bmp](std::size_t at, std::uint32_t value) {
    for (int k = 0; k < 4; ++k) bmp[at + k] = static_cast<unsigned char>(value >> (8 * k));
  };
  bmp[0] = 'B';
  bmp[1] = 'M';
  put32(2, 54 + dataBytes);
  put32(10, 54);
  put32(14, 40);
  put32(18, static_cast<std::uint32_t>(width));
  put32(22, static_cast<std::uint32_t>(height));
  bmp[26] = 1;
  bmp[28] = 24;
  put32(34, dataBytes);
  for (int row = 0; row < height; ++row) {
    const unsigned char* source = &rgb[static_cast<std::size_t>(height - 1 - row) * width * 3];
    unsigned char* target = &bmp[54 + static_cast<std::size_t>(row) * width * 3];
    for (int i = 0; i < width; ++i) {
      target[i * 3] = source[i * 3 + 2];
      target[i * 3 + 1] = source[i * 3 + 1];
      target[i * 3 + 2] = source[i * 3];
    }
  }
  return bmp;
}

}  // namespace standin

#endif  // STRATA_TESTS_STANDINS_SYNTHETIC_SLIDE_H_
