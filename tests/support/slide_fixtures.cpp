#include "support/slide_fixtures.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "strata/model/image_buffer.h"
#include "strata/model/image_codec.h"

namespace strata::test {
namespace {

std::uint32_t CellHash(int cellX, int cellY) {
  std::uint32_t h = static_cast<std::uint32_t>(cellX) * 0x9E3779B1u ^
                    static_cast<std::uint32_t>(cellY) * 0x85EBCA77u;
  h ^= h >> 15;
  h *= 0x2C1B3C6Du;
  h ^= h >> 12;
  return h;
}

std::vector<unsigned char> TakeStream(unsigned char* raw, int length) {
  strata::OwnedBuffer buffer(raw);
  if (buffer == nullptr || length <= 0) return {};
  return std::vector<unsigned char>(buffer.get(), buffer.get() + length);
}

std::vector<unsigned char> EncodeJpegImage(const std::vector<unsigned char>& rgb, int width,
                                           int height) {
  unsigned char* raw = nullptr;
  int length = 0;
  if (!EncodeJpegWithQuality(rgb.data(), width, height, 3, 90, &raw, length)) return {};
  return TakeStream(raw, length);
}

std::vector<unsigned char> EncodeBmpImage(const std::vector<unsigned char>& rgb, int width,
                                          int height) {
  unsigned char* raw = nullptr;
  int length = 0;
  if (!EncodeBmp24(rgb.data(), width, height, &raw, length)) return {};
  return TakeStream(raw, length);
}

// A picture with horizontal stripes in a hue of its own, so each associated
// image is recognisable.
std::vector<unsigned char> StripedPicture(int width, int height, Rgb base) {
  std::vector<unsigned char> rgb(static_cast<std::size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const bool stripe = (y / 10) % 2 == 0;
      unsigned char* p = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
      for (int c = 0; c < 3; ++c) p[c] = static_cast<unsigned char>(stripe ? base[c] : base[c] / 2);
    }
  }
  return rgb;
}

unsigned char MeanOf(unsigned sum, unsigned count) {
  return static_cast<unsigned char>((sum + count / 2) / count);
}

std::vector<unsigned char> HalveImage(const std::vector<unsigned char>& image, int width,
                                      int height, int* halfWidth, int* halfHeight) {
  *halfWidth = (width + 1) / 2;
  *halfHeight = (height + 1) / 2;
  std::vector<unsigned char> half(static_cast<std::size_t>(*halfWidth) * *halfHeight * 3);
  for (int i = 0; i < *halfHeight; ++i) {
    for (int j = 0; j < *halfWidth; ++j) {
      for (int c = 0; c < 3; ++c) {
        unsigned sum = 0;
        unsigned count = 0;
        for (int dy = 0; dy < 2; ++dy) {
          for (int dx = 0; dx < 2; ++dx) {
            const int x = 2 * j + dx;
            const int y = 2 * i + dy;
            if (x >= width || y >= height) continue;
            sum += image[(static_cast<std::size_t>(y) * width + x) * 3 + c];
            ++count;
          }
        }
        half[(static_cast<std::size_t>(i) * *halfWidth + j) * 3 + c] = MeanOf(sum, count);
      }
    }
  }
  return half;
}

}  // namespace

Rgb ExpectedBasePixel(int x, int y) {
  const std::uint32_t h = CellHash(x >> 8, y >> 8);
  Rgb pixel;
  pixel[0] = static_cast<unsigned char>((x & 255) * 3 / 4 + (h & 63));
  pixel[1] = static_cast<unsigned char>((y & 255) * 3 / 4 + ((h >> 8) & 63));
  pixel[2] = static_cast<unsigned char>(((x + y) & 511) * 3 / 8 + ((h >> 16) & 63));
  return pixel;
}

std::vector<unsigned char> ExpectedBaseImage(int width, int height) {
  std::vector<unsigned char> rgb(static_cast<std::size_t>(width) * height * 3);
  PatternRowSource(width)(0, height, rgb.data());
  return rgb;
}

std::vector<unsigned char> ExpectedLevelImage(int width, int height, int level, int* levelWidth,
                                              int* levelHeight) {
  std::vector<unsigned char> image = ExpectedBaseImage(width, height);
  int w = width;
  int h = height;
  for (int n = 0; n < level; ++n) {
    int hw = 0;
    int hh = 0;
    image = HalveImage(image, w, h, &hw, &hh);
    w = hw;
    h = hh;
  }
  if (levelWidth != nullptr) *levelWidth = w;
  if (levelHeight != nullptr) *levelHeight = h;
  return image;
}

ztx::RowSource PatternRowSource(int width) {
  return [width](int top, int rows, unsigned char* rgb) {
    for (int y = 0; y < rows; ++y) {
      for (int x = 0; x < width; ++x) {
        const Rgb pixel = ExpectedBasePixel(x, top + y);
        std::memcpy(rgb + (static_cast<std::size_t>(y) * width + x) * 3, pixel.data(), 3);
      }
    }
    return true;
  };
}

