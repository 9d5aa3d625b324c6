// Slides read through OpenSlide (the SVS route with STRATA_NATIVE_TIFF=0):
// GetImageDataRoiFunc on 2048 x 2048 regions at
// level 0 and at half scale, in megapixels per second, next to calling
// openslide_read_region plus the same ARGB conversion directly in the same
// run (aim: Strata at 0.9 or more of the direct calls), and GetImageStreamFunc
// tiles per second (re-encoded JPEG).
//
// Writes (once; later runs reuse it) a 20,000 x 15,000 SVS with the SVS
// writer of the tools, its levels halving so that half scale is a stored
// level. Strata and the direct calls read different regions of the same
// level, so that neither gains from OpenSlide's tile cache warmed by the
// other.
//
// usage: openslide_bench [--dir DIR] [--rounds N]
// DIR defaults to $STRATA_BENCH_DIR, else /tmp/strata-bench.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "strata/slide/image_codec.h"
#include "strata/slide/system.h"
#include "strata/strata.h"
#include "tools/svs_writer.h"

// The part of OpenSlide's C interface the direct calls use (the bench links
// the library itself; the library under test loads it on its own).
extern "C" {
struct _openslide;
typedef struct _openslide openslide_t;
openslide_t* openslide_open(const char* filename);
void openslide_close(openslide_t* osr);
void openslide_get_level_dimensions(openslide_t* osr, std::int32_t level, std::int64_t* w,
                                    std::int64_t* h);
double openslide_get_level_downsample(openslide_t* osr, std::int32_t level);
void openslide_read_region(openslide_t* osr, std::uint32_t* dest, std::int64_t x, std::int64_t y,
                           std::int32_t level, std::int64_t w, std::int64_t h);
}

