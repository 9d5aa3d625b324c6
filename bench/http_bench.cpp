// Reading a slide over HTTP next to reading it locally, before and after
// connection reuse, prefetching and the block cache. The writer-made slide
// the other benches share (100,000 x 80,000 by default, written once) is
// served by a private loopback nginx (keep-alive on) and, through a latency
// proxy, as if from a server 20 ms away. For the local file, HTTP on
// loopback and HTTP through the proxy, the bench prints the requests (as
// nginx logged them) and the time of a full open and a block open (medians of three), a 2048 x 2048
// region and 100 random 1024 x 1024 regions, "before" (STRATA_HTTP_CACHE_MB=0, STRATA_HTTP_REUSE=0:
// one fresh connection per read, nothing fetched ahead) and "after" (the
// defaults); then four threads' tile rate on one handle, local against
// loopback HTTP; then the field's route over the same proxy: tifffile on an
// fsspec HTTP file reading the same regions of a pyramidal JPEG TIFF holding
// the slide's own tiles (bench/tifffile_regions.py; the TIFF is written once
// beside the slide).
//
//   http_bench [--dir DIR] [--width W] [--height H] [--rounds N] [--threads T]
//              [--delay MS] [--regions N] [--tiles N]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "bench/pyramid_tiff_writer.h"
#include "strata/slide/system.h"
#include "strata/strata.h"
#include "tools/loopback/latency_proxy.h"
#include "tools/loopback/nginx_server.h"

