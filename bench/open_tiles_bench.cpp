// Open and tile-read speed on a large writer-made slide.
//
// Writes (once; later runs reuse it) a 100,000 x 80,000 synthetic slide,
// then measures:
//   - a full open (InitImageFileFunc, and strata::Slide::Open: header,
//     sections, whole tile index),
//   - a block open of a 4096 x 4096 region (InitImageFileFuncAsBlock),
//   - 10,000 random base-level tiles through GetImageStreamFunc and through
//     strata::Slide::ReadTile,
//   - reading the same byte ranges straight from the file (where the writer
//     put them, kept beside the slide),
// and prints the ratios (the library's cost per tile; the medians of three
// alternating passes over warm ranges).
//
// usage: open_tiles_bench [--dir DIR] [--width W] [--height H] [--tiles N]
// DIR defaults to $STRATA_BENCH_DIR, else /tmp/strata-bench.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "strata/slide.h"
#include "strata/slide/system.h"
#include "strata/strata.h"

namespace {

using strata::bench::Clock;
using strata::bench::SecondsSince;
using strata::bench::SharedBenchSlide;
using strata::bench::TileRange;

constexpr const char* kUsage = "open_tiles_bench [--dir DIR] [--width W] [--height H] [--tiles N]";

double MedianSeconds(const std::function<bool()>& open) {
  std::vector<double> times;
  for (int run = 0; run < 5; ++run) {
    const auto start = Clock::now();
    const bool opened = open();
    times.push_back(SecondsSince(start));
    if (!opened) return -1.0;
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

double MedianOpenSeconds(const std::string& path, bool block, int left, int top, float scale) {
  return MedianSeconds([&] {
    IMAGE_INFO_STRUCT handle{};
    const bool opened = block ? InitImageFileFuncAsBlock(&handle, path.c_str(), left, top,
                                                         left + 4096, top + 4096, scale)
                              : InitImageFileFunc(&handle, path.c_str());
    UnInitImageFileFunc(&handle);
    return opened;
  });
}

double MedianSlideOpenSeconds(const std::string& path) {
  return MedianSeconds([&] {
    std::unique_ptr<strata::Slide> slide;
    return strata::Slide::Open(path, &slide).ok();
  });
}

// The median of three timed passes of each reader, alternating: one pass
// alone is at the mercy of the scheduler and of what the pass before left in
// the CPU caches. The bytes delivered come back in *bytes.
std::vector<double> AlternatingMedians(const std::vector<std::function<std::int64_t()>>& readers,
                                       std::vector<std::int64_t>* bytes) {
  std::vector<std::vector<double>> runs(readers.size());
  bytes->assign(readers.size(), 0);
  for (int run = 0; run < 3; ++run) {
    for (std::size_t r = 0; r < readers.size(); ++r) {
      const auto start = Clock::now();
      (*bytes)[r] = readers[r]();
      runs[r].push_back(SecondsSince(start));
    }
  }
  std::vector<double> medians;
  for (std::vector<double>& times : runs) {
    std::sort(times.begin(), times.end());
    medians.push_back(times[1]);
  }
  return medians;
}

// True when the library hands out the bytes that lie at the ranges: the
// ranges file belongs to this very slide.
bool RangesMatch(const strata::Slide& slide, std::FILE* file, const std::vector<TileRange>& tiles) {
  const strata::SlideLevel& base = slide.Levels().front();
  strata::Tile tile;
  std::vector<unsigned char> direct;
  for (std::size_t i = 0; i < tiles.size(); i += std::max<std::size_t>(1, tiles.size() / 8)) {
    const TileRange& range = tiles[i];
    direct.resize(static_cast<std::size_t>(range.length));
    std::size_t delivered = 0;
    if (!slide.ReadTile(0, range.x / base.tileWidth, range.y / base.tileHeight, &tile).ok() ||
        !strata::system::ReadAt(file, range.position, direct.data(), direct.size(), delivered) ||
        tile.bytes != direct) {
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  strata::bench::SharedSlideSettings settings;
  settings.count = 10000;
  if (!strata::bench::ParseSharedSlideSettings(argc, argv, "--tiles", kUsage, &settings)) return 2;
  const std::string path = SharedBenchSlide(settings.dir, settings.width, settings.height);
  if (path.empty()) return 1;

  IMAGE_INFO_STRUCT handle{};
  std::unique_ptr<strata::Slide> slide;
  int height = 0, width = 0, scanScale = 0, blockSize = 0;
  float spendTime = 0, resolution = 0;
  double scanTime = 0;
  if (!InitImageFileFunc(&handle, path.c_str()) ||
      !GetHeaderInfoFunc(handle, &height, &width, &scanScale, &spendTime, &scanTime, &resolution,
                         &blockSize) ||
      !strata::Slide::Open(path, &slide).ok()) {
    std::fprintf(stderr, "cannot open %s\n", path.c_str());
    UnInitImageFileFunc(&handle);
    return 1;
  }
  const std::vector<TileRange> tiles = strata::bench::ReadTileRanges(path);
  strata::system::OwnedStream file(strata::system::OpenStream(path.c_str(), "rb"));
  const strata::SlideLevel& base = slide->Levels().front();
  if (tiles.empty() || file == nullptr || base.tileWidth <= 0 || base.tileHeight <= 0 ||
      !RangesMatch(*slide, file.get(), tiles)) {
    std::fprintf(stderr, "no base-level tile ranges that match the slide in %s (remove %s)\n",
                 strata::bench::TileRangesPath(path).c_str(), path.c_str());
    UnInitImageFileFunc(&handle);
    return 1;
  }
  const float scale = static_cast<float>(scanScale);
  const int left = (settings.width / 2 / 256) * 256;
  const int top = (settings.height / 2 / 256) * 256;
  std::printf("full open:                 %8.3f ms (median of 5)\n",
              1e3 * MedianOpenSeconds(path, false, 0, 0, 0));
  std::printf("Slide::Open:               %8.3f ms (median of 5)\n",
              1e3 * MedianSlideOpenSeconds(path));
  std::printf("block open (4096 x 4096):  %8.3f ms (median of 5)\n",
              1e3 * MedianOpenSeconds(path, true, left, top, scale));

  std::mt19937 random(12345);
  std::uniform_int_distribution<std::size_t> pick(0, tiles.size() - 1);
  std::vector<TileRange> sample;
  for (int i = 0; i < settings.count; ++i) sample.push_back(tiles[pick(random)]);

  std::vector<unsigned char> storage(4 << 20);
  const auto readDirect = [&] {
    std::int64_t total = 0;
    for (const TileRange& tile : sample) {
      std::size_t delivered = 0;
      strata::system::ReadAt(file.get(), tile.position, storage.data(),
                             static_cast<std::size_t>(tile.length), delivered);
      total += static_cast<std::int64_t>(delivered);
    }
    return total;
  };
  const auto readExports = [&] {
    std::int64_t total = 0;
    for (const TileRange& tile : sample) {
      unsigned char* buffer = storage.data();
      int length = 0;
      GetImageStreamFunc(&handle, scale, tile.x, tile.y, &length, &buffer);
      total += length;
    }
    return total;
  };
  const auto readSlide = [&] {
    std::int64_t total = 0;
    strata::Tile stored;
    for (const TileRange& tile : sample) {
      if (slide->ReadTile(0, tile.x / base.tileWidth, tile.y / base.tileHeight, &stored).ok()) {
        total += static_cast<std::int64_t>(stored.bytes.size());
      }
    }
    return total;
  };
  // All timed passes read the same ranges; one untimed pass first puts them
  // in the page cache so that none pays for the disk.
  readDirect();
  std::vector<std::int64_t> bytes;
  const std::vector<double> seconds = AlternatingMedians({readExports, readSlide, readDirect}, &bytes);
  UnInitImageFileFunc(&handle);
  const double exportSeconds = seconds[0];
  const double slideSeconds = seconds[1];
  const double directSeconds = seconds[2];

  std::printf("GetImageStreamFunc:        %8.0f tiles/s (%d tiles, %.1f MB)\n",
              settings.count / exportSeconds, settings.count, static_cast<double>(bytes[0]) / 1e6);
  std::printf("Slide::ReadTile:           %8.0f tiles/s (%.1f MB)\n", settings.count / slideSeconds,
              static_cast<double>(bytes[1]) / 1e6);
  std::printf("pread of the same ranges:  %8.0f tiles/s (%.1f MB)\n",
              settings.count / directSeconds, static_cast<double>(bytes[2]) / 1e6);
  std::printf("library / pread time:      %8.2f (medians of 3 alternating passes)\n",
              exportSeconds / directSeconds);
  std::printf("Slide::ReadTile / pread:   %8.2f\n", slideSeconds / directSeconds);
  for (std::size_t reader = 0; reader < 2; ++reader) {
    if (bytes[reader] != bytes[2]) {
      std::fprintf(stderr, "warning: the library delivered %lld bytes, the file %lld\n",
                   static_cast<long long>(bytes[reader]), static_cast<long long>(bytes[2]));
    }
  }
  return 0;
}