namespace {

using strata::bench::Clock;
using strata::bench::SecondsSince;

constexpr int kWidth = 20000;
constexpr int kHeight = 15000;
constexpr int kRegion = 2048;
constexpr double kScanScale = 20.0;

std::string EnsureSvs(const std::string& dir) {
  const std::string path = dir + "/bench-20000x15000.svs";
  if (std::filesystem::exists(path)) return path;
  std::filesystem::create_directories(dir);
  strata::tools::SvsOptions options;
  options.width = kWidth;
  options.height = kHeight;
  options.levelFactor = 2;
  options.label = strata::tools::FramedPicture(400, 200, 230, 220, 150);
  options.macro = strata::tools::FramedPicture(600, 200, 150, 110, 170);
  std::printf("writing %s ...\n", path.c_str());
  std::fflush(stdout);
  const std::string partial = path + ".partial";
  std::string error;
  if (!strata::tools::WriteSvs(partial, options, strata::tools::FillSvsTestPattern, &error)) {
    std::fprintf(stderr, "openslide_bench: %s\n", error.c_str());
    return "";
  }
  std::filesystem::rename(partial, path);
  return path;
}

struct Origin {
  int x;
  int y;
};

// Region origins at a level of the given size, alternating between the two
// readers so each reads its own part of the level.
void SplitOrigins(int levelWidth, int levelHeight, std::vector<Origin>& strata,
                  std::vector<Origin>& direct) {
  bool toStrata = true;
  for (int y = 0; y + kRegion <= levelHeight; y += kRegion) {
    for (int x = 0; x + kRegion <= levelWidth; x += kRegion) {
      (toStrata ? strata : direct).push_back({x, y});
      toStrata = !toStrata;
    }
  }
}

double StrataRegions(IMAGE_INFO_STRUCT handle, float scale, const std::vector<Origin>& origins) {
  const Clock::time_point start = Clock::now();
  for (const Origin& origin : origins) {
    unsigned char* out = nullptr;
    int length = 0;
    if (!GetImageDataRoiFunc(handle, scale, origin.x, origin.y, kRegion, kRegion, &out, &length,
                             false)) {
      std::fprintf(stderr, "openslide_bench: region %d,%d failed\n", origin.x, origin.y);
    }
    DeleteImageDataFunc(out);
  }
  return SecondsSince(start);
}

// Premultiplied ARGB to RGB as the library's OpenSlide route does it: opaque
// pixels as they are, those not quite opaque (outside the scanned area)
// white.
void ArgbToRgb(const std::uint32_t* argb, std::size_t count, unsigned char* rgb) {
  constexpr std::uint32_t kOpaqueEnough = 250;
  for (std::size_t i = 0; i < count; ++i, rgb += 3) {
    const std::uint32_t pixel = argb[i];
    if ((pixel >> 24) < kOpaqueEnough) {
      rgb[0] = rgb[1] = rgb[2] = 255;
    } else {
      rgb[0] = static_cast<unsigned char>(pixel >> 16);
      rgb[1] = static_cast<unsigned char>(pixel >> 8);
      rgb[2] = static_cast<unsigned char>(pixel);
    }
  }
}

double DirectRegions(openslide_t* slide, int level, double downsample,
                     const std::vector<Origin>& origins) {
  const Clock::time_point start = Clock::now();
  const std::size_t count = static_cast<std::size_t>(kRegion) * kRegion;
  for (const Origin& origin : origins) {
    // Allocated per region, as the library does.
    std::unique_ptr<std::uint32_t[]> argb(new std::uint32_t[count]);
    strata::PixelBuffer rgb(strata::AllocateBuffer(count * 3));
    openslide_read_region(slide, argb.get(), static_cast<std::int64_t>(origin.x * downsample),
                          static_cast<std::int64_t>(origin.y * downsample), level, kRegion,
                          kRegion);
    ArgbToRgb(argb.get(), count, rgb.get());
  }
  return SecondsSince(start);
}

void CompareRegions(const char* label, IMAGE_INFO_STRUCT handle, openslide_t* slide, int level,
                    int rounds) {
  const double downsample = openslide_get_level_downsample(slide, level);
  std::int64_t w = 0, h = 0;
  openslide_get_level_dimensions(slide, level, &w, &h);
  std::vector<Origin> strataOrigins, directOrigins;
  SplitOrigins(static_cast<int>(w), static_cast<int>(h), strataOrigins, directOrigins);
  double strataSeconds = 0, directSeconds = 0;
  for (int round = 0; round < rounds; ++round) {
    strataSeconds +=
        StrataRegions(handle, static_cast<float>(kScanScale / downsample), strataOrigins);
    directSeconds += DirectRegions(slide, level, downsample, directOrigins);
  }
  const double pixels = static_cast<double>(kRegion) * kRegion * rounds / 1e6;
  const double strataRate = pixels * strataOrigins.size() / strataSeconds;
  const double directRate = pixels * directOrigins.size() / directSeconds;
  std::printf("%-28s Strata %7.1f MP/s   direct %7.1f MP/s   ratio %.2f\n", label, strataRate,
              directRate, strataRate / directRate);
}

void MeasureTiles(IMAGE_INFO_STRUCT handle) {
  int tiles = 0;
  const Clock::time_point start = Clock::now();
  for (int y = 0; y < 4096; y += 256) {
    for (int x = 0; x < kWidth - 256; x += 256) {
      unsigned char* out = nullptr;
      int length = 0;
      GetImageStreamFunc(&handle, static_cast<float>(kScanScale), x, y, &length, &out);
      if (out != nullptr) ++tiles;
      DeleteImageDataFunc(out);
    }
  }
  std::printf("%-28s %7.0f tiles/s (256 x 256 JPEG, %d tiles)\n", "GetImageStreamFunc level 0",
              tiles / SecondsSince(start), tiles);
}

}  // namespace

int main(int argc, char** argv) {
  // The adapter over OpenSlide is measured here; the native SVS reader is
  // bench/svs_bench's.
  strata::system::SetEnvironmentValue("STRATA_NATIVE_TIFF", "0");
  const char* fromEnvironment = strata::system::EnvironmentValue("STRATA_BENCH_DIR");
  std::string dir = fromEnvironment != nullptr ? fromEnvironment : "/tmp/strata-bench";
  int rounds = 2;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--dir") dir = argv[i + 1];
    if (option == "--rounds") rounds = std::max(1, std::atoi(argv[i + 1]));
  }
  const std::string path = EnsureSvs(dir);
  if (path.empty()) return 1;
  IMAGE_INFO_STRUCT handle{};
  if (!InitImageFileFunc(&handle, path.c_str())) {
    std::fprintf(stderr, "openslide_bench: cannot open %s (is libopenslide.so.0 installed?)\n",
                 path.c_str());
    return 1;
  }
  openslide_t* slide = openslide_open(path.c_str());
  if (slide == nullptr) {
    std::fprintf(stderr, "openslide_bench: OpenSlide cannot open %s\n", path.c_str());
    UnInitImageFileFunc(&handle);
    return 1;
  }
  std::printf("%s: %d x %d, regions of %d x %d, %d rounds\n", path.c_str(), kWidth, kHeight,
              kRegion, kRegion, rounds);
  CompareRegions("GetImageDataRoiFunc level 0", handle, slide, 0, rounds);
  CompareRegions("GetImageDataRoiFunc half", handle, slide, 1, rounds);
  MeasureTiles(handle);
  openslide_close(slide);
  UnInitImageFileFunc(&handle);
  return 0;
}
