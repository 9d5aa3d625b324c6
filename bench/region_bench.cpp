// Region composition speed: GetImageDataRoiFunc on 2048 x 2048 regions at
// the scan scale and at 0.3 times it, next to decoding the same stored tiles
// (strata::Slide::ReadTile) with the library's own DecodeJpeg in the same run (bytes fetched before
// the clock starts). The ratio shows what composing costs beyond decoding;
// the aim at the scan scale is 0.8 or better.
//
// Writes (once; later runs reuse it) a 16,384 x 16,384 synthetic 40x slide.
//
// usage: region_bench [--dir DIR] [--regions N] [--factor F]
// (--factor measures only F times the scan scale)
// DIR defaults to $STRATA_BENCH_DIR, else /tmp/strata-bench.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "strata/slide.h"
#include "strata/slide/image_codec.h"
#include "strata/strata.h"

namespace {

using strata::bench::Clock;
using strata::bench::EnsureBenchSlide;
using strata::bench::SecondsSince;

constexpr int kSlideSize = 16384;
constexpr int kScanScale = 40;
constexpr int kRegionSize = 2048;

using Owned = strata::OwnedBuffer;

struct Origin {
  int x;
  int y;
};

// The level a region at `factor` times the scan scale is composed from: of
// the two stored levels around it the coarser one, unless that one would have
// to be enlarged by more than 1.5 times (the rule of the library's region
// composition, which the slide does not hand out).
int SourceLevel(const strata::Slide& slide, float factor) {
  const double wanted = 1.0 / factor;
  const int finer = slide.BestLevelForDownsample(wanted);
  const std::vector<strata::SlideLevel>& levels = slide.Levels();
  const auto coarser = static_cast<std::size_t>(finer) + 1;
  if (coarser >= levels.size() || levels[coarser].downsample / wanted > 1.5) return finer;
  return static_cast<int>(coarser);
}

// The stored tiles a region reads, over the window the region maps to on
// its source level.
std::vector<std::vector<unsigned char>> CoveringTiles(const strata::Slide& slide, float factor,
                                                      const Origin& origin) {
  std::vector<std::vector<unsigned char>> tiles;
  const int level = SourceLevel(slide, factor);
  const strata::SlideLevel& stored = slide.Levels()[static_cast<std::size_t>(level)];
  // Region pixels to level pixels.
  const double toLevel = 1.0 / (factor * stored.downsample);
  const auto first = [](double at, int edge) { return static_cast<std::int64_t>(at) / edge; };
  const auto last = [](double at, int edge) { return (static_cast<std::int64_t>(at) - 1) / edge; };
  strata::Tile tile;
  for (std::int64_t column = first(origin.x * toLevel, stored.tileWidth);
       column <= last((origin.x + kRegionSize) * toLevel, stored.tileWidth); ++column) {
    for (std::int64_t row = first(origin.y * toLevel, stored.tileHeight);
         row <= last((origin.y + kRegionSize) * toLevel, stored.tileHeight); ++row) {
      if (slide.ReadTile(level, column, row, &tile).ok()) tiles.push_back(tile.bytes);
    }
  }
  return tiles;
}

struct Rates {
  double region = 0.0;  // megapixels of regions per second
  double decode = 0.0;  // the same megapixels per second of plain tile decoding
};

// Each region is composed and then its tiles decoded right after, so both
// rates see the same machine load.
Rates Measure(IMAGE_INFO_STRUCT& handle, const strata::Slide& slide, float factor,
              const std::vector<Origin>& origins) {
  const float scale = kScanScale * factor;
  const double megapixels = static_cast<double>(kRegionSize) * kRegionSize * origins.size() / 1e6;
  double regionSeconds = 0.0;
  double decodeSeconds = 0.0;
  for (const Origin& origin : origins) {
    const auto regionStart = Clock::now();
    unsigned char* pixels = nullptr;
    int length = 0;
    if (!GetImageDataRoiFunc(handle, scale, origin.x, origin.y, kRegionSize, kRegionSize, &pixels,
                             &length, false)) {
      std::fprintf(stderr, "region at (%d, %d) failed\n", origin.x, origin.y);
    }
    DeleteImageDataFunc(pixels);
    regionSeconds += SecondsSince(regionStart);

    const auto tiles = CoveringTiles(slide, factor, origin);
    const auto decodeStart = Clock::now();
    for (const auto& bytes : tiles) {
      int width = 0;
      int height = 0;
      Owned decoded(
          strata::DecodeJpeg(bytes.data(), static_cast<int>(bytes.size()), width, height));
    }
    decodeSeconds += SecondsSince(decodeStart);
  }
  return {megapixels / regionSeconds, megapixels / decodeSeconds};
}

}  // namespace

int main(int argc, char** argv) {
  constexpr const char* kUsage = "region_bench [--dir DIR] [--regions N] [--factor F]";
  strata::tools::Arguments arguments;
  if (!strata::bench::ParseBenchArguments(argc, argv, {"--dir", "--regions", "--factor"}, kUsage,
                                          &arguments)) {
    return 2;
  }
  const std::string dir = strata::bench::BenchDir(arguments);
  int regions = 12;
  if (!strata::bench::PositiveOption(arguments, "--regions", regions, kUsage, &regions)) return 2;
  std::vector<float> factors = {1.0f, 0.3f};
  if (arguments.Has("--factor")) {
    float factor = 1.0f;
    std::string error;
    if (!arguments.Float("--factor", 1.0f, 0.0001f, 100.0f, &factor, &error)) {
      std::fprintf(stderr, "%s\nusage: %s\n", error.c_str(), kUsage);
      return 2;
    }
    factors = {factor};
  }
  std::filesystem::create_directories(dir);
  const std::string path = dir + "/region_bench_16k.ztx";
  if (!EnsureBenchSlide(path, kSlideSize, kSlideSize, kScanScale, 7)) return 1;
  IMAGE_INFO_STRUCT handle{};
  std::unique_ptr<strata::Slide> slide;
  if (!InitImageFileFunc(&handle, path.c_str()) || !strata::Slide::Open(path, &slide).ok()) {
    std::fprintf(stderr, "cannot open %s\n", path.c_str());
    UnInitImageFileFunc(&handle);
    return 1;
  }
  std::mt19937 random(11);
  std::printf("%-12s %14s %14s %8s\n", "scale", "region MP/s", "decode MP/s", "ratio");
  for (const float factor : factors) {
    if (!(factor > 0.0f && factor <= 1.0f)) return 2;
    const float scale = kScanScale * factor;
    const int extent = static_cast<int>(kSlideSize * factor) - kRegionSize;
    std::uniform_int_distribution<int> place(0, std::max(0, extent));
    std::vector<Origin> origins;
    for (int i = 0; i < regions; ++i) origins.push_back({place(random), place(random)});
    Measure(handle, *slide, factor, {origins.front()});  // warm the file cache
    const Rates rates = Measure(handle, *slide, factor, origins);
    std::printf("%4gx (%.1fx) %14.1f %14.1f %8.2f\n", static_cast<double>(factor),
                static_cast<double>(scale), rates.region, rates.decode,
                rates.region / rates.decode);
  }
  UnInitImageFileFunc(&handle);
  return 0;
}