ztx::StoredImage MakeLabelImage() {
  ztx::StoredImage image;
  image.width = kLabelWidth;
  image.height = kLabelHeight;
  image.stream = EncodeJpegImage(StripedPicture(kLabelWidth, kLabelHeight, {220, 200, 60}),
                                 kLabelWidth, kLabelHeight);
  return image;
}

ztx::StoredImage MakePreviewImage() {
  ztx::StoredImage image;
  image.width = kPreviewWidth;
  image.height = kPreviewHeight;
  image.stream = EncodeJpegImage(StripedPicture(kPreviewWidth, kPreviewHeight, {60, 120, 220}),
                                 kPreviewWidth, kPreviewHeight);
  return image;
}

void ThumbnailSize(int slideWidth, int slideHeight, int* width, int* height) {
  double w = slideWidth;
  double h = slideHeight;
  while (w > 256.0 || h > 256.0) {
    w *= 0.5;
    h *= 0.5;
  }
  *width = std::max(1, static_cast<int>(w));
  *height = std::max(1, static_cast<int>(h));
}

ztx::StoredImage MakeThumbnailImage(int slideWidth, int slideHeight, bool bmp) {
  ztx::StoredImage image;
  ThumbnailSize(slideWidth, slideHeight, &image.width, &image.height);
  std::vector<unsigned char> rgb(static_cast<std::size_t>(image.width) * image.height * 3);
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      const Rgb pixel = ExpectedBasePixel(
          static_cast<int>(static_cast<std::int64_t>(x) * slideWidth / image.width),
          static_cast<int>(static_cast<std::int64_t>(y) * slideHeight / image.height));
      std::memcpy(&rgb[(static_cast<std::size_t>(y) * image.width + x) * 3], pixel.data(), 3);
    }
  }
  image.stream = bmp ? EncodeBmpImage(rgb, image.width, image.height)
                     : EncodeJpegImage(rgb, image.width, image.height);
  return image;
}

ztx::ZtxWriterOptions OptionsFor(const SlideRecipe& recipe) {
  ztx::ZtxWriterOptions options;
  options.version = recipe.version;
  options.longMagic = recipe.longMagic;
  options.encoding = recipe.encoding;
  options.jpegQuality = recipe.jpegQuality;
  options.blockSize = recipe.blockSize;
  options.scanScale = recipe.scanScale;
  options.levelMode = recipe.levelMode;
  options.smallestLevel = recipe.smallestLevel;
  options.compressIndex = recipe.compressIndex;
  options.scanTime = recipe.scanTime;
  options.spendTimeMs = recipe.spendTimeMs;
  options.captureResolution = recipe.captureResolution;
  options.items = recipe.items;
  options.channelCount = recipe.channelCount;
  if (recipe.withLabel) options.label = MakeLabelImage();
  if (recipe.withPreview) options.preview = MakePreviewImage();
  if (recipe.withThumbnail && recipe.version > 1.05f) {
    options.thumbnail =
        MakeThumbnailImage(recipe.width, recipe.height, recipe.encoding == ztx::TileEncoding::kBmp);
  }
  return options;
}

std::string MakeSlideWithOptions(const TempDir& dir, const std::string& fileName, int width,
                                 int height, const ztx::ZtxWriterOptions& options,
                                 ztx::ZtxLayout* layout) {
  const std::string path = dir.File(fileName);
  std::string error;
  ztx::ZtxWriter writer(options);
  if (!writer.Write(path, width, height, PatternRowSource(width), &error, layout)) {
    ADD_FAILURE() << "cannot write fixture slide " << path << ": " << error;
    return std::string();
  }
  return path;
}

std::string MakeSlide(const TempDir& dir, const SlideRecipe& recipe, ztx::ZtxLayout* layout) {
  return MakeSlideWithOptions(dir, recipe.fileName, recipe.width, recipe.height, OptionsFor(recipe),
                              layout);
}

std::int32_t ReadI32(const std::vector<unsigned char>& bytes, std::size_t at) {
  return static_cast<std::int32_t>(ReadU32(bytes, at));
}

std::uint32_t ReadU32(const std::vector<unsigned char>& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) {
    value |= static_cast<std::uint32_t>(bytes.at(at + static_cast<std::size_t>(i))) << (8 * i);
  }
  return value;
}

std::int64_t ReadI64(const std::vector<unsigned char>& bytes, std::size_t at) {
  std::uint64_t value = 0;
  for (int i = 0; i < 8; ++i) {
    value |= static_cast<std::uint64_t>(bytes.at(at + static_cast<std::size_t>(i))) << (8 * i);
  }
  return static_cast<std::int64_t>(value);
}

float ReadF32(const std::vector<unsigned char>& bytes, std::size_t at) {
  const std::uint32_t bits = ReadU32(bytes, at);
  float value = 0.0f;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

}  // namespace strata::test
