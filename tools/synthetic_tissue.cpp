#include "tools/synthetic_tissue.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "strata/slide/system.h"

namespace strata::tools {
namespace {

constexpr int kStainStep = 4;     // the smooth stain field is sampled every few pixels
constexpr int kNucleusCell = 20;  // at most one nucleus per cell

std::uint32_t Hash(std::int64_t x, std::int64_t y, std::uint32_t seed) {
  std::uint64_t h = static_cast<std::uint64_t>(x) * 0x9E3779B97F4A7C15ULL ^
                    static_cast<std::uint64_t>(y) * 0xC2B2AE3D27D4EB4FULL ^
                    static_cast<std::uint64_t>(seed) * 0x165667B19E3779F9ULL;
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9ULL;
  h ^= h >> 32;
  return static_cast<std::uint32_t>(h);
}

double Lattice(std::int64_t x, std::int64_t y, std::uint32_t seed) {
  return Hash(x, y, seed) * (1.0 / 4294967296.0);
}

double Smooth(double t) { return t * t * (3.0 - 2.0 * t); }

double SmoothStep(double low, double high, double value) {
  return Smooth(std::clamp((value - low) / (high - low), 0.0, 1.0));
}

// Value noise in [0, 1) with smooth interpolation between lattice points.
double ValueNoise(double x, double y, std::uint32_t seed) {
  const double fx = std::floor(x);
  const double fy = std::floor(y);
  const auto ix = static_cast<std::int64_t>(fx);
  const auto iy = static_cast<std::int64_t>(fy);
  const double sx = Smooth(x - fx);
  const double sy = Smooth(y - fy);
  const double top = Lattice(ix, iy, seed) * (1 - sx) + Lattice(ix + 1, iy, seed) * sx;
  const double bottom = Lattice(ix, iy + 1, seed) * (1 - sx) + Lattice(ix + 1, iy + 1, seed) * sx;
  return top * (1 - sy) + bottom * sy;
}

struct Colour {
  double r, g, b;
};

constexpr Colour kGlass{245, 245, 247};
constexpr Colour kEosin{236, 160, 200};
constexpr Colour kHaematoxylin{160, 100, 185};
constexpr Colour kNucleus{80, 40, 120};

Colour Mix(const Colour& a, const Colour& b, double t) {
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

unsigned char ToByte(double value) {
  return static_cast<unsigned char>(std::clamp(value, 0.0, 255.0));
}

}  // namespace

SyntheticTissue::SyntheticTissue(int width, int height, std::uint32_t seed)
    : width_(width), height_(height), seed_(seed) {}

SyntheticTissue::Stain SyntheticTissue::StainAt(double x, double y, bool fine) const {
  double mass = 0.55 * ValueNoise(x / 2400, y / 2400, seed_ + 1) +
                0.30 * ValueNoise(x / 700, y / 700, seed_ + 2) +
                0.15 * ValueNoise(x / 180, y / 180, seed_ + 3);
  // Keep a margin of glass around the tissue.
  const double edge =
      std::min({x, width_ - x, y, height_ - y}) / (0.08 * std::max(1, std::min(width_, height_)));
  mass -= 0.3 * (1.0 - std::clamp(edge, 0.0, 1.0));
  Stain stain;
  stain.tissue = SmoothStep(0.47, 0.53, mass);
  const double hue = 0.65 * ValueNoise(x / 90, y / 90, seed_ + 4) +
                     0.35 * (fine ? ValueNoise(x / 25, y / 25, seed_ + 5) : 0.5);
  stain.purple = SmoothStep(0.3, 0.75, hue);
  return stain;
}

double SyntheticTissue::NucleusCover(int x, int y, double tissue) const {
  if (tissue < 0.05) return 0.0;
  const int cellX = x / kNucleusCell;
  const int cellY = y / kNucleusCell;
  const std::uint32_t h = Hash(cellX, cellY, seed_ + 6);
  if ((h & 0xFF) > 110) return 0.0;
  const double radius = 3.0 + (h >> 8) % 4;
  const double centreX = cellX * kNucleusCell + 6 + (h >> 12) % 9;
  const double centreY = cellY * kNucleusCell + 6 + (h >> 16) % 9;
  const double distance = std::hypot(x - centreX, y - centreY);
  return std::clamp(radius - distance + 0.5, 0.0, 1.0) * tissue;
}

void SyntheticTissue::Shade(const Stain& stain, int noise, unsigned char* rgb) const {
  const Colour stained = Mix(kEosin, kHaematoxylin, stain.purple);
  const Colour colour = Mix(kGlass, stained, stain.tissue);
  const double grain = noise * (0.3 + 0.7 * stain.tissue);
  rgb[0] = ToByte(colour.r + grain);
  rgb[1] = ToByte(colour.g + grain);
  rgb[2] = ToByte(colour.b + grain);
}

void SyntheticTissue::FillRow(int y, unsigned char* rgb) const {
  const int samples = width_ / kStainStep + 2;
  std::vector<Stain> field(static_cast<std::size_t>(samples));
  for (int i = 0; i < samples; ++i) field[static_cast<std::size_t>(i)] = StainAt(i * kStainStep, y);
  for (int x = 0; x < width_; ++x) {
    const int i = x / kStainStep;
    const double t = static_cast<double>(x % kStainStep) / kStainStep;
    const Stain& a = field[static_cast<std::size_t>(i)];
    const Stain& b = field[static_cast<std::size_t>(i) + 1];
    Stain stain{a.tissue + (b.tissue - a.tissue) * t, a.purple + (b.purple - a.purple) * t};
    const int noise = static_cast<int>(Hash(x, y, seed_ + 7) % 17) - 8;
    unsigned char* pixel = rgb + static_cast<std::size_t>(x) * 3;
    Shade(stain, noise, pixel);
    const double cover = NucleusCover(x, y, stain.tissue);
    if (cover > 0) {
      const Colour dark =
          Mix(kNucleus,
              Colour{kNucleus.r + noise * 2.0, kNucleus.g + noise * 2.0, kNucleus.b + noise * 2.0},
              0.5);
      pixel[0] = ToByte(pixel[0] + (dark.r - pixel[0]) * cover);
      pixel[1] = ToByte(pixel[1] + (dark.g - pixel[1]) * cover);
      pixel[2] = ToByte(pixel[2] + (dark.b - pixel[2]) * cover);
    }
  }
}

bool SyntheticTissue::FillRows(int top, int rows, unsigned char* rgb) const {
  const std::size_t rowBytes = static_cast<std::size_t>(width_) * 3;
  system::ParallelFor(static_cast<std::size_t>(rows), system::ProcessorCount(), [&](std::size_t i) {
    FillRow(top + static_cast<int>(i), rgb + rowBytes * i);
  });
  return true;
}

std::vector<unsigned char> SyntheticTissue::Overview(int width, int height) const {
  std::vector<unsigned char> rgb(static_cast<std::size_t>(width) * height * 3);
  const double stepX = static_cast<double>(width_) / width;
  const double stepY = static_cast<double>(height_) / height;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      Stain stain = StainAt((x + 0.5) * stepX, (y + 0.5) * stepY, false);
      // Nuclei too small to see still darken the stain on average.
      stain.purple = std::min(1.0, stain.purple + 0.15);
      Shade(stain, 0, &rgb[(static_cast<std::size_t>(y) * width + x) * 3]);
    }
  }
  return rgb;
}

