// Open and tile-read speed on a large writer-made slide.
//
// Writes (once; later runs reuse it) a 100,000 x 80,000 synthetic slide,
// then measures:
//   - a full open (InitImageFileFunc: header, sections, whole tile index),
//   - a block open of a 4096 x 4096 region (InitImageFileFuncAsBlock),
//   - 10,000 random base-level tiles through GetImageStreamFunc,
//   - reading the same byte ranges straight from the file,
// and prints the ratio of the last two (the library's cost per tile; the
// medians of three alternating passes over warm ranges).
//
// usage: open_tiles_bench [--dir DIR] [--width W] [--height H] [--tiles N]
// DIR defaults to $STRATA_BENCH_DIR, else /tmp/strata-bench.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "strata/platform/file_io.h"
#include "strata/strata.h"
#include "strata/ztx/tile_info.h"
#include "strata/ztx/ztx_data_file.h"
#include "strata/ztx/ztx_header.h"
#include "strata/ztx/ztx_writer.h"
#include "tools/synthetic_tissue.h"

namespace {

using strata::bench::Clock;
using strata::bench::SecondsSince;
using strata::bench::SharedBenchSlide;

constexpr const char* kUsage = "open_tiles_bench [--dir DIR] [--width W] [--height H] [--tiles N]";

struct TileRange {
  float scale;
  int x;
  int y;
  std::int64_t position;
  int length;
};

// Base-level tiles with their absolute byte ranges, from a fully opened slide.
std::vector<TileRange> BaseLevelTiles(IMAGE_INFO_STRUCT& handle) {
  std::vector<TileRange> tiles;
  auto* slide = dynamic_cast<CZTXDataFile*>(handle.slide);
  if (slide == nullptr || slide->GetZtxHeader() == nullptr) return tiles;
  const std::int64_t indexOffset = slide->GetZtxHeader()->GetIndexOffset();
  const float scanScale = static_cast<float>(slide->GetZtxHeader()->GetScanScale());
  for (const TileInfo& tile : slide->Tiles()) {
    if (tile.scale != scanScale) continue;
    tiles.push_back({tile.scale, tile.x, tile.y, indexOffset + tile.offset, tile.length});
  }
  return tiles;
}

double MedianOpenSeconds(const std::string& path, bool block, int left, int top, float scale) {
  std::vector<double> times;
  for (int run = 0; run < 5; ++run) {
    IMAGE_INFO_STRUCT handle{};
    const auto start = Clock::now();
    const bool opened = block ? InitImageFileFuncAsBlock(&handle, path.c_str(), left, top,
                                                         left + 4096, top + 4096, scale)
                              : InitImageFileFunc(&handle, path.c_str());
    times.push_back(SecondsSince(start));
    UnInitImageFileFunc(&handle);
    if (!opened) return -1.0;
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  strata::bench::SharedSlideSettings settings;
  settings.count = 10000;
  if (!strata::bench::ParseSharedSlideSettings(argc, argv, "--tiles", kUsage, &settings)) return 2;
  const std::string path = SharedBenchSlide(settings.dir, settings.width, settings.height);
  if (path.empty()) return 1;

  IMAGE_INFO_STRUCT handle{};
  if (!InitImageFileFunc(&handle, path.c_str())) {
    std::fprintf(stderr, "cannot open %s\n", path.c_str());
    return 1;
  }
  const std::vector<TileRange> tiles = BaseLevelTiles(handle);
  if (tiles.empty()) {
    std::fprintf(stderr, "no base-level tiles found\n");
    UnInitImageFileFunc(&handle);
    return 1;
  }
  const float scanScale = tiles.front().scale;
  const int left = (settings.width / 2 / 256) * 256;
  const int top = (settings.height / 2 / 256) * 256;
  std::printf("full open:                 %8.3f ms (median of 5)\n",
              1e3 * MedianOpenSeconds(path, false, 0, 0, 0));
  std::printf("block open (4096 x 4096):  %8.3f ms (median of 5)\n",
              1e3 * MedianOpenSeconds(path, true, left, top, scanScale));

  std::mt19937 random(12345);
  std::uniform_int_distribution<std::size_t> pick(0, tiles.size() - 1);
  std::vector<TileRange> sample;
  for (int i = 0; i < settings.count; ++i) sample.push_back(tiles[pick(random)]);

  strata::platform::OwnedStream file(strata::platform::OpenStream(path.c_str(), "rb"));
  std::vector<unsigned char> storage(4 << 20);
  // Both timed passes read the same ranges; one untimed pass first puts them
  // in the page cache so that neither pays for the disk.
  const auto readDirect = [&] {
    std::int64_t total = 0;
    for (const TileRange& tile : sample) {
      std::size_t delivered = 0;
      strata::platform::ReadAt(file.get(), tile.position, storage.data(),
                               static_cast<std::size_t>(tile.length), delivered);
      total += static_cast<std::int64_t>(delivered);
    }
    return total;
  };
  readDirect();

  const auto readThroughLibrary = [&] {
    std::int64_t total = 0;
    for (const TileRange& tile : sample) {
      unsigned char* buffer = storage.data();
      int length = 0;
      GetImageStreamFunc(&handle, tile.scale, tile.x, tile.y, &length, &buffer);
      total += length;
    }
    return total;
  };
  // Alternating passes, the median of each: one pass alone is at the mercy
  // of the scheduler and of what the pass before left in the CPU caches.
  std::vector<double> libraryRuns;
  std::vector<double> directRuns;
  std::int64_t bytes = 0;
  std::int64_t directBytes = 0;
  for (int run = 0; run < 3; ++run) {
    auto start = Clock::now();
    bytes = readThroughLibrary();
    libraryRuns.push_back(SecondsSince(start));
    start = Clock::now();
    directBytes = readDirect();
    directRuns.push_back(SecondsSince(start));
  }
  UnInitImageFileFunc(&handle);
  std::sort(libraryRuns.begin(), libraryRuns.end());
  std::sort(directRuns.begin(), directRuns.end());
  const double librarySeconds = libraryRuns[1];
  const double directSeconds = directRuns[1];

  std::printf("GetImageStreamFunc:        %8.0f tiles/s (%d tiles, %.1f MB)\n",
              settings.count / librarySeconds, settings.count, static_cast<double>(bytes) / 1e6);
  std::printf("pread of the same ranges:  %8.0f tiles/s (%.1f MB)\n",
              settings.count / directSeconds, static_cast<double>(directBytes) / 1e6);
  std::printf("library / pread time:      %8.2f (medians of 3 alternating passes)\n",
              librarySeconds / directSeconds);
  if (bytes != directBytes) {
    std::fprintf(stderr, "warning: the library delivered %lld bytes, the file %lld\n",
                 static_cast<long long>(bytes), static_cast<long long>(directBytes));
  }
  return 0;
}
