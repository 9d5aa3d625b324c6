// Reading a slide over HTTP next to reading it locally, before and after
// connection reuse, prefetching and the block cache. One writer-made slide is
// served by a private loopback nginx (keep-alive on) and, through a latency
// proxy, as if from a server 20 ms away. For the local file, HTTP on
// loopback and HTTP through the proxy, the bench prints the requests and the
// time of a full open, a block open, a 2048 x 2048 region and 100 random
// 1024 x 1024 regions, "before" (STRATA_HTTP_CACHE_MB=0, STRATA_HTTP_REUSE=0:
// one fresh connection per read, nothing fetched ahead) and "after" (the
// defaults); then four threads' tile rate on one handle, local against
// loopback HTTP; then the field's route over the same proxy: tifffile on an
// fsspec HTTP file reading the same regions of a pyramidal JPEG TIFF of the
// same pixels (bench/tifffile_regions.py).
//
//   http_bench [--width W] [--height H] [--rounds N] [--threads T]
//              [--delay MS] [--regions N]
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
#include "strata/model/http_file_operation_tool.h"
#include "strata/model/image_buffer.h"
#include "strata/model/image_codec.h"
#include "strata/platform/file_io.h"
#include "strata/strata.h"
#include "strata/ztx/ztx_data_file.h"
#include "strata/ztx/ztx_writer.h"
#include "tools/loopback/latency_proxy.h"
#include "tools/loopback/nginx_server.h"