std::vector<unsigned char> RenderLabelPicture(int width, int height, std::uint32_t seed) {
  std::vector<unsigned char> rgb(static_cast<std::size_t>(width) * height * 3, 250);
  auto fill = [&](int left, int top, int w, int h, Colour colour) {
    for (int y = std::max(0, top); y < std::min(height, top + h); ++y) {
      for (int x = std::max(0, left); x < std::min(width, left + w); ++x) {
        unsigned char* p = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
        p[0] = ToByte(colour.r);
        p[1] = ToByte(colour.g);
        p[2] = ToByte(colour.b);
      }
    }
  };
  // A coloured stripe naming the stain, lines of "text", then a barcode.
  const std::uint32_t hue = Hash(1, 2, seed);
  fill(0, 0, width, height / 6, Colour{60.0 + hue % 150, 80.0 + (hue >> 8) % 120, 160});
  const int textTop = height / 6 + height / 12;
  for (int line = 0; line < 3; ++line) {
    int x = width / 12;
    const int top = textTop + line * height / 9;
    for (int word = 0; x < width * 11 / 12; ++word) {
      const int length = 8 + static_cast<int>(Hash(line, word, seed) % 40);
      fill(x, top, std::min(length, width * 11 / 12 - x), height / 18, Colour{30, 30, 40});
      x += length + 8;
    }
  }
  int x = width / 12;
  const int barTop = height * 2 / 3;
  for (int bar = 0; x < width * 11 / 12; ++bar) {
    const int barWidth = 1 + static_cast<int>(Hash(bar, 7, seed) % 4);
    if (bar % 2 == 0) fill(x, barTop, barWidth, height / 4, Colour{0, 0, 0});
    x += barWidth;
  }
  return rgb;
}

}  // namespace strata::tools