namespace {

using strata::bench::Clock;
using strata::bench::PositiveOption;
using strata::bench::SecondsSince;
using strata::loopback::LatencyProxy;
using strata::loopback::NginxServer;

struct BenchOptions {
  std::string dir;
  int width = 100000;
  int height = 80000;
  int rounds = 2;
  int threads = 4;
  int delayMs = 20;
  int regions = 100;
  int tiles = 40000;
  float scanScale = 40.0f;  // the shared slide's; regions are read at the base level
};

constexpr const char* kUsage =
    "http_bench [--dir DIR] [--width W] [--height H] [--rounds N] [--threads T] [--delay MS] "
    "[--regions N] [--tiles N]   (width and height at least 2048)";

bool ParseOptions(int argc, char** argv, BenchOptions& options) {
  strata::tools::Arguments arguments;
  if (!strata::bench::ParseBenchArguments(argc, argv,
                                          {"--dir", "--width", "--height", "--rounds", "--threads",
                                           "--delay", "--regions", "--tiles"},
                                          kUsage, &arguments)) {
    return false;
  }
  options.dir = strata::bench::BenchDir(arguments);
  const bool parsed =
      PositiveOption(arguments, "--width", options.width, kUsage, &options.width) &&
      PositiveOption(arguments, "--height", options.height, kUsage, &options.height) &&
      PositiveOption(arguments, "--rounds", options.rounds, kUsage, &options.rounds) &&
      PositiveOption(arguments, "--threads", options.threads, kUsage, &options.threads) &&
      PositiveOption(arguments, "--delay", options.delayMs, kUsage, &options.delayMs) &&
      PositiveOption(arguments, "--regions", options.regions, kUsage, &options.regions) &&
      PositiveOption(arguments, "--tiles", options.tiles, kUsage, &options.tiles);
  if (parsed && (options.width < 2048 || options.height < 2048)) {
    std::fprintf(stderr, "usage: %s\n", kUsage);
    return false;
  }
  return parsed;
}

// The first `count` base-level tiles the writer stored, in the order it
// stored them.
std::vector<strata::bench::TileRange> IndexTiles(const std::string& path, int count) {
  std::vector<strata::bench::TileRange> tiles = strata::bench::ReadTileRanges(path);
  if (static_cast<int>(tiles.size()) > count) tiles.resize(static_cast<std::size_t>(count));
  return tiles;
}

// "before": every read one request on a fresh connection, nothing ahead.
void UseSettings(bool before) {
  for (const char* name : {"STRATA_HTTP_CACHE_MB", "STRATA_HTTP_REUSE"}) {
    if (before) {
      strata::system::SetEnvironmentValue(name, "0");
    } else {
      strata::system::UnsetEnvironmentValue(name);
    }
  }
}

// Requests the server has answered so far (every route's requests reach the
// one nginx; the proxy only delays them); null for the local file.
using RequestCounter = const NginxServer*;

long RequestsSoFar(RequestCounter server) {
  return server == nullptr ? 0 : server->SettledAccessLogLines();
}

struct Cost {
  double seconds = 0.0;
  long requests = 0;
  bool ok = true;
};

struct Region {
  int x, y, size;
};

// The median of three opens (one open is at the mercy of the scheduler);
// the requests of one.
Cost TimeOpen(const std::string& path, bool block, const BenchOptions& options,
              RequestCounter server) {
  const int left = options.width / 2 - 1024;
  const int top = options.height / 2 - 1024;
  std::vector<Cost> runs;
  for (int run = 0; run < 3; ++run) {
    Cost cost;
    IMAGE_INFO_STRUCT handle{};
    const long before = RequestsSoFar(server);
    const auto start = Clock::now();
    cost.ok = block ? InitImageFileFuncAsBlock(&handle, path.c_str(), left, top, left + 2048,
                                               top + 2048, options.scanScale)
                    : InitImageFileFunc(&handle, path.c_str());
    cost.seconds = SecondsSince(start);
    cost.requests = RequestsSoFar(server) - before;
    UnInitImageFileFunc(&handle);
    runs.push_back(cost);
  }
  std::sort(runs.begin(), runs.end(),
            [](const Cost& a, const Cost& b) { return a.seconds < b.seconds; });
  runs[1].ok = std::all_of(runs.begin(), runs.end(), [](const Cost& c) { return c.ok; });
  return runs[1];
}

Cost TimeRegions(IMAGE_INFO_STRUCT& handle, const std::vector<Region>& regions, float scale,
                 RequestCounter server) {
  Cost cost;
  const long before = RequestsSoFar(server);
  const auto start = Clock::now();
  for (const Region& region : regions) {
    unsigned char* out = nullptr;
    int length = 0;
    if (!GetImageDataRoiFunc(handle, scale, region.x, region.y, region.size, region.size, &out,
                             &length, false)) {
      cost.ok = false;
    }
    DeleteImageDataFunc(out);
  }
  cost.seconds = SecondsSince(start);
  cost.requests = RequestsSoFar(server) - before;
  return cost;
}

struct RouteCosts {
  Cost fullOpen, blockOpen, region, randomRegions;
};

RouteCosts MeasureRoute(const std::string& path, const BenchOptions& options,
                        const std::vector<Region>& big, const std::vector<Region>& random,
                        RequestCounter server) {
  RouteCosts costs;
  costs.fullOpen = TimeOpen(path, false, options, server);
  costs.blockOpen = TimeOpen(path, true, options, server);
  IMAGE_INFO_STRUCT handle{};
  if (!InitImageFileFunc(&handle, path.c_str())) {
    costs.region.ok = costs.randomRegions.ok = false;
    return costs;
  }
  costs.region = TimeRegions(handle, big, options.scanScale, server);
  costs.randomRegions = TimeRegions(handle, random, options.scanScale, server);
  UnInitImageFileFunc(&handle);
  return costs;
}

void PrintCost(const char* route, const char* what, const Cost& cost, bool local) {
  char requests[32] = "-";
  if (!local) std::snprintf(requests, sizeof requests, "%ld", cost.requests);
  std::printf("  %-28s %-26s %10.1f ms  %8s requests%s\n", route, what, 1e3 * cost.seconds,
              requests, cost.ok ? "" : "  (FAILED)");
}

void PrintRoute(const char* route, const RouteCosts& costs, bool local, int regionCount) {
  char randomName[64];
  std::snprintf(randomName, sizeof randomName, "%d random 1024^2 regions", regionCount);
  PrintCost(route, "full open", costs.fullOpen, local);
  PrintCost(route, "block open (2048^2)", costs.blockOpen, local);
  PrintCost(route, "2048^2 region", costs.region, local);
  PrintCost(route, randomName, costs.randomRegions, local);
}

struct Rate {
  double tilesPerSecond = 0.0;
  long tiles = 0;
  long failures = 0;
};

// Every thread walks its share of the tiles, `rounds` times, on one handle.
Rate MeasureTiles(const std::string& path, const std::vector<strata::bench::TileRange>& tiles,
                  const BenchOptions& options) {
  IMAGE_INFO_STRUCT handle{};
  Rate rate;
  if (!InitImageFileFunc(&handle, path.c_str())) {
    rate.failures = 1;
    return rate;
  }
  std::atomic<long> done{0};
  std::atomic<long> failed{0};
  const auto start = Clock::now();
  std::vector<std::thread> threads;
  for (int t = 0; t < options.threads; ++t) {
    threads.emplace_back([&, t] {
      std::vector<unsigned char> buffer;
      for (int round = 0; round < options.rounds; ++round) {
        for (std::size_t i = static_cast<std::size_t>(t); i < tiles.size();
             i += static_cast<std::size_t>(options.threads)) {
          const strata::bench::TileRange& tile = tiles[i];
          buffer.resize(static_cast<std::size_t>(tile.length) + 1);
          unsigned char* out = buffer.data();
          int length = 0;
          GetImageStreamFunc(&handle, options.scanScale, tile.x, tile.y, &length, &out);
          if (length != tile.length) ++failed;
          ++done;
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  const double seconds = SecondsSince(start);
  UnInitImageFileFunc(&handle);
  rate.tiles = done;
  rate.failures = failed;
  rate.tilesPerSecond = seconds > 0 ? static_cast<double>(done) / seconds : 0.0;
  return rate;
}

void PrintRate(const char* what, const Rate& rate) {
  std::printf("  %-34s %10.0f tiles/s  (%ld tiles, %ld failed)\n", what, rate.tilesPerSecond,
              rate.tiles, rate.failures);
}

// The field's route: runs bench/tifffile_regions.py on the regions; the
// open time and each region's seconds, or empty when it could not run.
std::vector<double> RunTifffileRoute(const std::string& url, const std::vector<Region>& regions,
                                     const std::string& folder, double& openSeconds) {
  const std::string list = folder + "/regions.txt";
  {
    std::ofstream out(list);
    for (const Region& region : regions) {
      out << region.x << ' ' << region.y << ' ' << region.size << ' ' << region.size << '\n';
    }
  }
  const std::string script = std::string(STRATA_BENCH_SOURCE_DIR) + "/tifffile_regions.py";
  const std::string command = "/usr/bin/python3 '" + script + "' '" + url + "' '" + list + "' 2>&1";
  std::vector<double> seconds;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return seconds;
  char line[256];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    double value = 0.0;
    if (std::sscanf(line, "open %lf", &value) == 1) {
      openSeconds = value;
    } else if (std::sscanf(line, "%lf", &value) == 1) {
      seconds.push_back(value);
    } else {
      std::fputs(line, stderr);  // the script's complaint
    }
  }
  if (pclose(pipe) != 0) seconds.clear();
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  BenchOptions options;
  if (!ParseOptions(argc, argv, options)) return 2;
  const std::string localPath =
      strata::bench::SharedBenchSlide(options.dir, options.width, options.height);
  if (localPath.empty()) return 1;
  const std::string tiffPath = localPath.substr(0, localPath.size() - 4) + ".tif";
  std::string tiffError;
  const bool tiffWritten = strata::bench::EnsurePyramidTiff(localPath, tiffPath, &tiffError);
  if (!tiffWritten) std::fprintf(stderr, "no TIFF for the field's route: %s\n", tiffError.c_str());
  // Keep-alive on, as any production server has it.
  NginxServer server(options.dir, 60, 1000000);
  if (!server.started()) {
    std::fprintf(stderr, "nginx did not start: %s\n", server.failure().c_str());
    return 1;
  }
  LatencyProxy proxy(server.port(), std::chrono::milliseconds(options.delayMs));
  const std::string fileName = localPath.substr(localPath.rfind('/') + 1);
  const std::string tiffName = tiffPath.substr(tiffPath.rfind('/') + 1);
  const std::vector<strata::bench::TileRange> tiles = IndexTiles(localPath, options.tiles);
  std::printf("TIFF: %s (%.2f GB); proxy delay %d ms per request\n", tiffPath.c_str(),
              tiffWritten ? static_cast<double>(strata::system::FileSize(tiffPath)) / 1e9 : 0.0,
              options.delayMs);

  std::mt19937 random(2024);
  std::uniform_int_distribution<int> pickX(0, options.width - 1024);
  std::uniform_int_distribution<int> pickY(0, options.height - 1024);
  const std::vector<Region> big = {{options.width / 2 - 1024, options.height / 2 - 1024, 2048}};
  std::vector<Region> regions;
  for (int i = 0; i < options.regions; ++i) regions.push_back({pickX(random), pickY(random), 1024});

  const std::string loopbackUrl = server.Url(fileName);
  const std::string proxyUrl = proxy.Url("/" + fileName);
  UseSettings(false);
  const RouteCosts local = MeasureRoute(localPath, options, big, regions, nullptr);
  UseSettings(true);
  const RouteCosts loopbackBefore = MeasureRoute(loopbackUrl, options, big, regions, &server);
  const RouteCosts proxyBefore = MeasureRoute(proxyUrl, options, big, regions, &server);
  UseSettings(false);
  const RouteCosts loopbackAfter = MeasureRoute(loopbackUrl, options, big, regions, &server);
  const RouteCosts proxyAfter = MeasureRoute(proxyUrl, options, big, regions, &server);

  std::printf("\nrequests and time:\n");
  PrintRoute("local file", local, true, options.regions);
  PrintRoute("HTTP loopback, before", loopbackBefore, false, options.regions);
  PrintRoute("HTTP loopback, after", loopbackAfter, false, options.regions);
  char proxyBeforeName[64];
  char proxyAfterName[64];
  std::snprintf(proxyBeforeName, sizeof proxyBeforeName, "HTTP %d ms proxy, before",
                options.delayMs);
  std::snprintf(proxyAfterName, sizeof proxyAfterName, "HTTP %d ms proxy, after", options.delayMs);
  PrintRoute(proxyBeforeName, proxyBefore, false, options.regions);
  PrintRoute(proxyAfterName, proxyAfter, false, options.regions);
  std::printf("2048^2 region, proxy after / local:   %6.2f (target <= 3)\n",
              proxyAfter.region.seconds / local.region.seconds);
  std::printf("2048^2 region, proxy before / after:  %6.2f\n",
              proxyBefore.region.seconds / proxyAfter.region.seconds);
  std::printf("random regions, proxy before / after: %6.2f\n",
              proxyBefore.randomRegions.seconds / proxyAfter.randomRegions.seconds);

  std::printf("\n%d threads, %d rounds over the first %zu base-level tiles of the index, one handle:\n",
              options.threads, options.rounds, tiles.size());
  const Rate localRate = MeasureTiles(localPath, tiles, options);
  UseSettings(true);
  const Rate beforeRate = MeasureTiles(loopbackUrl, tiles, options);
  UseSettings(false);
  const Rate afterRate = MeasureTiles(loopbackUrl, tiles, options);
  PrintRate("local file", localRate);
  PrintRate("HTTP loopback, before", beforeRate);
  PrintRate("HTTP loopback, after", afterRate);
  if (localRate.tilesPerSecond > 0) {
    std::printf("HTTP / local, before: %.3f   after: %.3f (target >= 0.3)\n",
                beforeRate.tilesPerSecond / localRate.tilesPerSecond,
                afterRate.tilesPerSecond / localRate.tilesPerSecond);
  }

  std::printf("\nthe field's route (tifffile over fsspec HTTP, same proxy, same regions):\n");
  std::vector<Region> all = big;
  all.insert(all.end(), regions.begin(), regions.end());
  double tiffOpen = 0.0;
  const int requestsBefore = proxy.RequestCount();
  const std::vector<double> tiff = tiffWritten ? RunTifffileRoute(proxy.Url("/" + tiffName), all,
                                                                  server.DocumentRoot(), tiffOpen)
                                               : std::vector<double>();
  if (tiff.size() != all.size()) {
    std::printf(
        "  could not run (TIFF %s, %zu of %zu regions read; python3-tifffile, -fsspec, "
        "-aiohttp, -zarr, -pil needed)\n",
        tiffWritten ? "written" : "not written", tiff.size(), all.size());
  } else {
    double randomSeconds = 0.0;
    for (std::size_t i = 1; i < tiff.size(); ++i) randomSeconds += tiff[i];
    std::printf("  %-28s %-26s %10.1f ms\n", "tifffile", "open", 1e3 * tiffOpen);
    std::printf("  %-28s %-26s %10.1f ms\n", "tifffile", "2048^2 region", 1e3 * tiff[0]);
    std::printf("  %-28s %-26s %10.1f ms  (%d requests in all)\n", "tifffile",
                "random 1024^2 regions", 1e3 * randomSeconds,
                proxy.RequestCount() - requestsBefore);
    std::printf(
        "tifffile / Strata (proxy, after): open %.2f, 2048^2 region %.2f, random regions "
        "%.2f (target >= 5)\n",
        tiffOpen / proxyAfter.fullOpen.seconds, tiff[0] / proxyAfter.region.seconds,
        randomSeconds / proxyAfter.randomRegions.seconds);
  }
  return localRate.failures == 0 && afterRate.failures == 0 ? 0 : 1;
}
