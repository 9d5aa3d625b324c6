#include "strata/foreign/openslide_pixels.h"

#include <algorithm>
#include <new>

#include "strata/model/region_geometry.h"

namespace strata::foreign {
namespace {

constexpr std::uint32_t kOpaqueEnough = 250;

unsigned char Composite(std::uint32_t channel, std::uint32_t alpha, unsigned char background) {
  const double value = (background / 255.0 * (1.0 - alpha / 255.0) + channel / 255.0) * 255.0 + 0.5;
  return static_cast<unsigned char>(std::min(value, 255.0));
}

}  // namespace

bool ArgbReadBuffers::Allocate(std::int64_t width, std::int64_t height) {
  std::size_t argbBytes = 0;
  std::size_t rgbBytes = 0;
  if (width <= 0 || height <= 0 || !CheckedPixelBytes(width, height, 4, argbBytes) ||
      !CheckedPixelBytes(width, height, 3, rgbBytes) ||
      !FitsRegionMemoryBudget(static_cast<std::uint64_t>(argbBytes) + rgbBytes)) {
    return false;
  }
  count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  argb.reset(new (std::nothrow) std::uint32_t[count]);
  rgb.reset(AllocateBuffer(rgbBytes));
  return argb != nullptr && rgb != nullptr;
}

void ConvertArgbToRgb(const std::uint32_t* argb, std::size_t count,
                      const BackgroundColour& background, unsigned char* rgb) {
  for (std::size_t i = 0; i < count; ++i, rgb += 3) {
    const std::uint32_t pixel = argb[i];
    const std::uint32_t alpha = pixel >> 24;
    const std::uint32_t red = (pixel >> 16) & 0xFF;
    const std::uint32_t green = (pixel >> 8) & 0xFF;
    const std::uint32_t blue = pixel & 0xFF;
    if (alpha == 255) {
      // Opaque pixels come out unchanged under either rule.
      rgb[0] = static_cast<unsigned char>(red);
      rgb[1] = static_cast<unsigned char>(green);
      rgb[2] = static_cast<unsigned char>(blue);
    } else if (background.present) {
      rgb[0] = Composite(red, alpha, background.red);
      rgb[1] = Composite(green, alpha, background.green);
      rgb[2] = Composite(blue, alpha, background.blue);
    } else if (alpha < kOpaqueEnough) {
      rgb[0] = rgb[1] = rgb[2] = 255;
    } else {
      rgb[0] = static_cast<unsigned char>(red);
      rgb[1] = static_cast<unsigned char>(green);
      rgb[2] = static_cast<unsigned char>(blue);
    }
  }
}

void ConvertArgbToRgba(const std::uint32_t* argb, std::size_t count, unsigned char* rgba) {
  for (std::size_t i = 0; i < count; ++i, rgba += 4) {
    const std::uint32_t pixel = argb[i];
    const std::uint32_t alpha = pixel >> 24;
    std::uint32_t red = (pixel >> 16) & 0xFF;
    std::uint32_t green = (pixel >> 8) & 0xFF;
    std::uint32_t blue = pixel & 0xFF;
    if (alpha != 0 && alpha != 255) {
      red = 255 * red / alpha;
      green = 255 * green / alpha;
      blue = 255 * blue / alpha;
    }
    rgba[0] = static_cast<unsigned char>(red);
    rgba[1] = static_cast<unsigned char>(green);
    rgba[2] = static_cast<unsigned char>(blue);
    rgba[3] = static_cast<unsigned char>(alpha);
  }
}

void CopyArgbColours(const std::uint32_t* argb, std::size_t count, unsigned char* rgb) {
  for (std::size_t i = 0; i < count; ++i, rgb += 3) {
    rgb[0] = static_cast<unsigned char>((argb[i] >> 16) & 0xFF);
    rgb[1] = static_cast<unsigned char>((argb[i] >> 8) & 0xFF);
    rgb[2] = static_cast<unsigned char>(argb[i] & 0xFF);
  }
}

}  // namespace strata::foreign
