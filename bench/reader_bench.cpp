// Region reading speed of the Python module's reader core (lumora::reader).
//
// On a large writer-made slide (written once into the bench folder and reused,
// the same file open_tiles_bench uses) it times ReadRoi for 512, 2048 and 4096
// pixel squares at the scan scale and at half of it, in whole and block mode,
// and in the same run the plain cost of the work underneath: fetching the
// covering tiles and decoding them with cv::imdecode on 4 threads. The ratio
// of the two rates shows what composing, scaling and copying add (target:
// 0.8 or more in whole mode at the scan scale).
//
// usage: reader_bench [--dir DIR] [--width W] [--height H] [--repeat N]
// DIR defaults to $STRATA_BENCH_DIR, else /tmp/strata-bench. The module's
// reader loads libStrata.so from the working directory or from this
// program's folder.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "bench/bench_support.h"
#include "strata/strata.h"
#include "ztxreader/ztx_reader.h"

namespace {

using strata::bench::Clock;
using strata::bench::SecondsSince;
using strata::bench::SharedBenchSlide;

constexpr const char* kUsage = "reader_bench [--dir DIR] [--width W] [--height H] [--repeat N]";

struct Square {
  int x;
  int y;
  int edge;
};

// Median seconds of ReadRoi over `repeat` runs (the first run warms caches).
double TimeReadRoi(lumora::reader& reader, const Square& square, double scale, int repeat) {
  std::vector<double> times;
  for (int run = 0; run <= repeat; ++run) {
    unsigned char* data = nullptr;
    int size = 0;
    const auto start = Clock::now();
    reader.ReadRoi(square.x, square.y, square.edge, square.edge, scale, &data, &size);
    if (run > 0) times.push_back(SecondsSince(start));
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

// The same work without the reader: fetch every scan-level tile that the
// full-resolution region touches and decode them on 4 threads.
double TimeFetchAndDecode(IMAGE_INFO_STRUCT& handle, float scanScale, int left, int top, int edge,
                          int repeat) {
  const int block = 256;
  std::vector<std::pair<int, int>> origins;
  for (int y = top / block * block; y < top + edge; y += block) {
    for (int x = left / block * block; x < left + edge; x += block) origins.emplace_back(x, y);
  }
  std::vector<double> times;
  for (int run = 0; run <= repeat; ++run) {
    const auto start = Clock::now();
#pragma omp parallel num_threads(4)
    {
      std::vector<unsigned char> buffer(196608 * 2);
      cv::Mat tile;
#pragma omp for schedule(static)
      for (std::size_t i = 0; i < origins.size(); ++i) {
        int length = 0;
        unsigned char* target = buffer.data();
        GetImageStreamFunc(&handle, scanScale, origins[i].first, origins[i].second, &length,
                           &target);
        if (length > 0) {
          cv::imdecode(cv::Mat(1, length, CV_8U, buffer.data()), cv::IMREAD_COLOR, &tile);
        }
      }
    }
    if (run > 0) times.push_back(SecondsSince(start));
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  strata::bench::SharedSlideSettings settings;
  settings.count = 5;
  if (!strata::bench::ParseSharedSlideSettings(argc, argv, "--repeat", kUsage, &settings)) return 2;
  const std::string path = SharedBenchSlide(settings.dir, settings.width, settings.height);
  if (path.empty()) return 1;

  IMAGE_INFO_STRUCT handle{};
  int height = 0, width = 0, scanScale = 0, blockSize = 0;
  float spendTime = 0, resolution = 0;
  double scanTime = 0;
  if (!InitImageFileFunc(&handle, path.c_str()) ||
      !GetHeaderInfoFunc(handle, &height, &width, &scanScale, &spendTime, &scanTime, &resolution,
                         &blockSize)) {
    std::fprintf(stderr, "cannot open %s\n", path.c_str());
    return 1;
  }

  {
    // Warm the page cache, the allocator and the thread team before timing.
    lumora::reader warmUp;
    if (!warmUp.ReadInfo(path, 0.0, true)) return 1;
    TimeReadRoi(warmUp, Square{width / 2 - 2048, height / 2 - 2048, 4096}, scanScale, 1);
    TimeFetchAndDecode(handle, static_cast<float>(scanScale), width / 2 - 2048, height / 2 - 2048,
                       4096, 1);
  }
  std::printf("%-6s %-6s %6s %12s %12s %12s %7s\n", "mode", "scale", "edge", "ReadRoi MP/s",
              "source MP/s", "decode MP/s", "ratio");
  for (const bool whole : {true, false}) {
    lumora::reader reader;
    if (!reader.ReadInfo(path, 0.0, whole)) return 1;
    for (const int divisor : {1, 2}) {
      const double scale = static_cast<double>(scanScale) / divisor;
      for (const int edge : {512, 2048, 4096}) {
        // A region near the middle, not aligned to the tile grid.
        const int sourceEdge = edge * divisor;
        const int left = std::max(0, width / 2 - sourceEdge / 2 + 77);
        const int top = std::max(0, height / 2 - sourceEdge / 2 + 33);
        const Square square{left / divisor, top / divisor, edge};
        const double roi = TimeReadRoi(reader, square, scale, settings.count);
        const double decode = TimeFetchAndDecode(handle, static_cast<float>(scanScale), left, top,
                                                 sourceEdge, settings.count);
        const double output = static_cast<double>(edge) * edge / 1e6;
        const double source = static_cast<double>(sourceEdge) * sourceEdge / 1e6;
        std::printf("%-6s %-6g %6d %12.1f %12.1f %12.1f %7.2f\n", whole ? "whole" : "block", scale,
                    edge, output / roi, source / roi, source / decode, decode / roi);
      }
    }
  }
  UnInitImageFileFunc(&handle);
  std::printf(
      "ratio: fetch-and-decode time / ReadRoi time for the same tiles "
      "(target >= 0.8 in whole mode at the scan scale)\n");
  return 0;
}