namespace {

using strata::bench::Clock;
using strata::bench::SecondsSince;
using strata::loopback::LatencyProxy;
using strata::loopback::NginxServer;
using strata::ztx::WrittenTile;

struct BenchOptions {
  int width = 8192;
  int height = 6144;
  int rounds = 2;
  int threads = 4;
  int delayMs = 20;
  int regions = 100;
};

constexpr const char* kUsage =
    "http_bench [--width W] [--height H] [--rounds N] [--threads T] [--delay MS] [--regions N]"
    "   (width and height at least 2048)";

bool ParseOptions(int argc, char** argv, BenchOptions& options) {
  strata::tools::Arguments arguments;
  return strata::bench::ParseBenchArguments(
             argc, argv, {"--width", "--height", "--rounds", "--threads", "--delay", "--regions"},
             kUsage, &arguments) &&
         strata::bench::PositiveOption(arguments, "--width", options.width, kUsage,
                                       &options.width) &&
         strata::bench::PositiveOption(arguments, "--height", options.height, kUsage,
                                       &options.height) &&
         strata::bench::PositiveOption(arguments, "--rounds", options.rounds, kUsage,
                                       &options.rounds) &&
         strata::bench::PositiveOption(arguments, "--threads", options.threads, kUsage,
                                       &options.threads);
}

// Smooth colour ramps with some texture, so that tiles compress like tissue
// rather than like a flat colour.
void FillRows(int width, int top, int rows, unsigned char* rgb) {
  for (int y = 0; y < rows; ++y) {
    unsigned char* row = rgb + static_cast<std::size_t>(y) * width * 3;
    const int py = top + y;
    for (int x = 0; x < width; ++x) {
      const unsigned noise =
          (static_cast<unsigned>(x) * 2654435761u ^ static_cast<unsigned>(py) * 40503u) >> 27;
      row[x * 3 + 0] = static_cast<unsigned char>(180 + ((x / 7) % 60) + noise);
      row[x * 3 + 1] = static_cast<unsigned char>(90 + ((py / 5) % 120));
      row[x * 3 + 2] = static_cast<unsigned char>(150 + (((x + py) / 11) % 90));
    }
  }
}

strata::ztx::StoredImage JpegImage(int width, int height) {
  std::vector<unsigned char> pixels(static_cast<std::size_t>(width) * height * 3);
  FillRows(width, 0, height, pixels.data());
  strata::ztx::StoredImage image;
  unsigned char* stream = nullptr;
  int length = 0;
  strata::EncodeJpeg(pixels.data(), static_cast<int>(pixels.size()), &stream, length, width,
                     height);
  if (stream != nullptr) image.stream.assign(stream, stream + length);
  strata::ReleaseBuffer(stream);
  image.width = width;
  image.height = height;
  return image;
}

bool WriteSlide(const std::string& path, const BenchOptions& options,
                strata::ztx::ZtxLayout& layout) {
  strata::ztx::ZtxWriterOptions writerOptions;
  writerOptions.version = 1.3f;
  writerOptions.label = JpegImage(240, 120);
  writerOptions.preview = JpegImage(320, 160);
  writerOptions.thumbnail = JpegImage(256, 192);
  strata::ztx::ZtxWriter writer(writerOptions);
  std::string error;
  const int width = options.width;
  const bool ok = writer.Write(
      path, options.width, options.height,
      [width](int top, int rows, unsigned char* rgb) {
        FillRows(width, top, rows, rgb);
        return true;
      },
      &error, &layout);
  if (!ok) std::fprintf(stderr, "cannot write the slide: %s\n", error.c_str());
  return ok;
}

// "before": every read one request on a fresh connection, nothing ahead.
void UseSettings(bool before) {
  for (const char* name : {CHTTPFileOperationTool::kCacheSizeVariable,
                           CHTTPFileOperationTool::kConnectionReuseVariable}) {
    if (before) {
      strata::platform::SetEnvironmentValue(name, "0");
    } else {
      strata::platform::UnsetEnvironmentValue(name);
    }
  }
}

// Transfers the handle's reader has made (0 for local files).
long RequestsOf(IMAGE_INFO_STRUCT& handle) {
  auto* slide = dynamic_cast<CZTXDataFile*>(handle.slide);
  auto* reader = slide == nullptr
                     ? nullptr
                     : dynamic_cast<CHTTPFileOperationTool*>(slide->GetFileOperationTool());
  return reader == nullptr ? 0 : static_cast<long>(reader->GetStatistics().requests);
}

struct Cost {
  double seconds = 0.0;
  long requests = 0;
  bool ok = true;
};

struct Region {
  int x, y, size;
};

Cost TimeOpen(const std::string& path, bool block, const BenchOptions& options) {
  Cost cost;
  IMAGE_INFO_STRUCT handle{};
  const int left = options.width / 2 - 1024;
  const int top = options.height / 2 - 1024;
  const auto start = Clock::now();
  cost.ok = block ? InitImageFileFuncAsBlock(&handle, path.c_str(), left, top, left + 2048,
                                             top + 2048, 20.0f)
                  : InitImageFileFunc(&handle, path.c_str());
  cost.seconds = SecondsSince(start);
  cost.requests = RequestsOf(handle);
  UnInitImageFileFunc(&handle);
  return cost;
}

Cost TimeRegions(IMAGE_INFO_STRUCT& handle, const std::vector<Region>& regions) {
  Cost cost;
  const long before = RequestsOf(handle);
  const auto start = Clock::now();
  for (const Region& region : regions) {
    unsigned char* out = nullptr;
    int length = 0;
    if (!GetImageDataRoiFunc(handle, 20.0f, region.x, region.y, region.size, region.size, &out,
                             &length, false)) {
      cost.ok = false;
    }
    DeleteImageDataFunc(out);
  }
  cost.seconds = SecondsSince(start);
  cost.requests = RequestsOf(handle) - before;
  return cost;
}

struct RouteCosts {
  Cost fullOpen, blockOpen, region, randomRegions;
};

RouteCosts MeasureRoute(const std::string& path, const BenchOptions& options,
                        const std::vector<Region>& big, const std::vector<Region>& random) {
  RouteCosts costs;
  costs.fullOpen = TimeOpen(path, false, options);
  costs.blockOpen = TimeOpen(path, true, options);
  IMAGE_INFO_STRUCT handle{};
  if (!InitImageFileFunc(&handle, path.c_str())) {
    costs.region.ok = costs.randomRegions.ok = false;
    return costs;
  }
  costs.region = TimeRegions(handle, big);
  costs.randomRegions = TimeRegions(handle, random);
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

// Every thread walks its share of all tiles, `rounds` times, on one handle.
Rate MeasureTiles(const std::string& path, const std::vector<WrittenTile>& tiles,
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
          const WrittenTile& tile = tiles[i];
          buffer.resize(static_cast<std::size_t>(tile.length) + 1);
          unsigned char* out = buffer.data();
          int length = 0;
          GetImageStreamFunc(&handle, tile.scale, tile.x, tile.y, &length, &out);
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
  // Keep-alive on, as any production server has it.
  NginxServer server(std::string(), 60, 100000);
  if (!server.started()) {
    std::fprintf(stderr, "nginx did not start: %s\n", server.failure().c_str());
    return 1;
  }
  LatencyProxy proxy(server.port(), std::chrono::milliseconds(options.delayMs));
  const std::string fileName = "bench slide.ztx";
  const std::string localPath = server.DocumentRoot() + "/" + fileName;
  strata::ztx::ZtxLayout layout;
  if (!WriteSlide(localPath, options, layout)) return 1;
  const std::string tiffName = "bench-slide.tif";
  const int width = options.width;
  const bool tiffWritten = strata::bench::WritePyramidTiff(
      server.DocumentRoot() + "/" + tiffName, options.width, options.height,
      [width](int top, int rows, unsigned char* rgb) { FillRows(width, top, rows, rgb); });
  std::printf("slide %d x %d, %zu tiles, %lld bytes; proxy delay %d ms per request\n",
              options.width, options.height, layout.tiles.size(),
              static_cast<long long>(layout.fileSize), options.delayMs);

  std::mt19937 random(2024);
  std::uniform_int_distribution<int> pickX(0, options.width - 1024);
  std::uniform_int_distribution<int> pickY(0, options.height - 1024);
  const std::vector<Region> big = {{options.width / 2 - 1024, options.height / 2 - 1024, 2048}};
  std::vector<Region> regions;
  for (int i = 0; i < options.regions; ++i) regions.push_back({pickX(random), pickY(random), 1024});

  const std::string loopbackUrl = server.Url(fileName);
  const std::string proxyUrl = proxy.Url("/" + fileName);
  UseSettings(false);
  const RouteCosts local = MeasureRoute(localPath, options, big, regions);
  UseSettings(true);
  const RouteCosts loopbackBefore = MeasureRoute(loopbackUrl, options, big, regions);
  const RouteCosts proxyBefore = MeasureRoute(proxyUrl, options, big, regions);
  UseSettings(false);
  const RouteCosts loopbackAfter = MeasureRoute(loopbackUrl, options, big, regions);
  const RouteCosts proxyAfter = MeasureRoute(proxyUrl, options, big, regions);

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

  std::printf("\n%d threads, %d rounds over every tile, one handle:\n", options.threads,
              options.rounds);
  const Rate localRate = MeasureTiles(localPath, layout.tiles, options);
  UseSettings(true);
  const Rate beforeRate = MeasureTiles(loopbackUrl, layout.tiles, options);
  UseSettings(false);
  const Rate afterRate = MeasureTiles(loopbackUrl, layout.tiles, options);
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
