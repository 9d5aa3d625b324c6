#include "strata/foreign/openslide_regions.h"

#include <climits>
#include <cmath>
#include <new>
#include <utility>

#include "strata/model/image_buffer.h"
#include "strata/model/region_geometry.h"

namespace strata::foreign {

std::int64_t ToLevel0(double position, double downsample) {
  return std::llround(position * downsample);
}

bool ReadLevelArgb(const OpenSlideLibrary& library, OpenSlideHandle slide, int level,
                   std::int64_t x, std::int64_t y, int w, int h, std::vector<std::uint32_t>& argb) {
  std::size_t bytes = 0;
  if (slide == nullptr || w <= 0 || h <= 0 || !CheckedPixelBytes(w, h, 4, bytes)) return false;
  try {
    argb.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
  } catch (const std::bad_alloc&) {
    return false;
  }
  return library.ReadRegion(slide, argb.data(), x, y, level, w, h) &&
         library.Error(slide) == nullptr;
}

bool ReadLevelRgbInto(const OpenSlideLibrary& library, OpenSlideHandle slide, int level,
                      std::int64_t x, std::int64_t y, int w, int h,
                      const BackgroundColour& background, const WindowTarget& target) {
  std::vector<std::uint32_t> argb;
  if (!ReadLevelArgb(library, slide, level, x, y, w, h, argb)) return false;
  for (int row = 0; row < h; ++row) {
    ConvertArgbToRgb(argb.data() + static_cast<std::size_t>(row) * w, static_cast<std::size_t>(w),
                     background, target.pixels + static_cast<std::size_t>(row) * target.stride);
  }
  return true;
}

LevelWindowSource::LevelWindowSource(std::int64_t width, std::int64_t height, double scanScale,
                                     std::vector<double> downsamples, ReadInto read)
    : width_(width), height_(height), scanScale_(scanScale), downsamples_(std::move(downsamples)),
      read_(std::move(read)) {
  for (const double downsample : downsamples_) {
    scales_.push_back(static_cast<float>(scanScale_ / downsample));
  }
}

bool LevelWindowSource::Geometry(int& width, int& height, float& scanScale) {
  if (width_ > INT_MAX || height_ > INT_MAX || scales_.empty()) return false;
  width = static_cast<int>(width_);
  height = static_cast<int>(height_);
  scanScale = static_cast<float>(scanScale_);
  return true;
}

float LevelWindowSource::SourceScale(float scale) {
  chosen_ = ChooseSourceLevel(scales_, scale);
  return chosen_ < 0 ? 0.0f : scales_[static_cast<std::size_t>(chosen_)];
}

bool LevelWindowSource::FillWindow(float, float x, float y, int width, int height,
                                   const WindowTarget& target) {
  if (chosen_ < 0) return false;
  const double downsample = downsamples_[static_cast<std::size_t>(chosen_)];
  return read_(chosen_, ToLevel0(x, downsample), ToLevel0(y, downsample), width, height, target);
}

}  // namespace strata::foreign
