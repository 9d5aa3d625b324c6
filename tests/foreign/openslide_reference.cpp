#include "foreign/openslide_reference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "strata/foreign/openslide_pixels.h"
#include "strata/model/image_buffer.h"

namespace strata::test {

DirectSlide::DirectSlide(const std::string& path)
    : library_(foreign::OpenSlideLibrary::Current()), slide_(library_.Open(path.c_str())) {}

DirectSlide::~DirectSlide() { library_.Close(slide_); }

std::vector<unsigned char> DirectSlide::Pixels(int level, std::int64_t x, std::int64_t y, int w,
                                               int h) const {
  std::vector<std::uint32_t> argb(static_cast<std::size_t>(w) * h);
  library_.ReadRegion(slide_, argb.data(), x, y, level, w, h);
  std::vector<unsigned char> rgb(argb.size() * 3);
  foreign::ConvertArgbToRgb(argb.data(), argb.size(), foreign::BackgroundColour{}, rgb.data());
  return rgb;
}

std::vector<unsigned char> DirectSlide::AssociatedImage(const char* name, int& w, int& h) const {
  std::int64_t width = 0, height = 0;
  library_.AssociatedImageDimensions(slide_, name, &width, &height);
  w = static_cast<int>(width);
  h = static_cast<int>(height);
  std::vector<std::uint32_t> argb(static_cast<std::size_t>(width * height));
  library_.ReadAssociatedImage(slide_, name, argb.data());
  std::vector<unsigned char> rgb(argb.size() * 3);
  foreign::CopyArgbColours(argb.data(), argb.size(), rgb.data());
  return rgb;
}

void ExpectEveryTileIsOpenSlides(const std::string& path, IMAGE_INFO_STRUCT& handle,
                                 double scanScale) {
  DirectSlide direct(path);
  ASSERT_TRUE(direct.ok());
  ASSERT_GT(direct.LevelCount(), 1);
  for (int level = 0; level < direct.LevelCount(); ++level) {
    const double downsample = direct.Downsample(level);
    std::int64_t levelWidth = 0, levelHeight = 0;
    direct.LevelSize(level, levelWidth, levelHeight);
    const float scale = static_cast<float>(scanScale / downsample);
    for (int y = 0; y < levelHeight; y += 256) {
      for (int x = 0; x < levelWidth; x += 256) {
        const int w = static_cast<int>(std::min<std::int64_t>(256, levelWidth - x));
        const int h = static_cast<int>(std::min<std::int64_t>(256, levelHeight - y));
        const std::vector<unsigned char> expected = EncodeLikeLibrary(
            direct.Pixels(level, std::llround(x * downsample), std::llround(y * downsample), w, h),
            w, h);
        ASSERT_EQ(TileStream(handle, scale, x, y), expected)
            << "level " << level << " tile " << x << "," << y;
      }
    }
    EXPECT_TRUE(TileStream(handle, scale, static_cast<int>(levelWidth), 0).empty());
  }
}

std::vector<unsigned char> RegionPixels(IMAGE_INFO_STRUCT handle, float scale, int x, int y, int w,
                                        int h) {
  unsigned char* out = nullptr;
  int length = 0;
  if (!GetImageDataRoiFunc(handle, scale, x, y, w, h, &out, &length, false)) return {};
  PixelBuffer owned(out);
  return std::vector<unsigned char>(out, out + length);
}

}  // namespace strata::test
